#include "platform/dshow/DeviceEnumerator.h"

#include <new>
#include <vector>

#include "platform/com/Bstr.h"
#include "platform/com/ClassTable.h"
#include "platform/com/ComObject.h"
#include "platform/com/Variant.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/win/Strings.h"

namespace {

using reel::ComPtr;

class CDevicePropertyBag : public reel::ComObject<IPropertyBag> {
 public:
  explicit CDevicePropertyBag(const reel::RegisteredFilter& filter) : filter_(filter) {}

  HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (!name || !value) return E_POINTER;
    std::u16string property(name);
    VARIANT found;
    VariantInit(&found);
    if (property == u"FriendlyName") {
      found.vt = VT_BSTR;
      found.bstrVal = SysAllocString(filter_.name.c_str());
    } else if (property == u"CLSID" || property == u"guid") {
      found.vt = VT_BSTR;
      found.bstrVal = reel::BstrFromUtf8(reel::GuidToString(filter_.clsid));
    } else if (property == u"Merit") {
      found.vt = VT_I4;
      found.lVal = static_cast<LONG>(filter_.merit);
    } else {
      return E_INVALIDARG;  // no such property, as a property bag answers
    }
    if (found.vt == VT_BSTR && !found.bstrVal) return E_OUTOFMEMORY;
    // The caller's type, when it names one, is what it gets.
    VARTYPE wanted = value->vt;
    VariantClear(value);
    HRESULT result = S_OK;
    if (wanted == VT_EMPTY || wanted == found.vt) result = VariantCopy(value, &found);
    else result = VariantChangeType(value, &found, 0, wanted);
    VariantClear(&found);
    return result;
  }
  HRESULT Write(LPCOLESTR, VARIANT*) override { return E_ACCESSDENIED; }  // registrations are read-only here

 private:
  reel::RegisteredFilter filter_;
};

class CDeviceMoniker : public reel::ComObject<IMoniker> {
 public:
  CDeviceMoniker(const reel::RegisteredFilter& filter) : filter_(filter) {}

  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
    if (riid == IID_IPersistStream) return GetInterface(static_cast<IPersistStream*>(this), ppv);
    return reel::ComObject<IMoniker>::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_CDeviceMoniker;
    return S_OK;
  }
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(IStream*) override { return E_NOTIMPL; }
  HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }
  HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

  HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** result) override {
    if (!result) return E_POINTER;
    *result = nullptr;
    return CoCreateInstance(filter_.clsid, nullptr, CLSCTX_INPROC_SERVER, riid, result);
  }
  HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** result) override {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (riid != IID_IPropertyBag) return E_NOINTERFACE;
    auto* bag = new (std::nothrow) CDevicePropertyBag(filter_);
    if (!bag) return E_OUTOFMEMORY;
    bag->NonDelegatingAddRef();
    HRESULT answer = bag->NonDelegatingQueryInterface(riid, result);
    bag->NonDelegatingRelease();
    return answer;
  }
  HRESULT Reduce(IBindCtx*, DWORD, IMoniker** toLeft, IMoniker** reduced) override {
    if (toLeft) *toLeft = nullptr;
    if (!reduced) return E_POINTER;
    *reduced = this;
    AddRef();
    return MK_S_REDUCED_TO_SELF;
  }
  HRESULT ComposeWith(IMoniker*, BOOL, IMoniker** composite) override {
    if (composite) *composite = nullptr;
    return E_NOTIMPL;
  }
  HRESULT Enum(BOOL, IEnumMoniker** enumerator) override {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    return S_OK;  // not a composite: nothing to enumerate
  }
  HRESULT IsEqual(IMoniker* other) override {
    if (!other) return E_INVALIDARG;
    ComPtr<IPropertyBag> theirs;
    if (FAILED(other->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&theirs)))) return S_FALSE;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    bool same = SUCCEEDED(theirs->Read(u"CLSID", &value, nullptr)) && value.vt == VT_BSTR &&
                reel::Utf8FromBstr(value.bstrVal) == reel::GuidToString(filter_.clsid);
    VariantClear(&value);
    return same ? S_OK : S_FALSE;
  }
  HRESULT Hash(DWORD* hash) override {
    if (!hash) return E_POINTER;
    *hash = filter_.clsid.Data1;
    return S_OK;
  }
  HRESULT IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return S_FALSE; }
  HRESULT GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
  HRESULT Inverse(IMoniker** inverse) override {
    if (inverse) *inverse = nullptr;
    return E_NOTIMPL;
  }
  HRESULT CommonPrefixWith(IMoniker*, IMoniker** prefix) override {
    if (prefix) *prefix = nullptr;
    return E_NOTIMPL;
  }
  HRESULT RelativePathTo(IMoniker*, IMoniker** path) override {
    if (path) *path = nullptr;
    return E_NOTIMPL;
  }
  // "@device:sw:{category}\{class}", as software filters are named.
  HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
    if (!name) return E_POINTER;
    std::string text = "@device:sw:" + reel::GuidToString(filter_.category) + "\\" + reel::GuidToString(filter_.clsid);
    *name = reel::CoTaskMemWideCopy(reel::Utf8ToUtf16(text));
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG* eaten, IMoniker** result) override {
    if (eaten) *eaten = 0;
    if (result) *result = nullptr;
    return E_NOTIMPL;
  }
  HRESULT IsSystemMoniker(DWORD* kind) override {
    if (!kind) return E_POINTER;
    *kind = 0;  // MKSYS_NONE
    return S_FALSE;
  }

 private:
  static constexpr HRESULT MK_S_REDUCED_TO_SELF = HResultFromHex(0x000401E2);
  reel::RegisteredFilter filter_;
};

