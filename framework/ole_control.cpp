#include "framework/ole_control.h"

#include <olectl.h>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "framework/automation_error.h"
#include "framework/module.h"
#include "framework/registration.h"
#include "framework/text.h"
#include "framework/ui_hooks.h"
#include "framework/verb_enum.h"

namespace fw {

namespace {

constexpr wchar_t kControlWindowClass[] = L"KarvoDgramixControl";
constexpr wchar_t kParkingWindowClass[] = L"KarvoDgramixParking";

LRESULT CALLBACK ParkingWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return ::DefWindowProcW(w, m, wp, lp);
}

// The window classes are registered while any thread has a parking window, and unregistered
// after the last one goes, so that no window or class of the module outlives the objects that
// keep it loaded.
std::mutex& WindowClassLock() {
  static std::mutex lock;
  return lock;
}
int g_threadsWithWindows = 0;  // guarded by WindowClassLock

void RegisterWindowClasses() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = ControlWindowProc;
  wc.hInstance = ThisModule();
  wc.lpszClassName = kControlWindowClass;
  ::RegisterClassW(&wc);
  wc.lpfnWndProc = ParkingWindowProc;
  wc.lpszClassName = kParkingWindowClass;
  ::RegisterClassW(&wc);
}

void UnregisterWindowClasses() {
  ::UnregisterClassW(kControlWindowClass, ThisModule());
  ::UnregisterClassW(kParkingWindowClass, ThisModule());
}

// The hidden top-level window that holds the windows of controls not in place, one per thread,
// for as long as the thread has control windows.
struct ThreadWindows {
  unique_hwnd parking;
  int controlWindows = 0;

  ~ThreadWindows() { DropParking(); }
  void DropParking() {
    if (!parking) return;
    parking.reset();
    std::lock_guard<std::mutex> guard(WindowClassLock());
    if (--g_threadsWithWindows == 0) UnregisterWindowClasses();
  }
};

ThreadWindows& ThisThreadWindows() {
  thread_local ThreadWindows windows;
  return windows;
}

HWND ParkingWindow() {
  ThreadWindows& thread = ThisThreadWindows();
  if (thread.parking && !::IsWindow(thread.parking.get())) thread.DropParking();
  if (!thread.parking) {
    std::lock_guard<std::mutex> guard(WindowClassLock());
    if (g_threadsWithWindows++ == 0) RegisterWindowClasses();
    thread.parking.reset(::CreateWindowExW(0, kParkingWindowClass, L"", WS_POPUP, 0, 0, 0, 0,
                                           nullptr, nullptr, ThisModule(), nullptr));
    if (!thread.parking && --g_threadsWithWindows == 0) UnregisterWindowClasses();
  }
  return thread.parking.get();
}

// After the thread's last control window its parking window goes too.
void ReleaseParkingWindow() {
  ThreadWindows& thread = ThisThreadWindows();
  if (thread.controlWindows == 0) thread.DropParking();
}

// The verbs a control offers of its own; their names are the framework's.
constexpr VerbEntry kOwnVerbs[] = {
    {OLEIVERB_PROPERTIES, L"&Properties...", MF_ENABLED | MF_STRING, OLEVERBATTRIB_ONCONTAINERMENU},
};

constexpr wchar_t kContentsStream[] = L"Contents";

LONG HimetricFromPixels(LONG pixels, int axis) {
  HDC screen = ::GetDC(nullptr);
  int dpi = screen ? ::GetDeviceCaps(screen, axis) : 96;
  if (screen) ::ReleaseDC(nullptr, screen);
  return ::MulDiv(pixels, 2540, dpi ? dpi : 96);
}

}  // namespace

LRESULT CALLBACK ControlWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  try {
    auto* control = reinterpret_cast<COleControl*>(::GetWindowLongPtrW(w, GWLP_USERDATA));
    if (control) {
      bool handled = false;
      LRESULT r = control->OnWindowMessage(m, wp, lp, handled);
      if (handled) return r;
    }
    return ::DefWindowProcW(w, m, wp, lp);
  } catch (...) {
    return 0;
  }
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
  DestroyControlWindow();
  events_.DisconnectAll();
  ModuleRelease();
}

