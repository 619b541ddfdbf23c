// IUnknown written once, in the manner of C++/WinRT's implements<D, I...>: a COM class lists the
// interfaces it implements and receives QueryInterface, AddRef and Release for them.
//
// Implementation details: QueryInterface walks the list in order. Each interface answers its own
// identifier (__uuidof) and those of the well-known interfaces it derives from (IDispatch,
// IPersist, IOleWindow, IViewObject, IProvideClassInfo), so the first interface of the list that
// derives from one of them answers for it; IUnknown is always the first interface's, which keeps
// the object's identity. An identifier known only at run time (a dispinterface named by a class
// description) is answered by overriding QueryOther. Markers in the list, as C++/WinRT has them,
// choose the lifetime:
//   (none)           a heap object: one reference at construction, the module held for the
//                    object's life, deleted when the last reference goes;
//   static_lifetime  a static object, never deleted: each outside reference holds the module;
//   owned_lifetime   a part of another object, whose references it shares (D::Owner()).
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

#include <new>
#include <type_traits>

#include "framework/automation_error.h"
#include "framework/module.h"
#include "framework/unique_any.h"

namespace fw {

struct static_lifetime {};
struct owned_lifetime {};

namespace detail {

template <typename T>
inline constexpr bool kIsInterface = std::is_base_of_v<IUnknown, T>;

// Whether I answers for Base, an interface it derives from.
template <typename Base, typename I>
bool AnswersFor(REFIID iid) {
  if constexpr (std::is_base_of_v<Base, I> && !std::is_same_v<Base, I>)
    return IsEqualIID(iid, __uuidof(Base));
  else
    return false;
}

template <typename I>
bool Answers(REFIID iid) {
  if constexpr (!kIsInterface<I>) {
    return false;
  } else {
    return IsEqualIID(iid, __uuidof(I)) || AnswersFor<IDispatch, I>(iid) ||
           AnswersFor<IPersist, I>(iid) || AnswersFor<IOleWindow, I>(iid) ||
           AnswersFor<IViewObject, I>(iid) || AnswersFor<IProvideClassInfo, I>(iid);
  }
}

template <typename First, typename... Rest>
struct FirstInterface {
  using type =
      std::conditional_t<kIsInterface<First>, First, typename FirstInterface<Rest...>::type>;
};
template <typename Last>
struct FirstInterface<Last> {
  using type = Last;
};

}  // namespace detail

template <typename D, typename... I>
class implements : public I... {
  static constexpr bool kStatic = (std::is_same_v<I, static_lifetime> || ...);
  static constexpr bool kOwned = (std::is_same_v<I, owned_lifetime> || ...);
  static constexpr bool kHeap = !kStatic && !kOwned;
  using Identity = typename detail::FirstInterface<I...>::type;
  static_assert(detail::kIsInterface<Identity>, "implements<> needs at least one interface");

 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown))
      *out = static_cast<IUnknown*>(static_cast<Identity*>(this));
    else
      ((detail::Answers<I>(iid) ? (*out = Interface<I>(), true) : false) || ...);
    if (!*out) *out = QueryOther(iid);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

  STDMETHODIMP_(ULONG) AddRef() noexcept override {
    if constexpr (kOwned) {
      return static_cast<D*>(this)->Owner()->AddRef();
    } else {
      if constexpr (kStatic) ModuleAddRef();
      return static_cast<ULONG>(::InterlockedIncrement(&m_refs));
    }
  }

  STDMETHODIMP_(ULONG) Release() noexcept override {
    if constexpr (kOwned) {
      return static_cast<D*>(this)->Owner()->Release();
    } else if constexpr (kStatic) {
      // An extra Release from outside neither goes below zero nor takes another holder's count.
      if (ReleaseCount(m_refs)) ModuleRelease();
      return static_cast<ULONG>(m_refs);
    } else {
      const LONG n = ::InterlockedDecrement(&m_refs);
      if (n == 0) {
        // What the object's teardown does (raising events, say) may AddRef and Release it again.
        m_refs = 1;
        delete this;
      }
      return static_cast<ULONG>(n);
    }
  }

  implements(const implements&) = delete;
  implements& operator=(const implements&) = delete;

 protected:
  implements() {
    if constexpr (kHeap) ModuleAddRef();
  }
  virtual ~implements() {
    if constexpr (kHeap) ModuleRelease();
  }
  // An interface pointer for an identifier that the list does not name, or nullptr.
  virtual void* QueryOther(REFIID) { return nullptr; }
  bool IsReferenced() const { return m_refs > 0; }

 private:
  template <typename J>
  void* Interface() {
    if constexpr (detail::kIsInterface<J>)
      return static_cast<J*>(this);
    else
      return nullptr;
  }

  LONG m_refs = kHeap ? 1 : 0;
};

// Creates a heap object of type T and hands out the requested interface.
template <typename T>
HRESULT CreateObject(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ComBarrier([&] {
    com_ptr<T> object(new T(), false);
    return object->QueryInterface(iid, out);
  });
}

}  // namespace fw
