#include "platform/com/ConnectionPoints.h"

#include <algorithm>

#include "platform/com/ComObject.h"

namespace reel {

namespace {

// An enumerator over a snapshot of references (connections or points).
template <typename Interface, typename Item>
class SnapshotEnumerator final : public ComObject<Interface> {
 public:
  using Copy = void (*)(const Item& from, Item* to);
  SnapshotEnumerator(std::shared_ptr<const std::vector<Item>> items, Copy copy, ULONG position)
      : items_(std::move(items)), copy_(copy), position_(position) {}
  ~SnapshotEnumerator() override = default;

  HRESULT Next(ULONG count, Item* out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (count == 0) return S_OK;
    if (!out) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG delivered = 0;
    while (delivered < count && position_ < items_->size()) copy_((*items_)[position_++], &out[delivered++]);
    if (fetched) *fetched = delivered;
    return delivered == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    const ULONG total = static_cast<ULONG>(items_->size());
    if (count > total - position_) {
      position_ = total;
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(Interface** copy) override {
    if (!copy) return E_POINTER;
    auto clone = MakeComObject<SnapshotEnumerator>(items_, copy_, position_);
    *copy = clone.Detach();
    return *copy ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::shared_ptr<const std::vector<Item>> items_;
  Copy copy_;
  ULONG position_;
};

// The snapshots hold one reference per item, released when the last
// enumerator over them goes.
struct HeldConnections {
  std::vector<CONNECTDATA> items;
  ~HeldConnections() {
    for (CONNECTDATA& item : items)
      if (item.pUnk) item.pUnk->Release();
  }
};

}  // namespace

ConnectionPoint::ConnectionPoint(EventSource& container, REFIID eventInterface)
    : container_(container), eventInterface_(eventInterface) {}

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) return GetInterface(static_cast<IConnectionPoint*>(this), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

// A point lives inside its container's object and keeps that object alive.
ULONG ConnectionPoint::AddRef() { return container_.AddRef(); }
ULONG ConnectionPoint::Release() { return container_.Release(); }

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = eventInterface_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = &container_;
  container_.AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie) *cookie = 0;
  if (!sink || !cookie) return E_POINTER;
  Connection connection;
  if (FAILED(sink->QueryInterface(eventInterface_, reinterpret_cast<void**>(&connection.sink)))) {
    // Event sinks are dispatch interfaces; a sink that answers only
    // IDispatch receives them just as well.
    if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&connection.sink))))
      return CONNECT_E_CANNOTCONNECT;
  }
  if (FAILED(connection.sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&connection.invoke))))
    return CONNECT_E_CANNOTCONNECT;
  std::lock_guard lock(mutex_);
  connection.cookie = nextCookie_++;
  if (nextCookie_ == 0) nextCookie_ = 1;  // 0 is never a cookie
  *cookie = connection.cookie;
  connections_.push_back(std::move(connection));
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  Connection removed;  // released after the lock is dropped: the sink may call back
  {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(connections_.begin(), connections_.end(),
                              [cookie](const Connection& connection) { return connection.cookie == cookie; });
    if (found == connections_.end()) return CONNECT_E_NOCONNECTION;
    removed = std::move(*found);
    connections_.erase(found);
  }
  return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (!connections) return E_POINTER;
  *connections = nullptr;
  auto held = std::make_shared<HeldConnections>();
  {
    std::lock_guard lock(mutex_);
    for (const Connection& connection : connections_) {
      connection.sink->AddRef();
      held->items.push_back({connection.sink.Get(), connection.cookie});
    }
  }
  // The enumerator's items alias the held snapshot, which it keeps alive.
  std::shared_ptr<const std::vector<CONNECTDATA>> items(held, &held->items);
  auto copy = [](const CONNECTDATA& from, CONNECTDATA* to) {
    *to = from;
    if (to->pUnk) to->pUnk->AddRef();
  };
  auto enumerator = MakeComObject<SnapshotEnumerator<IEnumConnections, CONNECTDATA>>(items, +copy, 0u);
  *connections = enumerator.Detach();
  return *connections ? S_OK : E_OUTOFMEMORY;
}

bool ConnectionPoint::IsAdvised(DWORD cookie) const {
  std::lock_guard lock(mutex_);
  return std::any_of(connections_.begin(), connections_.end(),
                     [cookie](const Connection& connection) { return connection.cookie == cookie; });
}

std::size_t ConnectionPoint::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

HRESULT ConnectionPoint::Fire(DISPID dispid, const std::vector<Variant>& arguments) {
  // A snapshot with references, so a sink may unadvise (itself or another)
  // from inside its handler without pulling the list from under the loop.
  std::vector<std::pair<DWORD, ComPtr<IDispatch>>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const Connection& connection : connections_) targets.emplace_back(connection.cookie, connection.invoke);
  }
  for (auto& [cookie, sink] : targets) {
    if (!IsAdvised(cookie)) continue;
    // OLE passes arguments last first; each sink gets fresh copies so one
    // sink changing a by-value argument does not affect the next.
    std::vector<Variant> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS parameters{reversed.empty() ? nullptr : static_cast<VARIANT*>(reversed.data()), nullptr,
                          static_cast<UINT>(reversed.size()), 0};
    Variant ignored;
    sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &ignored, nullptr, nullptr);
  }
  return S_OK;
}

EventSource::EventSource(IUnknown* owner, std::vector<IID> eventInterfaces) : owner_(owner) {
  for (const IID& iid : eventInterfaces) points_.push_back(std::make_unique<ConnectionPoint>(*this, iid));
}

HRESULT EventSource::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (!points) return E_POINTER;
  *points = nullptr;
  struct HeldPoints {
    std::vector<IConnectionPoint*> items;
    ~HeldPoints() {
      for (IConnectionPoint* item : items) item->Release();
    }
  };
  auto held = std::make_shared<HeldPoints>();
  for (auto& point : points_) {
    point->AddRef();
    held->items.push_back(point.get());
  }
  std::shared_ptr<const std::vector<IConnectionPoint*>> items(held, &held->items);
  auto copy = [](IConnectionPoint* const& from, IConnectionPoint** to) {
    *to = from;
    from->AddRef();
  };
  auto enumerator = MakeComObject<SnapshotEnumerator<IEnumConnectionPoints, IConnectionPoint*>>(items, +copy, 0u);
  *points = enumerator.Detach();
  return *points ? S_OK : E_OUTOFMEMORY;
}

HRESULT EventSource::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  ConnectionPoint* found = Point(riid);
  if (!found) return CONNECT_E_NOCONNECTION;
  *point = found;
  found->AddRef();
  return S_OK;
}

ConnectionPoint* EventSource::Point(REFIID eventInterface) {
  for (auto& point : points_)
    if (point->EventInterface() == eventInterface) return point.get();
  return nullptr;
}

HRESULT EventSource::FireEvent(DISPID dispid, const std::vector<Variant>& arguments) {
  ConnectionPoint* point = Point();
  return point ? point->Fire(dispid, arguments) : S_OK;
}

}  // namespace reel
