// Owning wrappers for the handles the control and its tests hold: one template, one-line aliases
// over it (as WIL's resource.h does), and the COM reference.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>
#include <utility>

namespace fw {

// Owns one handle of type T; Close runs once when the owner lets go of a value other than Invalid.
template <typename T, auto Close, T Invalid = T{}>
class unique_any {
 public:
  unique_any() = default;
  explicit unique_any(T value) : m_value(value) {}
  ~unique_any() { reset(); }
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  T get() const { return m_value; }
  T* put() {
    reset();
    return &m_value;
  }
  T release() { return std::exchange(m_value, Invalid); }
  void reset(T value = Invalid) {
    T old = std::exchange(m_value, value);
    if (old != Invalid) Close(old);
  }
  explicit operator bool() const { return m_value != Invalid; }

 private:
  T m_value = Invalid;
};

// A device context taken from a window (GetDC), and an object selected into a device context:
// each value carries what its release needs.
struct window_dc {
  HWND window;
  HDC dc;
  bool operator==(const window_dc&) const = default;
};
struct selected_object {
  HDC dc;
  HGDIOBJ previous;
  bool operator==(const selected_object&) const = default;
};

namespace detail {
inline void DestroyWindowHandle(HWND w) { ::DestroyWindow(w); }
inline void FreeBstr(BSTR b) { ::SysFreeString(b); }
inline void DestroySafeArray(SAFEARRAY* a) { ::SafeArrayDestroy(a); }
inline void ReleaseUnknown(IUnknown* u) { u->Release(); }
inline void DeleteDc(HDC dc) { ::DeleteDC(dc); }
inline void ReleaseWindowDc(window_dc d) { ::ReleaseDC(d.window, d.dc); }
inline void DeleteGdiObject(HGDIOBJ o) { ::DeleteObject(o); }
inline void CloseRegKey(HKEY k) { ::RegCloseKey(k); }
inline void FreeTaskMemory(void* p) { ::CoTaskMemFree(p); }
inline void RestoreSelection(selected_object s) { ::SelectObject(s.dc, s.previous); }
}  // namespace detail

using unique_hwnd = unique_any<HWND, detail::DestroyWindowHandle>;
using unique_bstr = unique_any<BSTR, detail::FreeBstr>;
using unique_safearray = unique_any<SAFEARRAY*, detail::DestroySafeArray>;
using unique_hdc = unique_any<HDC, detail::DeleteDc>;
using unique_hdc_window = unique_any<window_dc, detail::ReleaseWindowDc>;
using unique_hbitmap = unique_any<HBITMAP, detail::DeleteGdiObject>;
using unique_select_object = unique_any<selected_object, detail::RestoreSelection>;
using unique_cotaskmem = unique_any<void*, detail::FreeTaskMemory>;

// GetDC(window) owned; nullptr for the screen.
inline unique_hdc_window GetWindowDc(HWND window) {
  HDC dc = ::GetDC(window);
  return dc ? unique_hdc_window(window_dc{window, dc}) : unique_hdc_window();
}

// Selects object into dc until the result goes out of scope; empty when the selection failed.
inline unique_select_object SelectObject(HDC dc, HGDIOBJ object) {
  HGDIOBJ previous = ::SelectObject(dc, object);
  return previous && previous != HGDI_ERROR ? unique_select_object(selected_object{dc, previous})
                                            : unique_select_object();
}

// The exception information a call fills in: its texts are freed when it goes out of scope.
struct unique_excepinfo : EXCEPINFO {
  unique_excepinfo() : EXCEPINFO{} {}
  ~unique_excepinfo() {
    ::SysFreeString(bstrSource);
    ::SysFreeString(bstrDescription);
    ::SysFreeString(bstrHelpFile);
  }
  unique_excepinfo(const unique_excepinfo&) = delete;
  unique_excepinfo& operator=(const unique_excepinfo&) = delete;
};

// A VARIANT that is cleared when it goes out of scope. It starts wholly zero (VariantInit sets
// only the type), so that whoever fills it, or clears it before filling it, never sees stale
// pointers. An empty value needs no VariantClear: the dispatcher holds one per argument slot of
// every automation call, and most stay empty.
struct unique_variant : VARIANT {
  unique_variant() : VARIANT{} {}
  ~unique_variant() { reset(); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  // Moving hands the value over and leaves the source empty.
  unique_variant(unique_variant&& other) noexcept : VARIANT(other) { V_VT(&other) = VT_EMPTY; }
  unique_variant& operator=(unique_variant&& other) noexcept {
    if (this != &other) {
      reset();
      static_cast<VARIANT&>(*this) = other;
      V_VT(&other) = VT_EMPTY;
    }
    return *this;
  }
  void reset() {
    if (V_VT(this) != VT_EMPTY) ::VariantClear(this);
  }
  // Gives the value to a slot of the caller's (which holds nothing of ours) and leaves this empty.
  void release_to(VARIANT* slot) noexcept {
    *slot = *this;
    V_VT(this) = VT_EMPTY;
  }
  VARIANT* addressof() { return this; }
};

// A COM reference.
template <typename I>
class com_ptr {
 public:
  com_ptr() = default;
  com_ptr(I* p, bool addRef) : m_p(p) {
    if (m_p && addRef) m_p->AddRef();
  }
  com_ptr(const com_ptr& o) : com_ptr(o.m_p, true) {}
  com_ptr(com_ptr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  com_ptr& operator=(com_ptr o) noexcept {
    std::swap(m_p, o.m_p);
    return *this;
  }
  ~com_ptr() { reset(); }
  void reset() {
    if (auto* p = std::exchange(m_p, nullptr)) p->Release();
  }
  I* get() const { return m_p; }
  I* operator->() const { return m_p; }
  I** put() {
    reset();
    return &m_p;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  I* detach() { return std::exchange(m_p, nullptr); }
  explicit operator bool() const { return m_p != nullptr; }
  template <typename J>
  com_ptr<J> query(REFIID iid) const {
    com_ptr<J> out;
    if (m_p) m_p->QueryInterface(iid, out.put_void());
    return out;
  }
  // The identifier comes from the type (__uuidof).
  template <typename J>
  com_ptr<J> query() const {
    return query<J>(__uuidof(J));
  }

 private:
  I* m_p = nullptr;
};

// An Advise connection, unadvised when it goes out of scope.
class unique_advise_cookie {
 public:
  unique_advise_cookie() = default;
  unique_advise_cookie(IConnectionPoint* point, DWORD cookie) : m_point(point, true), m_cookie(cookie) {}
  unique_advise_cookie(unique_advise_cookie&&) = default;
  unique_advise_cookie& operator=(unique_advise_cookie&& o) noexcept {
    reset();
    m_point = std::move(o.m_point);
    m_cookie = std::exchange(o.m_cookie, 0);
    return *this;
  }
  ~unique_advise_cookie() { reset(); }
  void reset() {
    if (m_point && m_cookie) m_point->Unadvise(m_cookie);
    m_point.reset();
    m_cookie = 0;
  }
  DWORD get() const { return m_cookie; }

 private:
  com_ptr<IConnectionPoint> m_point;
  DWORD m_cookie = 0;
};

}  // namespace fw
