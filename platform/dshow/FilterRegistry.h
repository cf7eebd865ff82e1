// The filters the graph can choose from, by category: their class, friendly
// name, merit and pins with media types (what intelligent connect matches).
// Built-in filters are declared by the platform at start-up; filters of
// other libraries register themselves into the registry (DllRegisterServer),
// under HKCR\CLSID\{category}\Instance\{clsid} with "FriendlyName",
// "CLSID" and "Merit" values and one sub-key per pin below "Pins".
#pragma once

#include <string>
#include <vector>

#include "platform/dshow/DShowTypes.h"

namespace reel {

struct RegisteredPinType {
  GUID majorType = GUID_NULL;  // GUID_NULL matches anything
  GUID subtype = GUID_NULL;
};

struct RegisteredPin {
  std::u16string name;
  bool output = false;
  bool rendered = false;
  bool zero = false;
  bool many = false;
  std::vector<RegisteredPinType> types;
};

struct RegisteredFilter {
  CLSID clsid = GUID_NULL;
  std::u16string name;
  DWORD merit = MERIT_DO_NOT_USE;
  std::vector<RegisteredPin> pins;
  GUID category = CLSID_LegacyAmFilterCategory;
  bool builtin = false;
};

// Declares a built-in filter for this process (not written to the registry).
bool RegisterBuiltinFilter(const RegisteredFilter& filter);
// Writes a filter's registration; replaces an earlier one of the same class
// and category.
HRESULT RegisterFilter(const RegisteredFilter& filter);
HRESULT UnregisterFilter(REFCLSID clsid, REFGUID category = CLSID_LegacyAmFilterCategory);

// Every filter of a category: built-in ones, then the registry's, each
// class once (a registry entry overrides a built-in one), sorted by merit
// from high to low (stable).
std::vector<RegisteredFilter> FiltersInCategory(REFGUID category);

// The categories the system device enumerator knows, with their names.
struct FilterCategory {
  GUID clsid;
  const char* name;
};
const std::vector<FilterCategory>& KnownCategories();

// Whether a registered pin type accepts a concrete major type and subtype.
bool PinTypeMatches(const RegisteredPinType& registered, REFGUID majorType, REFGUID subtype);

}  // namespace reel
