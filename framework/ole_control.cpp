#include "framework/ole_control.h"

#include <olectl.h>
#include <new>

#include "framework/automation_error.h"
#include "framework/module.h"
#include "framework/text.h"
#include "framework/ui_hooks.h"

namespace fw {

namespace {

constexpr wchar_t kControlWindowClass[] = L"KarvoDgramixControl";
constexpr wchar_t kParkingWindowClass[] = L"KarvoDgramixParking";

LRESULT CALLBACK ParkingWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return ::DefWindowProcW(w, m, wp, lp);
}

void RegisterWindowClasses() {
  static const bool registered = [] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ControlWindowProc;
    wc.hInstance = ThisModule();
    wc.lpszClassName = kControlWindowClass;
    ::RegisterClassW(&wc);
    wc.lpfnWndProc = ParkingWindowProc;
    wc.lpszClassName = kParkingWindowClass;
    ::RegisterClassW(&wc);
    return true;
  }();
  (void)registered;
}

// The hidden top-level window that holds the windows of controls not in place, one per thread.
HWND ParkingWindow() {
  thread_local unique_hwnd parking;
  if (!parking || !::IsWindow(parking.get())) {
    RegisterWindowClasses();
    parking.reset(::CreateWindowExW(0, kParkingWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                    nullptr, ThisModule(), nullptr));
  }
  return parking.get();
}

LONG HimetricFromPixels(LONG pixels, int axis) {
  HDC screen = ::GetDC(nullptr);
  int dpi = screen ? ::GetDeviceCaps(screen, axis) : 96;
  if (screen) ::ReleaseDC(nullptr, screen);
  return ::MulDiv(pixels, 2540, dpi ? dpi : 96);
}

}  // namespace

LRESULT CALLBACK ControlWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  auto* control = reinterpret_cast<COleControl*>(::GetWindowLongPtrW(w, GWLP_USERDATA));
  if (control) {
    bool handled = false;
    LRESULT r = control->OnWindowMessage(m, wp, lp, handled);
    if (handled) return r;
  }
  return ::DefWindowProcW(w, m, wp, lp);
}

COleControl::COleControl(const ControlClassInfo& info)
    : info_(info),
      dispatcher_(info.dispatch),
      events_(static_cast<IDispatch*>(this), this, *info.eventsIid) {
  extent_.cx = HimetricFromPixels(info.initialSizePixels.cx, LOGPIXELSX);
  extent_.cy = HimetricFromPixels(info.initialSizePixels.cy, LOGPIXELSY);
  ModuleAddRef();
}

COleControl::~COleControl() {
  if (window_) ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
  window_.reset();
  events_.DisconnectAll();
  ModuleRelease();
}

LRESULT COleControl::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  for (const auto& entry : info_.messages) {
    if (entry.message != message) continue;
    handled = true;
    // A handler may raise events whose sinks release the control: keep it alive meanwhile.
    com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
    try {
      return entry.handler(this, wParam, lParam);
    } catch (const AutomationException& e) {
      // No call is in progress to take the error: tell the user.
      ShowMessageBox(window_.get(), e.description.c_str(), info_.userTypeName, MB_OK | MB_ICONSTOP);
    } catch (...) {
    }
    return 0;
  }
  return 0;
}

STDMETHODIMP COleControl::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, *info_.dispatchIid))
    *out = static_cast<IDispatch*>(this);
  else if (IsEqualIID(iid, IID_IConnectionPointContainer))
    *out = static_cast<IConnectionPointContainer*>(this);
  else if (IsEqualIID(iid, IID_IOleObject))
    *out = static_cast<IOleObject*>(this);
  else if (IsEqualIID(iid, IID_IPersistStreamInit) || IsEqualIID(iid, IID_IPersist))
    *out = static_cast<IPersistStreamInit*>(this);
  else if (IsEqualIID(iid, IID_IPersistPropertyBag))
    *out = static_cast<IPersistPropertyBag*>(this);
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) COleControl::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) COleControl::Release() {
  ULONG n = --refs_;
  if (n == 0) {
    // Events raised while the control is torn down may AddRef and Release it again.
    refs_ = 1;
    delete this;
  }
  return n;
}

// IDispatch

