// The Infinite Pin Tee: one input, as many outputs as are connected (there
// is always one free "Output" pin more); each input sample is copied to
// every connected output, so a downstream filter may change its copy.
#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/PosPassThru.h"
#include "platform/dshow/StockFilters.h"

namespace {

class CInfTee;

class CTeeInputPin : public CBaseInputPin {
 public:
  CTeeInputPin(CInfTee* tee, HRESULT* result);
  HRESULT CheckMediaType(const CMediaType* mediaType) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  HRESULT BreakConnect() override;

 private:
  CInfTee* tee_;
};

class CTeeOutputPin : public CBaseOutputPin {
 public:
  CTeeOutputPin(CInfTee* tee, HRESULT* result, const std::u16string& name);
  ~CTeeOutputPin() override { delete position_; }
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CheckMediaType(const CMediaType* mediaType) override;
  HRESULT GetMediaType(int position, CMediaType* mediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT CompleteConnect(IPin* receivePin) override;

 private:
  CInfTee* tee_;
  CPosPassThru* position_ = nullptr;
};

class CInfTee : public CBaseFilter {
 public:
  explicit CInfTee(LPUNKNOWN outer) : CBaseFilter("infinite pin tee", outer, &lock_, CLSID_InfTee) {
    HRESULT result = S_OK;
    input_ = std::make_unique<CTeeInputPin>(this, &result);
    AddOutput();
  }
  ~CInfTee() override = default;

  int GetPinCount() override {
    CAutoLock hold(&lock_);
    return 1 + static_cast<int>(outputs_.size());
  }
  CBasePin* GetPin(int index) override {
    CAutoLock hold(&lock_);
    if (index == 0) return input_.get();
    if (index < 1 || index > static_cast<int>(outputs_.size())) return nullptr;
    return outputs_[static_cast<std::size_t>(index - 1)].get();
  }

  // A free output is kept for the next connection.
  void OutputConnected() {
    CAutoLock hold(&lock_);
    bool free = std::any_of(outputs_.begin(), outputs_.end(), [](const auto& pin) { return !pin->IsConnected(); });
    if (!free) AddOutput();
  }

  CTeeInputPin* Input() { return input_.get(); }
  CCritSec* Lock() { return &lock_; }
  CCritSec* ReceiveLock() { return &receiveLock_; }

  template <typename Action>
  HRESULT ForEachConnectedOutput(Action&& action) {
    std::vector<CTeeOutputPin*> targets;
    {
      CAutoLock hold(&lock_);
      for (auto& pin : outputs_)
        if (pin->IsConnected()) targets.push_back(pin.get());
    }
    HRESULT answer = targets.empty() ? S_OK : E_FAIL;
    for (CTeeOutputPin* pin : targets)
      if (action(pin) == S_OK) answer = S_OK;  // one working branch keeps the stream going
    return answer;
  }

  HRESULT Deliver(IMediaSample* sample) {
    return ForEachConnectedOutput([&](CTeeOutputPin* pin) {
      IMediaSample* copy = nullptr;
      HRESULT result = pin->GetDeliveryBuffer(&copy, nullptr, nullptr, 0);
      if (FAILED(result)) return result;
      BYTE* from = nullptr;
      BYTE* to = nullptr;
      sample->GetPointer(&from);
      copy->GetPointer(&to);
      LONG length = std::min(sample->GetActualDataLength(), copy->GetSize());
      std::memcpy(to, from, static_cast<std::size_t>(length));
      copy->SetActualDataLength(length);
      REFERENCE_TIME start = 0, stop = 0;
      HRESULT timed = sample->GetTime(&start, &stop);
      if (timed == S_OK) copy->SetTime(&start, &stop);
      else if (SUCCEEDED(timed)) copy->SetTime(&start, nullptr);
      LONGLONG mediaStart = 0, mediaStop = 0;
      if (sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK) copy->SetMediaTime(&mediaStart, &mediaStop);
      copy->SetSyncPoint(sample->IsSyncPoint() == S_OK);
      copy->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
      copy->SetPreroll(sample->IsPreroll() == S_OK);
      result = pin->Deliver(copy);
      copy->Release();
      return result;
    });
  }

 private:
  void AddOutput() {
    HRESULT result = S_OK;
    std::string number = std::to_string(outputs_.size() + 1);
    std::u16string name = u"Output" + std::u16string(number.begin(), number.end());
    outputs_.push_back(std::make_unique<CTeeOutputPin>(this, &result, name));
    IncrementPinVersion();
  }

