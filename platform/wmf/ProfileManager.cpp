// The profile manager (WMCreateProfileManager): system profiles by index or
// by identifier, empty profiles to fill, and profiles read from or saved as
// profile XML text.
//
// We have one catalogue, of version 8 profiles (SystemProfiles.cpp), and
// version 8 is the manager's starting system profile version. Versions 4, 7
// and 9 are accepted by SetSystemProfileVersion but list no profiles, rather
// than passing the version 8 profiles off as profiles of another version;
// LoadProfileByID finds a catalogue profile whatever the version set.
#include "platform/com/ComObject.h"
#include "platform/wmf/ProfileModel.h"

template <>
struct reel::InterfaceBases<IWMProfileManager2> {
  using type = std::tuple<IWMProfileManager>;
};

namespace reel::wmf {
namespace {

bool KnownVersion(WMT_VERSION version) {
  return version == WMT_VER_4_0 || version == WMT_VER_7_0 || version == WMT_VER_8_0 || version == WMT_VER_9_0;
}

HRESULT HandOut(const ProfileDefinition& definition, IWMProfile** profile) {
  ComPtr<IWMProfile> object = CreateProfileObject(definition);
  if (!object) return E_OUTOFMEMORY;
  *profile = object.Detach();
  return S_OK;
}

class CProfileManager : public ComObject<IWMProfileManager2> {
 public:
  HRESULT CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) override {
    if (!profile) return E_POINTER;
    *profile = nullptr;
    if (!KnownVersion(version)) return E_INVALIDARG;
    ProfileDefinition empty;
    empty.version = version;
    return HandOut(empty, profile);
  }

  HRESULT LoadProfileByID(REFGUID profileId, IWMProfile** profile) override {
    if (!profile) return E_POINTER;
    *profile = nullptr;
    const ProfileDefinition* found = FindSystemProfile(profileId);
    if (!found) return E_INVALIDARG;
    return HandOut(*found, profile);
  }

  HRESULT LoadProfileByData(const WCHAR* profileText, IWMProfile** profile) override {
    if (!profile) return E_POINTER;
    *profile = nullptr;
    if (!profileText) return E_POINTER;
    // Never read further than the longest text we take, terminated or not.
    std::size_t length = 0;
    while (length <= kMaximumProfileText && profileText[length] != 0) ++length;
    if (length > kMaximumProfileText) return NS_E_INVALID_PROFILE;
    ProfileDefinition definition;
    HRESULT result = ParseProfileText(std::u16string_view(profileText, length), &definition);
    if (FAILED(result)) return result;
    return HandOut(definition, profile);
  }

  HRESULT SaveProfile(IWMProfile* profile, WCHAR* profileText, DWORD* textLength) override {
    if (!profile || !textLength) return E_POINTER;
    ProfileDefinition definition;
    HRESULT result = ReadProfile(profile, &definition);
    if (FAILED(result)) return result;
    std::u16string text = ProfileText(definition);
    DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (!profileText) {
      *textLength = needed;
      return S_OK;
    }
    if (*textLength < needed) {
      *textLength = needed;
      return ASF_E_BUFFERTOOSMALL;
    }
    std::copy(text.begin(), text.end(), profileText);
    profileText[text.size()] = 0;
    *textLength = needed;
    return S_OK;
  }

  HRESULT GetSystemProfileCount(DWORD* profileCount) override {
    if (!profileCount) return E_POINTER;
    *profileCount = static_cast<DWORD>(Catalogue().size());
    return S_OK;
  }

  HRESULT LoadSystemProfile(DWORD profileIndex, IWMProfile** profile) override {
    if (!profile) return E_POINTER;
    *profile = nullptr;
    const std::vector<ProfileDefinition>& catalogue = Catalogue();
    if (profileIndex >= catalogue.size()) return E_INVALIDARG;
    return HandOut(catalogue[profileIndex], profile);
  }

  HRESULT GetSystemProfileVersion(WMT_VERSION* version) override {
    if (!version) return E_POINTER;
    *version = version_;
    return S_OK;
  }
  HRESULT SetSystemProfileVersion(WMT_VERSION version) override {
    if (!KnownVersion(version)) return E_INVALIDARG;
    version_ = version;
    return S_OK;
  }

 private:
  const std::vector<ProfileDefinition>& Catalogue() const {
    static const std::vector<ProfileDefinition> none;
    return version_ == WMT_VER_8_0 ? SystemProfiles() : none;
  }

  std::atomic<WMT_VERSION> version_{WMT_VER_8_0};
};

}  // namespace
}  // namespace reel::wmf

HRESULT WMCreateProfileManager(IWMProfileManager** manager) {
  if (!manager) return E_POINTER;
  *manager = nullptr;
  auto object = reel::MakeComObject<reel::wmf::CProfileManager>();
  if (!object) return E_OUTOFMEMORY;
  *manager = object.Detach();
  return S_OK;
}