LRESULT COleControl::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  const MessageMapEntry* handler = nullptr;
  for (const auto& entry : info_.messages)
    if (entry.message == message) handler = &entry;
  if (!handler && message != kMsgRaiseHeldEvents) return 0;
  handled = true;
  // A handler may raise events whose sinks release the control: keep it alive meanwhile.
  com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  try {
    if (handler) return handler->handler(this, wParam, lParam);
    RaiseHeldEvents();
  } catch (const AutomationException& e) {
    // No call is in progress to take the error: tell the user.
    ShowMessageBox(window_.get(), e.description.c_str(), info_.userTypeName, MB_OK | MB_ICONSTOP);
  } catch (...) {
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
  else if (IsEqualIID(iid, IID_IPersistStorage))
    *out = static_cast<IPersistStorage*>(this);
  else if (IsEqualIID(iid, IID_IOleInPlaceObject) || IsEqualIID(iid, IID_IOleWindow))
    *out = static_cast<IOleInPlaceObject*>(this);
  else if (IsEqualIID(iid, IID_IOleInPlaceActiveObject))
    *out = static_cast<IOleInPlaceActiveObject*>(this);
  else if (IsEqualIID(iid, IID_IOleControl))
    *out = static_cast<IOleControl*>(this);
  else if (IsEqualIID(iid, IID_IViewObject) || IsEqualIID(iid, IID_IViewObject2))
    *out = static_cast<IViewObject2*>(this);
  else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2))
    *out = static_cast<IProvideClassInfo2*>(this);
  else if (IsEqualIID(iid, IID_ISpecifyPropertyPages))
    *out = static_cast<ISpecifyPropertyPages*>(this);
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

namespace {

// Copies of an event's arguments, held while events are frozen. A by-reference argument is held
// as a copy of what it refers to and handed to the sinks as a reference to that copy.
class HeldArgs {
 public:
  explicit HeldArgs(std::span<const VARIANT> args) : values_(args.size()), args_(args.size()) {
    for (size_t i = 0; i < args.size(); ++i) {
      const VARIANT& arg = args[i];
      VARIANT& value = values_[i];
      const bool byRef = (V_VT(&arg) & VT_BYREF) != 0;
      const HRESULT hr = byRef ? ::VariantCopyInd(&value, const_cast<VARIANT*>(&arg))
                               : ::VariantCopy(&value, const_cast<VARIANT*>(&arg));
      if (FAILED(hr)) {
        value = VARIANT{};  // what a failed copy left behind is not ours to clear
        throw std::bad_alloc();
      }
      args_[i] = value;
      if (!byRef) continue;
      V_VT(&args_[i]) = V_VT(&arg);
      const VARTYPE base = V_VT(&arg) & ~VT_BYREF;
      // A referenced VARIANT or DECIMAL is the whole held VARIANT; anything else its value.
      V_BYREF(&args_[i]) = base == VT_VARIANT || base == VT_DECIMAL
                               ? static_cast<void*>(&value)
                               : static_cast<void*>(&V_I4(&value));
    }
  }
  ~HeldArgs() {
    for (auto& value : values_) ::VariantClear(&value);
  }
  HeldArgs(const HeldArgs&) = delete;
  HeldArgs& operator=(const HeldArgs&) = delete;
  std::span<VARIANT> args() { return args_; }

 private:
  std::vector<VARIANT> values_;
  std::vector<VARIANT> args_;
};

}  // namespace

void COleControl::FireEvent(DISPID id, std::span<VARIANT> args) {
  if (!AreEventsFrozen()) {
    events_.Fire(id, args);
    return;
  }
  auto held = std::make_shared<HeldArgs>(args);
  heldEvents_.push_back([this, id, held] { events_.Fire(id, held->args()); });
}

void COleControl::WhenEventsThawed(std::function<void()> work) {
  if (AreEventsFrozen())
    heldEvents_.push_back(std::move(work));
  else
    work();
}

void COleControl::ScheduleHeldEvents() {
  // Raised from the control's own window rather than inside the container's call that thaws.
  heldEventsScheduled_ = true;
  HWND w = window_.get();
  if (!w || !::PostMessageW(w, kMsgRaiseHeldEvents, 0, 0)) RaiseHeldEvents();
}

void COleControl::RaiseHeldEvents() {
  heldEventsScheduled_ = false;
  // A handler that pumps messages must not start the next held event inside its own.
  if (raisingHeldEvents_) return;
  raisingHeldEvents_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{raisingHeldEvents_};
  while (!AreEventsFrozen() && !heldEvents_.empty()) {
    auto next = std::move(heldEvents_.front());
    heldEvents_.pop_front();
    next();
  }
  if (!AreEventsFrozen()) OnEventsThawed();
}

// IOleObject

