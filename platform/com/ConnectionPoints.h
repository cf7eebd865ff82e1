// Outgoing (event) interfaces: IConnectionPointContainer and IConnectionPoint,
// through which a sink's IDispatch is advised and then called by dispatch id.
//
// An object that fires events embeds one EventSource, constructed with its
// controlling unknown and the IIDs of its event interfaces, answers
// IID_IConnectionPointContainer with it, and calls Fire. The container and
// its points have no reference count of their own: they live inside the
// object and count on it, like interfaces of the object itself.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/Automation.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Dispatch.h"

REEL_DEFINE_GUID(IID_IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D,
                 0x07);
REEL_DEFINE_GUID(IID_IEnumConnectionPoints, 0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
REEL_DEFINE_GUID(IID_IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
REEL_DEFINE_GUID(IID_IEnumConnections, 0xB196B287, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
};
using LPCONNECTDATA = CONNECTDATA*;

struct IConnectionPointContainer;

struct IEnumConnections : IUnknown {
  virtual HRESULT Next(ULONG count, CONNECTDATA* connections, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnections** copy) = 0;
};

struct IConnectionPoint : IUnknown {
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;
};

struct IEnumConnectionPoints : IUnknown {
  virtual HRESULT Next(ULONG count, IConnectionPoint** points, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** copy) = 0;
};

struct IConnectionPointContainer : IUnknown {
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
  virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) = 0;
};

template <>
inline constexpr const IID& reel::kIidOf<IEnumConnections> = IID_IEnumConnections;
template <>
inline constexpr const IID& reel::kIidOf<IConnectionPoint> = IID_IConnectionPoint;
template <>
inline constexpr const IID& reel::kIidOf<IEnumConnectionPoints> = IID_IEnumConnectionPoints;
template <>
inline constexpr const IID& reel::kIidOf<IConnectionPointContainer> = IID_IConnectionPointContainer;

namespace reel {

class EventSource;

// One outgoing interface and its advised sinks.
class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(EventSource& container, REFIID eventInterface);

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
  // The sink must answer the event interface or IDispatch.
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT Unadvise(DWORD cookie) override;
  HRESULT EnumConnections(IEnumConnections** connections) override;

  // Invokes dispid as a method on every advised sink, arguments given in
  // natural order. A sink advised or unadvised during the call is honoured:
  // each sink is called only while it is still advised.
  HRESULT Fire(DISPID dispid, const std::vector<Variant>& arguments);
  const IID& EventInterface() const { return eventInterface_; }
  std::size_t ConnectionCount() const;

 private:
  struct Connection {
    DWORD cookie;
    ComPtr<IUnknown> sink;     // as advised (the event interface)
    ComPtr<IDispatch> invoke;  // what events are fired into
  };
  bool IsAdvised(DWORD cookie) const;

  EventSource& container_;
  IID eventInterface_;
  mutable std::mutex mutex_;
  std::vector<Connection> connections_;
  DWORD nextCookie_ = 1;
};

class EventSource final : public IConnectionPointContainer {
 public:
  // owner: the controlling unknown of the object that embeds this.
  EventSource(IUnknown* owner, std::vector<IID> eventInterfaces);
  EventSource(const EventSource&) = delete;
  EventSource& operator=(const EventSource&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override { return owner_->QueryInterface(riid, ppv); }
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }

  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

  // The point of eventInterface (null if none); the first when omitted.
  ConnectionPoint* Point(REFIID eventInterface);
  ConnectionPoint* Point() { return points_.empty() ? nullptr : points_.front().get(); }

  // Fires on the first (usually only) event interface.
  HRESULT FireEvent(DISPID dispid, const std::vector<Variant>& arguments);
  // The arguments are converted by their C++ types as dispatch tables do;
  // pass Variant::Bool(...) and the like where the type is ambiguous.
  template <typename... Arguments>
  HRESULT Fire(DISPID dispid, Arguments&&... arguments) {
    std::vector<Variant> converted;
    converted.reserve(sizeof...(Arguments));
    (converted.push_back(ToEventArgument(std::forward<Arguments>(arguments))), ...);
    return FireEvent(dispid, converted);
  }

 private:
  template <typename A>
  static Variant ToEventArgument(A&& argument) {
    using Plain = std::remove_cv_t<std::remove_reference_t<A>>;
    if constexpr (std::is_base_of_v<VARIANT, Plain>) {
      return Variant(static_cast<const VARIANT&>(argument));
    } else if constexpr (std::is_same_v<Plain, const char*> || std::is_same_v<Plain, char*> ||
                         std::is_array_v<Plain>) {
      return Variant::String(argument);
    } else if constexpr (std::is_same_v<Plain, std::string> || std::is_same_v<Plain, std::string_view>) {
      return Variant::String(argument);
    } else if constexpr (std::is_same_v<Plain, BSTR> || std::is_same_v<Plain, const OLECHAR*>) {
      return Variant::WideString(argument);  // copied: the caller keeps its string
    } else if constexpr (std::is_same_v<Plain, IDispatch*>) {
      return Variant::Dispatch(argument);  // a reference of the event's own
    } else if constexpr (std::is_same_v<Plain, IUnknown*>) {
      return Variant::Unknown(argument);
    } else {
      Variant converted;
      DispatchValue<Plain>::Write(argument, &converted);
      return converted;
    }
  }

  IUnknown* owner_;
  std::vector<std::unique_ptr<ConnectionPoint>> points_;
};

}  // namespace reel
