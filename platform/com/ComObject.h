// The base of every COM object in the program, shaped like DirectShow's
// CUnknown so filters read as they do there:
//
//   class CMyFilter : public CUnknown, public IMyFilter {
//    public:
//     DECLARE_IUNKNOWN
//     HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
//       if (riid == IID_IMyFilter) return GetInterface(static_cast<IMyFilter*>(this), ppv);
//       return CUnknown::NonDelegatingQueryInterface(riid, ppv);
//     }
//   };
//
// An object's own reference count and QueryInterface live on its
// non-delegating side. Its public interfaces forward to the owner: the outer
// unknown when the object is aggregated, else its own non-delegating unknown.
//
// Small objects use ComObject<I1, I2, ...>, whose QueryInterface answers from
// the interface list, so a class declares its interfaces instead of code.
#pragma once

#include <atomic>
#include <new>
#include <tuple>
#include <type_traits>

#include "platform/com/ComPtr.h"
#include "platform/com/Unknown.h"

struct INonDelegatingUnknown {
  virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG NonDelegatingAddRef() = 0;
  virtual ULONG NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown {
 public:
  // outer: the controlling unknown when aggregated, else null.
  explicit CUnknown(LPUNKNOWN outer);
  // The DirectShow form; the name is kept for diagnostics, hr is left as is.
  CUnknown(const char* name, LPUNKNOWN outer, HRESULT* hr = nullptr);
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;
  virtual ~CUnknown();

  // Answers IID_IUnknown with the non-delegating unknown; derived classes add
  // their interfaces and fall back to this.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

  // The unknown that the public interfaces delegate to.
  LPUNKNOWN GetOwner() const { return owner_; }
  // The object's own identity (what an aggregating outer keeps).
  IUnknown* GetNonDelegatingUnknown() { return &inner_; }
  const char* Name() const { return name_; }

 protected:
  std::atomic<long> m_cRef{0};

 private:
  // The IUnknown face of the non-delegating side.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(CUnknown& object) : object_(object) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return object_.NonDelegatingQueryInterface(riid, ppv); }
    ULONG AddRef() override { return object_.NonDelegatingAddRef(); }
    ULONG Release() override { return object_.NonDelegatingRelease(); }

   private:
    CUnknown& object_;
  };

  const char* name_ = "";
  InnerUnknown inner_{*this};
  LPUNKNOWN owner_;
  // The shared object whose code defines this object's class, found at the
  // first reference; it keeps that library loaded (see ModuleLock).
  const void* module_ = nullptr;
};

// The three IUnknown methods of a class derived from CUnknown and from
// interfaces, forwarded to the owner.
#define DECLARE_IUNKNOWN                                                                              \
  HRESULT QueryInterface(REFIID riid, void** ppv) override { return GetOwner()->QueryInterface(riid, ppv); } \
  ULONG AddRef() override { return GetOwner()->AddRef(); }                                           \
  ULONG Release() override { return GetOwner()->Release(); }

// Hands out interface pointer p through ppv with a reference (taken through
// p, so on the owner when p is a public interface).
template <typename Interface>
HRESULT GetInterface(Interface* p, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = p;
  if (p) p->AddRef();
  return S_OK;
}

struct IDispatch;

namespace reel {

// Live objects and server locks per shared object, for DllCanUnloadNow. An
// object derived from CUnknown is counted for the library that defines its
// class from its first AddRef until its destruction; IClassFactory::LockServer
// locks the library of the factory's create function. Code outside CUnknown
// can count objects or take locks by hand.
class ModuleLock {
 public:
  static void Lock(const void* addressInModule);
  // False (and nothing changes) when the module holds no lock.
  static bool Unlock(const void* addressInModule);
  // Live objects plus locks of the module holding addressInModule.
  static long Count(const void* addressInModule);
  static bool CanUnload(const void* addressInModule) { return Count(addressInModule) == 0; }
  // The base address of the shared object holding address (null if none).
  static const void* ModuleOf(const void* address);
  // moduleBase as ModuleOf gives it.
  static void ObjectCreated(const void* moduleBase);
  static void ObjectDestroyed(const void* moduleBase);
};

// The interfaces an interface derives from (beyond IUnknown), which an object
// implementing it answers as well. Interfaces derived from IDispatch (dual
// interfaces) get IDispatch by default; specialise for other hierarchies:
//   template <> struct reel::InterfaceBases<IPersistStream> { using type = std::tuple<IPersist>; };
template <typename Interface>
struct InterfaceBases {
  using type = std::conditional_t<std::is_base_of_v<IDispatch, Interface> && !std::is_same_v<IDispatch, Interface>,
                                  std::tuple<IDispatch>, std::tuple<>>;
};

namespace com_detail {
// Answers riid from Interface or, through it, from one of its bases.
template <typename Interface, typename Object>
HRESULT AnswerFrom(Object* object, REFIID riid, void** ppv) {
  if (riid == kIidOf<Interface>) return GetInterface(static_cast<Interface*>(object), ppv);
  using Bases = typename InterfaceBases<Interface>::type;
  return [&]<std::size_t... Index>(std::index_sequence<Index...>) {
    HRESULT result = E_NOINTERFACE;
    ((result = result == E_NOINTERFACE
                   ? AnswerFrom<std::tuple_element_t<Index, Bases>>(static_cast<Interface*>(object), riid, ppv)
                   : result),
     ...);
    return result;
  }(std::make_index_sequence<std::tuple_size_v<Bases>>{});
}
}  // namespace com_detail

// Interfaces answered by ComObject<...>: each listed interface and its bases.
template <typename... Interfaces>
class ComObject : public CUnknown, public Interfaces... {
 public:
  explicit ComObject(LPUNKNOWN outer = nullptr) : CUnknown(outer) {}

  DECLARE_IUNKNOWN

  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    HRESULT result = E_NOINTERFACE;
    // The first interface of the list that answers.
    ((result = result == E_NOINTERFACE ? com_detail::AnswerFrom<Interfaces>(this, riid, ppv) : result), ...);
    if (result != E_NOINTERFACE) return result;
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
};

// Creates a T (constructed from its outer unknown) and answers riid from it:
// the create function of a class factory. An aggregated object must be asked
// for IID_IUnknown, as COM requires.
template <typename T>
HRESULT CreateComObject(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  T* object = new (std::nothrow) T(outer);
  if (!object) return E_OUTOFMEMORY;
  object->NonDelegatingAddRef();
  HRESULT result = object->NonDelegatingQueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  return result;
}

// Creates a non-aggregated T with constructor arguments and returns it held.
template <typename T, typename... Arguments>
ComPtr<T> MakeComObject(Arguments&&... arguments) {
  ComPtr<T> held;
  T* object = new (std::nothrow) T(std::forward<Arguments>(arguments)...);
  if (object) held = object;
  return held;
}

}  // namespace reel