STDMETHODIMP COleControl::SetClientSite(IOleClientSite* site) {
  return ComBarrier([&] {
    // The old site's in-place session ends with it.
    if (inPlaceActive_ && site != clientSite_.get()) InPlaceDeactivate();
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
  InPlaceDeactivate();
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

STDMETHODIMP COleControl::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent,
                                 LPCRECT position) {
  com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  return ComBarrier([&]() -> HRESULT {
    switch (verb) {
      case OLEIVERB_PRIMARY:
      case OLEIVERB_SHOW:
      case OLEIVERB_INPLACEACTIVATE:
        return DoVerbInPlace(false, position);
      case OLEIVERB_UIACTIVATE:
        return DoVerbInPlace(true, position);
      case OLEIVERB_HIDE:
        UIDeactivate();
        if (window_) ::ShowWindow(window_.get(), SW_HIDE);
        return S_OK;
      case OLEIVERB_PROPERTIES:
        return OnProperties(parent);
      case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
      case OLEIVERB_OPEN:
        return E_NOTIMPL;  // no open editing: the control lives in its container only
      default:
        return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
    }
  });
}

HRESULT COleControl::DoVerbInPlace(bool uiActivate, LPCRECT position) {
  if (!clientSite_) return E_UNEXPECTED;
  if (!inPlaceActive_) {
    auto site = clientSite_.query<IOleInPlaceSite>(IID_IOleInPlaceSite);
    if (!site) {
      // A container without in-place support can only be told to show the object.
      clientSite_->ShowObject();
      return S_OK;
    }
    if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
    HRESULT hr = site->OnInPlaceActivate();
    if (FAILED(hr)) return hr;
    HWND parentWindow = nullptr;
    RECT pos = {}, clip = {};
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof frameInfo;
    com_ptr<IOleInPlaceFrame> frame;
    com_ptr<IOleInPlaceUIWindow> uiWindow;
    if (FAILED(site->GetWindow(&parentWindow)) ||
        FAILED(site->GetWindowContext(frame.put(), uiWindow.put(), &pos, &clip, &frameInfo))) {
      site->OnInPlaceDeactivate();
      return E_FAIL;
    }
    if (position) pos = *position;
    if (!window_) CreateControlWindow();
    if (!window_) {
      site->OnInPlaceDeactivate();
      return E_OUTOFMEMORY;
    }
    inPlaceSite_ = site;
    inPlaceFrame_ = frame;
    inPlaceUIWindow_ = uiWindow;
    inPlaceActive_ = true;
    if (parentWindow) ::SetParent(window_.get(), parentWindow);
    ::MoveWindow(window_.get(), pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top,
                 FALSE);
    ::ShowWindow(window_.get(), SW_SHOWNA);
    clientSite_->ShowObject();
  }
  if (uiActivate && !uiActive_) {
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
    auto* active = static_cast<IOleInPlaceActiveObject*>(this);
    if (inPlaceFrame_) inPlaceFrame_->SetActiveObject(active, info_.userTypeName);
    if (inPlaceUIWindow_) inPlaceUIWindow_->SetActiveObject(active, info_.userTypeName);
    // The control has no tools: it asks for no border space.
    if (inPlaceFrame_) inPlaceFrame_->SetBorderSpace(nullptr);
    if (inPlaceUIWindow_) inPlaceUIWindow_->SetBorderSpace(nullptr);
  }
  return S_OK;
}

HRESULT COleControl::OnProperties(HWND parent) {
  if (auto controlSite = clientSite_.query<IOleControlSite>(IID_IOleControlSite))
    if (controlSite->ShowPropertyFrame() == S_OK) return S_OK;
  CAUUID pages = {};
  HRESULT hr = GetPages(&pages);
  if (FAILED(hr)) return hr;
  if (!parent && inPlaceSite_) inPlaceSite_->GetWindow(&parent);
  IUnknown* objects[] = {static_cast<IDispatch*>(this)};
  hr = ShowPropertyFrame(parent, info_.userTypeName, 1, objects, pages.cElems, pages.pElems,
                         ::GetUserDefaultLCID());
  ::CoTaskMemFree(pages.pElems);
  return hr;
}

STDMETHODIMP COleControl::EnumVerbs(IEnumOLEVERB** verbs) {
  return CreateVerbEnum(kOwnVerbs, verbs);
}
STDMETHODIMP COleControl::Update() { return S_OK; }
STDMETHODIMP COleControl::IsUpToDate() { return S_OK; }

STDMETHODIMP COleControl::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

STDMETHODIMP COleControl::GetUserType(DWORD, LPOLESTR* name) {
  if (!name) return E_POINTER;
  *name = nullptr;
  return ComBarrier([&] {
    const std::wstring text = info_.userTypeNameId
                                  ? ModuleString(info_.userTypeNameId, info_.userTypeName)
                                  : std::wstring(info_.userTypeName);
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *name = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!*name) return E_OUTOFMEMORY;
    ::CopyMemory(*name, text.c_str(), bytes);
    return S_OK;
  });
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
  if (!adviseHolder_ && FAILED(::CreateOleAdviseHolder(adviseHolder_.put()))) return E_OUTOFMEMORY;
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

bool COleControl::ExchangeVersion(CPropExchange& px, DWORD version, bool convert) {
  ULONG stored = version;
  PX_ULong(px, L"_Version", stored, version);
  // Older versions are read as they are when conversion is allowed; newer ones never.
  return !px.IsLoading() || stored == version || (convert && stored < version);
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
void COleControl::OnDrawMetafile(HDC dc, const RECT& bounds) {
  // Not every picture records itself into a metafile (a bitmap picture rendered there through a
  // source DC with its own mapping plays back as nothing): draw into a bitmap of the bounds'
  // size, then record one plain stretch of that bitmap.
  const LONG width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
  if (width <= 0 || height <= 0) return;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC memory = ::CreateCompatibleDC(nullptr);
  if (!memory) return;
  HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap) {
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    const RECT local = {0, 0, width, height};
    try {
      OnDraw(memory, local);
      ::GdiFlush();
      // Recorded as a device-independent stretch of the bitmap's bits.
      ::StretchBlt(dc, bounds.left, bounds.top, width, height, memory, 0, 0, width, height,
                   SRCCOPY);
    } catch (...) {
      ::SelectObject(memory, old);
      ::DeleteObject(bitmap);
      ::DeleteDC(memory);
      throw;
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
  }
  ::DeleteDC(memory);
}
void COleControl::OnSetClientSite() { RecreateControlWindow(); }
bool COleControl::OnSetExtent(const SIZEL&) { return true; }

void COleControl::RecreateControlWindow() {
  if (inPlaceActive_) {
    const bool wasUIActive = uiActive_;
    InPlaceDeactivate();
    DestroyControlWindow();
    CreateControlWindow();
    DoVerbInPlace(wasUIActive, nullptr);
  } else {
    DestroyControlWindow();
    CreateControlWindow();
  }
  // What was posted to the old window died with it.
  if (heldEventsScheduled_) ScheduleHeldEvents();
}

void COleControl::DestroyControlWindow() {
  if (!window_) return;
  ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
  window_.reset();
  --ThisThreadWindows().controlWindows;
  ReleaseParkingWindow();
}

void COleControl::CreateControlWindow() {
  HWND parent = ParkingWindow();
  SIZE px = info_.initialSizePixels;
  HWND w = parent ? ::CreateWindowExW(0, kControlWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS, 0,
                                      0, px.cx, px.cy, parent, nullptr, ThisModule(), nullptr)
                  : nullptr;
  if (!w) {
    ReleaseParkingWindow();
    return;
  }
  ::SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  window_.reset(w);
  ++ThisThreadWindows().controlWindows;
}

}  // namespace fw

namespace fw {

// IPersistStorage

STDMETHODIMP COleControl::InitNew(IStorage* storage) {
  if (!storage) return E_POINTER;
  return InitNew();
}

STDMETHODIMP COleControl::Load(IStorage* storage) {
  if (!storage) return E_POINTER;
  if (initialised_) return CO_E_ALREADYINITIALIZED;
  com_ptr<IStream> stream;
  HRESULT hr = storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                   stream.put());
  if (FAILED(hr)) return hr;
  return Load(stream.get());
}

STDMETHODIMP COleControl::Save(IStorage* storage, BOOL sameAsLoad) {
  if (!storage) return E_POINTER;
  HRESULT hr = ::WriteClassStg(storage, *info_.clsid);
  if (FAILED(hr)) return hr;
  com_ptr<IStream> stream;
  hr = storage->CreateStream(kContentsStream, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                             0, 0, stream.put());
  if (FAILED(hr)) return hr;
  return Save(stream.get(), sameAsLoad);
}

STDMETHODIMP COleControl::SaveCompleted(IStorage*) { return S_OK; }
STDMETHODIMP COleControl::HandsOffStorage() { return S_OK; }

// IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject

STDMETHODIMP COleControl::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = inPlaceActive_ ? window_.get() : nullptr;
  return *window ? S_OK : E_FAIL;
}

STDMETHODIMP COleControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP COleControl::InPlaceDeactivate() {
  if (!inPlaceActive_) return S_OK;
  UIDeactivate();
  inPlaceActive_ = false;
  if (window_) {
    ::ShowWindow(window_.get(), SW_HIDE);
    // Back to the parking window: the control keeps its window for socket notifications.
    ::SetParent(window_.get(), ParkingWindow());
  }
  inPlaceFrame_.reset();
  inPlaceUIWindow_.reset();
  com_ptr<IOleInPlaceSite> site = std::move(inPlaceSite_);
  if (site) site->OnInPlaceDeactivate();
  return S_OK;
}

STDMETHODIMP COleControl::UIDeactivate() {
  if (!uiActive_) return S_OK;
  uiActive_ = false;
  if (inPlaceUIWindow_) inPlaceUIWindow_->SetActiveObject(nullptr, nullptr);
  if (inPlaceFrame_) inPlaceFrame_->SetActiveObject(nullptr, nullptr);
  if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
  return S_OK;
}

STDMETHODIMP COleControl::SetObjectRects(LPCRECT position, LPCRECT) {
  if (!position) return E_POINTER;
  if (window_ && inPlaceActive_)
    ::MoveWindow(window_.get(), position->left, position->top, position->right - position->left,
                 position->bottom - position->top, TRUE);
  return S_OK;
}

STDMETHODIMP COleControl::ReactivateAndUndo() { return E_NOTIMPL; }
STDMETHODIMP COleControl::TranslateAccelerator(LPMSG) { return S_FALSE; }
STDMETHODIMP COleControl::OnFrameWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP COleControl::OnDocWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP COleControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
STDMETHODIMP COleControl::EnableModeless(BOOL) { return S_OK; }

// IOleControl

STDMETHODIMP COleControl::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  info->cb = sizeof *info;
  info->hAccel = nullptr;  // no mnemonics
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

STDMETHODIMP COleControl::OnMnemonic(MSG*) { return E_NOTIMPL; }
STDMETHODIMP COleControl::OnAmbientPropertyChange(DISPID) { return S_OK; }

STDMETHODIMP COleControl::FreezeEvents(BOOL freeze) {
  if (freeze)
    ++freezeEvents_;
  else if (freezeEvents_ > 0 && --freezeEvents_ == 0)
    return ComBarrier([&] {
      ScheduleHeldEvents();
      return S_OK;
    });
  return S_OK;
}

// IViewObject, IViewObject2

STDMETHODIMP COleControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                               LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                               ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!dc) return E_INVALIDARG;
  RECT r = {};
  if (bounds)
    r = {bounds->left, bounds->top, bounds->right, bounds->bottom};
  else if (inPlaceActive_ && window_)
    ::GetClientRect(window_.get(), &r);
  else
    return E_INVALIDARG;
  return ComBarrier([&] {
    const int saved = ::SaveDC(dc);
    const DWORD kind = ::GetObjectType(dc);
    if (kind == OBJ_METADC || kind == OBJ_ENHMETADC ||
        ::GetDeviceCaps(dc, TECHNOLOGY) == DT_METAFILE)
      OnDrawMetafile(dc, r);
    else
      OnDraw(dc, r);
    if (saved) ::RestoreDC(dc, saved);
    return S_OK;
  });
}