class CEnumDeviceMonikers : public reel::ComObject<IEnumMoniker> {
 public:
  CEnumDeviceMonikers(std::vector<ComPtr<IMoniker>> monikers, std::size_t position)
      : monikers_(std::move(monikers)), position_(position) {}
  HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
    if (!monikers) return E_POINTER;
    if (!fetched && count != 1) return E_INVALIDARG;
    ULONG done = 0;
    while (done < count && position_ < monikers_.size()) monikers_[position_++].CopyTo(&monikers[done++]);
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    position_ += count;
    if (position_ > monikers_.size()) {
      position_ = monikers_.size();
      return S_FALSE;
    }
    return S_OK;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumMoniker** enumerator) override {
    if (!enumerator) return E_POINTER;
    auto* copy = new (std::nothrow) CEnumDeviceMonikers(monikers_, position_);
    if (!copy) return E_OUTOFMEMORY;
    *enumerator = copy;
    copy->AddRef();
    return S_OK;
  }

 private:
  std::vector<ComPtr<IMoniker>> monikers_;
  std::size_t position_;
};

class CSystemDeviceEnum : public reel::ComObject<ICreateDevEnum> {
 public:
  explicit CSystemDeviceEnum(LPUNKNOWN outer) : reel::ComObject<ICreateDevEnum>(outer) {}
  HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD) override {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    std::vector<ComPtr<IMoniker>> monikers;
    for (const reel::RegisteredFilter& filter : reel::FiltersInCategory(category)) {
      auto* moniker = new (std::nothrow) CDeviceMoniker(filter);
      if (!moniker) return E_OUTOFMEMORY;
      monikers.emplace_back(moniker);
    }
    if (monikers.empty()) return S_FALSE;
    auto* created = new (std::nothrow) CEnumDeviceMonikers(std::move(monikers), 0);
    if (!created) return E_OUTOFMEMORY;
    *enumerator = created;
    created->AddRef();
    return S_OK;
  }
};

const bool kRegistered = reel::RegisterBuiltinClass(CLSID_SystemDeviceEnum, &reel::CreateComObject<CSystemDeviceEnum>);

}  // namespace