  CCritSec lock_;
  CCritSec receiveLock_;
  std::unique_ptr<CTeeInputPin> input_;
  // Pins are never removed before the filter dies: callers may hold them.
  std::vector<std::unique_ptr<CTeeOutputPin>> outputs_;
};

CTeeInputPin::CTeeInputPin(CInfTee* tee, HRESULT* result)
    : CBaseInputPin("tee input", tee, tee->Lock(), result, u"Input"), tee_(tee) {}

HRESULT CTeeInputPin::CheckMediaType(const CMediaType* mediaType) {
  return mediaType->majortype != GUID_NULL ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTeeInputPin::Receive(IMediaSample* sample) {
  CAutoLock streaming(tee_->ReceiveLock());
  HRESULT result = CBaseInputPin::Receive(sample);
  if (result != S_OK) return result;
  return tee_->Deliver(sample);
}

HRESULT CTeeInputPin::EndOfStream() {
  CAutoLock streaming(tee_->ReceiveLock());
  return tee_->ForEachConnectedOutput([](CTeeOutputPin* pin) { return pin->DeliverEndOfStream(); });
}

HRESULT CTeeInputPin::BeginFlush() {
  CBaseInputPin::BeginFlush();
  return tee_->ForEachConnectedOutput([](CTeeOutputPin* pin) { return pin->DeliverBeginFlush(); });
}

HRESULT CTeeInputPin::EndFlush() {
  tee_->ForEachConnectedOutput([](CTeeOutputPin* pin) { return pin->DeliverEndFlush(); });
  return CBaseInputPin::EndFlush();
}

HRESULT CTeeInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CBasePin::NewSegment(start, stop, rate);
  return tee_->ForEachConnectedOutput([&](CTeeOutputPin* pin) { return pin->DeliverNewSegment(start, stop, rate); });
}

HRESULT CTeeInputPin::BreakConnect() { return CBaseInputPin::BreakConnect(); }

CTeeOutputPin::CTeeOutputPin(CInfTee* tee, HRESULT* result, const std::u16string& name)
    : CBaseOutputPin("tee output", tee, tee->Lock(), result, name.c_str()), tee_(tee) {}

HRESULT CTeeOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMediaSeeking) {
    CAutoLock hold(m_pLock);
    if (!position_) {
      HRESULT result = S_OK;
      position_ = new (std::nothrow) CPosPassThru("tee seeking", static_cast<IPin*>(this), &result, tee_->Input());
      if (!position_) return E_OUTOFMEMORY;
    }
    return position_->NonDelegatingQueryInterface(riid, ppv);
  }
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTeeOutputPin::CheckConnect(IPin* pin) {
  if (!tee_->Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTeeOutputPin::CheckMediaType(const CMediaType* mediaType) {
  if (!tee_->Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
  return *mediaType == tee_->Input()->CurrentMediaType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTeeOutputPin::GetMediaType(int position, CMediaType* mediaType) {
  if (!tee_->Input()->IsConnected()) return E_UNEXPECTED;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return mediaType->Set(tee_->Input()->CurrentMediaType());
}

HRESULT CTeeOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  ALLOCATOR_PROPERTIES upstream{};
  if (IMemAllocator* input = tee_->Input()->PeekAllocator()) input->GetProperties(&upstream);
  LONG size = std::max<LONG>(upstream.cbBuffer, static_cast<LONG>(m_mt.GetSampleSize()));
  request->cBuffers = std::max<LONG>(request->cBuffers, std::max<LONG>(upstream.cBuffers, 2));
  request->cbBuffer = std::max<LONG>(request->cbBuffer, std::max<LONG>(size, 1));
  ALLOCATOR_PROPERTIES actual{};
  HRESULT result = allocator->SetProperties(request, &actual);
  if (FAILED(result)) return result;
  return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CTeeOutputPin::CompleteConnect(IPin* receivePin) {
  HRESULT result = CBaseOutputPin::CompleteConnect(receivePin);
  if (SUCCEEDED(result)) tee_->OutputConnected();
  return result;
}

const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_InfTee, &reel::CreateComObject<CInfTee>);
  reel::RegisteredFilter filter;
  filter.clsid = CLSID_InfTee;
  filter.name = u"Infinite Pin Tee Filter";
  filter.merit = MERIT_DO_NOT_USE;
  filter.pins = {{u"Input", false, false, false, false, {{GUID_NULL, GUID_NULL}}},
                 {u"Output", true, false, false, true, {{GUID_NULL, GUID_NULL}}}};
  return reel::RegisterBuiltinFilter(filter);
}();

}  // namespace