STDMETHODIMP COleControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                      LOGPALETTE** colors) {
  if (!colors) return E_POINTER;
  *colors = nullptr;
  return S_FALSE;  // no palette of its own
}

STDMETHODIMP COleControl::Freeze(DWORD, LONG, void*, DWORD* freeze) {
  if (freeze) *freeze = 0;
  return E_NOTIMPL;
}

STDMETHODIMP COleControl::Unfreeze(DWORD) { return E_NOTIMPL; }

STDMETHODIMP COleControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  viewSink_ = com_ptr<IAdviseSink>(sink, true);
  viewSinkAspects_ = aspects;
  viewSinkFlags_ = flags;
  if (sink && (flags & ADVF_PRIMEFIRST)) sink->OnViewChange(DVASPECT_CONTENT, -1);
  return S_OK;
}

STDMETHODIMP COleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = viewSinkAspects_;
  if (flags) *flags = viewSinkFlags_;
  if (sink) {
    *sink = viewSink_.get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// IProvideClassInfo, IProvideClassInfo2

STDMETHODIMP COleControl::GetClassInfo(ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  com_ptr<ITypeLib> lib;
  HRESULT hr = ::LoadRegTypeLib(*info_.typeLibId, 1, 0, ::GetUserDefaultLCID(), lib.put());
  if (FAILED(hr)) {
    // Not registered (yet): the module carries the library itself.
    const std::wstring path = ModuleFullPath();
    hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
    if (FAILED(hr)) return hr;
  }
  return lib->GetTypeInfoOfGuid(*info_.clsid, info);
}

STDMETHODIMP COleControl::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = *info_.eventsIid;
  return S_OK;
}

// ISpecifyPropertyPages: the control lists no page of its own.

STDMETHODIMP COleControl::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

}  // namespace fw