STDMETHODIMP COleControl::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP COleControl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  com_ptr<ITypeLib> lib;
  HRESULT hr = ::LoadRegTypeLib(*info_.typeLibId, 1, 0, lcid, lib.put());
  if (FAILED(hr)) return hr;
  return lib->GetTypeInfoOfGuid(*info_.dispatchIid, out);
}

STDMETHODIMP COleControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                        DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  // A caller that names a locale gets the registered type library's own look-up.
  if (lcid != 0) {
    com_ptr<ITypeInfo> info;
    if (SUCCEEDED(GetTypeInfo(0, lcid, info.put())))
      return info->GetIDsOfNames(names, count, ids);
  }
  return dispatcher_.GetIDsOfNames(names, count, ids);
}

STDMETHODIMP COleControl::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  return dispatcher_.Invoke(this, initialised_, id, iid, flags, params, result, excepInfo, argErr,
                            info_.userTypeName);
}

// IConnectionPointContainer

STDMETHODIMP COleControl::EnumConnectionPoints(IEnumConnectionPoints** out) {
  IConnectionPoint* points[] = {&events_};
  return ComBarrier([&] { return CreateConnectionPointEnum(points, out); });
}

STDMETHODIMP COleControl::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, events_.iid())) return CONNECT_E_NOCONNECTION;
  *out = &events_;
  events_.AddRef();
  return S_OK;
}

void COleControl::FireEvent(DISPID id, std::span<VARIANT> args) { events_.Fire(id, args); }

// IOleObject

STDMETHODIMP COleControl::SetClientSite(IOleClientSite* site) {
  return ComBarrier([&] {
    clientSite_ = com_ptr<IOleClientSite>(site, true);
    // A container that takes the site away is letting the control go: it keeps its window
    // until then, so that messages already posted to it still arrive.
    if (site) OnSetClientSite();
    return S_OK;
  });
}

STDMETHODIMP COleControl::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = clientSite_.get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

STDMETHODIMP COleControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

STDMETHODIMP COleControl::Close(DWORD saveOption) {
  if ((saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE) && modified_ &&
      clientSite_)
    clientSite_->SaveObject();
  if (adviseHolder_) adviseHolder_->SendOnClose();
  return S_OK;
}

STDMETHODIMP COleControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }
STDMETHODIMP COleControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP COleControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }
STDMETHODIMP COleControl::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP COleControl::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) {
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
    case OLEIVERB_HIDE:
      return S_OK;
    default:
      return OLEOBJ_S_INVALIDVERB;
  }
}

STDMETHODIMP COleControl::EnumVerbs(IEnumOLEVERB** verbs) {
  return ::OleRegEnumVerbs(*info_.clsid, verbs);
}
STDMETHODIMP COleControl::Update() { return S_OK; }
STDMETHODIMP COleControl::IsUpToDate() { return S_OK; }

STDMETHODIMP COleControl::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

STDMETHODIMP COleControl::GetUserType(DWORD, LPOLESTR* name) {
  if (!name) return E_POINTER;
  size_t bytes = (::lstrlenW(info_.userTypeName) + 1) * sizeof(wchar_t);
  *name = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
  if (!*name) return E_OUTOFMEMORY;
  ::CopyMemory(*name, info_.userTypeName, bytes);
  return S_OK;
}

STDMETHODIMP COleControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!OnSetExtent(*size)) return E_FAIL;
  extent_ = *size;
  SetModifiedFlag();
  return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

STDMETHODIMP COleControl::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!adviseHolder_ && FAILED(::CreateOleAdviseHolder(adviseHolder_.put())))
    return E_OUTOFMEMORY;
  return adviseHolder_->Advise(sink, connection);
}

STDMETHODIMP COleControl::Unadvise(DWORD connection) {
  if (!adviseHolder_) return OLE_E_NOCONNECTION;
  return adviseHolder_->Unadvise(connection);
}

STDMETHODIMP COleControl::EnumAdvise(IEnumSTATDATA** advise) {
  if (!advise) return E_POINTER;
  *advise = nullptr;
  if (!adviseHolder_) return S_OK;
  return adviseHolder_->EnumAdvise(advise);
}

STDMETHODIMP COleControl::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = info_.miscStatus;
  return S_OK;
}

STDMETHODIMP COleControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// Persistence

STDMETHODIMP COleControl::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = *info_.clsid;
  return S_OK;
}

