#include "platform/com/Enumerators.h"

namespace reel {

VariantEnumerator::VariantEnumerator(std::shared_ptr<const VariantSource> source, ULONG position)
    : source_(std::move(source)), position_(position) {}

HRESULT VariantEnumerator::Next(ULONG count, VARIANT* items, ULONG* fetched) {
  if (fetched) *fetched = 0;
  if (count == 0) return S_OK;
  if (!items) return E_POINTER;
  if (count > 1 && !fetched) return E_INVALIDARG;
  if (!source_ || !source_->count || !source_->item) return E_UNEXPECTED;
  ULONG delivered = 0;
  const ULONG total = source_->count();
  while (delivered < count && position_ < total) {
    VariantInit(&items[delivered]);
    HRESULT result = source_->item(position_, &items[delivered]);
    if (FAILED(result)) {
      // Nothing half-delivered: give back what this call filled.
      for (ULONG index = 0; index <= delivered; ++index) VariantClear(&items[index]);
      return result;
    }
    ++delivered;
    ++position_;
  }
  if (fetched) *fetched = delivered;
  return delivered == count ? S_OK : S_FALSE;
}

HRESULT VariantEnumerator::Skip(ULONG count) {
  if (!source_ || !source_->count) return E_UNEXPECTED;
  const ULONG total = source_->count();
  const ULONG remaining = position_ < total ? total - position_ : 0;
  if (count > remaining) {
    position_ = total;
    return S_FALSE;
  }
  position_ += count;
  return S_OK;
}

HRESULT VariantEnumerator::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT VariantEnumerator::Clone(IEnumVARIANT** copy) {
  if (!copy) return E_POINTER;
  *copy = nullptr;
  ComPtr<VariantEnumerator> clone = MakeComObject<VariantEnumerator>(source_, position_);
  if (!clone) return E_OUTOFMEMORY;
  *copy = clone.Detach();
  return S_OK;
}

HRESULT CreateVariantEnumerator(VariantSource source, IEnumVARIANT** enumerator) {
  if (!enumerator) return E_POINTER;
  *enumerator = nullptr;
  auto shared = std::make_shared<const VariantSource>(std::move(source));
  ComPtr<VariantEnumerator> created = MakeComObject<VariantEnumerator>(std::move(shared), 0u);
  if (!created) return E_OUTOFMEMORY;
  *enumerator = created.Detach();
  return S_OK;
}

HRESULT CreateVariantEnumerator(const std::vector<Variant>& items, IEnumVARIANT** enumerator) {
  auto snapshot = std::make_shared<const std::vector<Variant>>(items);
  VariantSource source;
  source.count = [snapshot] { return static_cast<ULONG>(snapshot->size()); };
  source.item = [snapshot](ULONG index, VARIANT* item) { return VariantCopy(item, &(*snapshot)[index]); };
  return CreateVariantEnumerator(std::move(source), enumerator);
}

}  // namespace reel
