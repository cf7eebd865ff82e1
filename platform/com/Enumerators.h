// IEnumVARIANT, the enumerator behind a collection's _NewEnum, over the items
// of any source: a fixed list of variants, or a live collection read through
// two functions.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/com/Automation.h"
#include "platform/com/ComObject.h"

REEL_DEFINE_GUID(IID_IEnumVARIANT, 0x00020404, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IEnumVARIANT : IUnknown {
  // Fills up to count variants; S_OK when all count were delivered, else
  // S_FALSE. fetched may be null only when count is 1.
  virtual HRESULT Next(ULONG count, VARIANT* items, ULONG* fetched) = 0;
  // S_OK when count items were skipped, S_FALSE when the end came first.
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  // A new enumerator at the same position.
  virtual HRESULT Clone(IEnumVARIANT** copy) = 0;
};
template <>
inline constexpr const IID& reel::kIidOf<IEnumVARIANT> = IID_IEnumVARIANT;

namespace reel {

// Where an enumerator reads its items. Item fills a VARIANT the caller owns
// (a copy or a new reference) and may fail, which Next reports.
struct VariantSource {
  std::function<ULONG()> count;
  std::function<HRESULT(ULONG index, VARIANT* item)> item;
  // Held for as long as any enumerator over the source lives (the
  // collection object, typically).
  ComPtr<IUnknown> owner;
};

class VariantEnumerator final : public ComObject<IEnumVARIANT> {
 public:
  VariantEnumerator(std::shared_ptr<const VariantSource> source, ULONG position);

  HRESULT Next(ULONG count, VARIANT* items, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumVARIANT** copy) override;

 private:
  std::shared_ptr<const VariantSource> source_;
  ULONG position_;
};

// An enumerator over a snapshot of items (copied).
HRESULT CreateVariantEnumerator(const std::vector<Variant>& items, IEnumVARIANT** enumerator);
// An enumerator over a live source.
HRESULT CreateVariantEnumerator(VariantSource source, IEnumVARIANT** enumerator);

}  // namespace reel