STDMETHODIMP COleControl::IsDirty() { return modified_ ? S_OK : S_FALSE; }

HRESULT COleControl::ExchangeAll(CPropExchange& px) {
  return ComBarrier([&] {
    DoPropExchange(px);
    return S_OK;
  });
}

STDMETHODIMP COleControl::InitNew() {
  if (initialised_) return CO_E_ALREADYINITIALIZED;
  CResetPropExchange px;
  HRESULT hr = ExchangeAll(px);
  if (SUCCEEDED(hr)) {
    initialised_ = true;
    modified_ = false;
  }
  return hr;
}

STDMETHODIMP COleControl::Load(LPSTREAM stream) {
  if (!stream) return E_POINTER;
  if (initialised_) return CO_E_ALREADYINITIALIZED;
  return ComBarrier([&] {
    PropertyStore store;
    HRESULT hr = store.ReadFrom(stream);
    if (FAILED(hr)) return hr;
    CMemoryPropExchange px(true, store.values);
    hr = ExchangeAll(px);
    if (SUCCEEDED(hr)) {
      initialised_ = true;
      modified_ = false;
    }
    return hr;
  });
}

STDMETHODIMP COleControl::Save(LPSTREAM stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  return ComBarrier([&] {
    PropertyStore store;
    CMemoryPropExchange px(false, store.values);
    HRESULT hr = ExchangeAll(px);
    if (SUCCEEDED(hr)) hr = store.WriteTo(stream);
    if (SUCCEEDED(hr) && clearDirty) modified_ = false;
    return hr;
  });
}

STDMETHODIMP COleControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  return ComBarrier([&] {
    com_ptr<IStream> probe;
    HRESULT hr = ::CreateStreamOnHGlobal(nullptr, TRUE, probe.put());
    if (SUCCEEDED(hr)) hr = Save(probe.get(), FALSE);
    STATSTG stat = {};
    if (SUCCEEDED(hr)) hr = probe->Stat(&stat, STATFLAG_NONAME);
    if (SUCCEEDED(hr)) *size = stat.cbSize;
    return hr;
  });
}

STDMETHODIMP COleControl::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  if (initialised_) return CO_E_ALREADYINITIALIZED;
  CBagPropExchange px(true, bag, log);
  HRESULT hr = ExchangeAll(px);
  if (SUCCEEDED(hr)) {
    initialised_ = true;
    modified_ = false;
  }
  return hr;
}

STDMETHODIMP COleControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
  if (!bag) return E_POINTER;
  CBagPropExchange px(false, bag, nullptr);
  HRESULT hr = ExchangeAll(px);
  if (SUCCEEDED(hr) && clearDirty) modified_ = false;
  return hr;
}

void COleControl::ExchangeVersion(CPropExchange& px, DWORD version, bool convert) {
  ULONG stored = version;
  PX_ULong(px, L"_Version", stored, version);
  // Older versions are read as they are when conversion is allowed; newer ones never.
  loadedVersion_ = (px.IsLoading() && (convert || stored == version)) ? stored : version;
}

void COleControl::ExchangeExtent(CPropExchange& px) {
  LONG cx = extent_.cx, cy = extent_.cy;
  PX_Long(px, L"_ExtentX", cx, extent_.cx);
  PX_Long(px, L"_ExtentY", cy, extent_.cy);
  if (px.IsLoading()) {
    SIZEL loaded{cx, cy};
    if (OnSetExtent(loaded)) extent_ = loaded;
  }
}

// Overridables

void COleControl::DoPropExchange(CPropExchange& px) { ExchangeExtent(px); }
void COleControl::OnDraw(HDC, const RECT&) {}
void COleControl::OnSetClientSite() { RecreateControlWindow(); }
bool COleControl::OnSetExtent(const SIZEL&) { return true; }

void COleControl::RecreateControlWindow() {
  if (window_) {
    ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    window_.reset();
  }
  RegisterWindowClasses();
  HWND parent = ParkingWindow();
  SIZE px = info_.initialSizePixels;
  HWND w = ::CreateWindowExW(0, kControlWindowClass, L"", WS_CHILD, 0, 0, px.cx, px.cy, parent,
                             nullptr, ThisModule(), nullptr);
  if (!w) return;
  ::SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  window_.reset(w);
}

}  // namespace fw
