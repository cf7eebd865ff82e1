// ComPtr<T>: an owning reference to a COM interface, in the manner of WRL's.
// Copying adds a reference, destruction releases it, and &ptr hands out the
// raw slot for an out-parameter after releasing what the pointer held.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "platform/com/Unknown.h"

namespace reel {

template <typename T>
class ComPtr {
 public:
  using InterfaceType = T;

  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference on pointer (use Attach to adopt one).
  ComPtr(T* pointer) noexcept : pointer_(pointer) { AddRefHeld(); }
  ComPtr(const ComPtr& other) noexcept : pointer_(other.pointer_) { AddRefHeld(); }
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ComPtr(const ComPtr<U>& other) noexcept : pointer_(other.Get()) {
    AddRefHeld();
  }
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ComPtr(ComPtr<U>&& other) noexcept : pointer_(other.Detach()) {}
  ~ComPtr() { ReleaseHeld(); }

  ComPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }
  ComPtr& operator=(T* pointer) noexcept {
    if (pointer_ != pointer) ComPtr(pointer).Swap(*this);
    return *this;
  }
  ComPtr& operator=(const ComPtr& other) noexcept {
    if (pointer_ != other.pointer_) ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ComPtr& operator=(const ComPtr<U>& other) noexcept {
    ComPtr(other).Swap(*this);
    return *this;
  }

  T* Get() const noexcept { return pointer_; }
  T* operator->() const noexcept { return pointer_; }
  T& operator*() const noexcept { return *pointer_; }
  explicit operator bool() const noexcept { return pointer_ != nullptr; }

  // The slot for an out-parameter; whatever was held is released first.
  T** operator&() noexcept { return ReleaseAndGetAddressOf(); }
  T** ReleaseAndGetAddressOf() noexcept {
    Reset();
    return &pointer_;
  }
  // The slot itself, without releasing (for in/out parameters).
  T** GetAddressOf() noexcept { return &pointer_; }
  T* const* GetAddressOf() const noexcept { return &pointer_; }

  void Reset() noexcept {
    T* old = std::exchange(pointer_, nullptr);
    if (old) old->Release();
  }
  // Adopts a reference the caller already owns.
  void Attach(T* pointer) noexcept {
    if (pointer_ == pointer) {
      // Already holding it: the extra reference the caller gave us is surplus.
      if (pointer) pointer->Release();
      return;
    }
    ReleaseHeld();
    pointer_ = pointer;
  }
  // Gives up ownership without releasing.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(pointer_, nullptr); }
  void Swap(ComPtr& other) noexcept { std::swap(pointer_, other.pointer_); }

  // QueryInterface for U, whose IID is kIidOf<U>: ptr.As(&other), where
  // &other has released what other held.
  template <typename U>
  HRESULT As(U** result) const noexcept {
    static_assert(std::is_base_of_v<IUnknown, U>, "As needs an interface type");
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!pointer_) return E_POINTER;
    return pointer_->QueryInterface(kIidOf<U>, reinterpret_cast<void**>(result));
  }
  template <typename U>
  HRESULT As(ComPtr<U>* result) const noexcept {
    if (!result) return E_POINTER;
    return As(result->ReleaseAndGetAddressOf());
  }
  // QueryInterface by IID, for interfaces known only by their IID.
  HRESULT AsIID(REFIID iid, IUnknown** result) const noexcept {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!pointer_) return E_POINTER;
    return pointer_->QueryInterface(iid, reinterpret_cast<void**>(result));
  }
  // Hands out a new reference (an out-parameter of a COM method).
  HRESULT CopyTo(T** result) const noexcept {
    if (!result) return E_POINTER;
    *result = pointer_;
    AddRefHeld();
    return S_OK;
  }
  HRESULT CopyTo(REFIID iid, void** result) const noexcept {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!pointer_) return E_POINTER;
    return pointer_->QueryInterface(iid, result);
  }

 private:
  void AddRefHeld() const noexcept {
    if (pointer_) pointer_->AddRef();
  }
  void ReleaseHeld() noexcept {
    if (pointer_) std::exchange(pointer_, nullptr)->Release();
  }

  T* pointer_ = nullptr;
};

template <typename T, typename U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) noexcept {
  return a.Get() == b.Get();
}
template <typename T>
bool operator==(const ComPtr<T>& a, std::nullptr_t) noexcept {
  return a.Get() == nullptr;
}
template <typename T, typename U>
bool operator==(const ComPtr<T>& a, const U* b) noexcept {
  return a.Get() == b;
}
template <typename T, typename U>
bool operator<(const ComPtr<T>& a, const ComPtr<U>& b) noexcept {
  return a.Get() < b.Get();
}

// Whether two interface pointers belong to one object (COM identity: equal
// IUnknown pointers).
bool IsSameObject(IUnknown* a, IUnknown* b);

// The address of an interface out-parameter with its IID, for calls like
// QueryInterface(IID_PPV_ARGS(&ptr)).
template <typename T>
void** PpvArgs(T** slot) {
  static_assert(std::is_base_of_v<IUnknown, T>, "IID_PPV_ARGS needs an interface pointer");
  return reinterpret_cast<void**>(slot);
}

}  // namespace reel

#define IID_PPV_ARGS(slot) reel::kIidOf<std::remove_pointer_t<std::remove_reference_t<decltype(*(slot))>>>, reel::PpvArgs(slot)
