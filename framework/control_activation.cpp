// The control as an embedded object: IOleObject (the client site, the verbs, the extent, the
// advise sinks), in-place activation (IOleInPlaceObject, IOleInPlaceActiveObject) and IOleControl.
#include <olectl.h>

#include <string>

#include "framework/automation_error.h"
#include "framework/enumerator.h"
#include "framework/ole_control.h"
#include "framework/registration.h"
#include "framework/ui_hooks.h"

namespace fw {

namespace {

// The verbs a control offers of its own; their names are the framework's.
wchar_t kPropertiesVerbName[] = L"&Properties...";
const OLEVERB kOwnVerbs[] = {
    {OLEIVERB_PROPERTIES, kPropertiesVerbName, MF_ENABLED | MF_STRING,
     OLEVERBATTRIB_ONCONTAINERMENU},
};

}  // namespace

// IOleObject

STDMETHODIMP COleControl::SetClientSite(IOleClientSite* site) {
  return ComBarrier([&] {
    // The old site's in-place session ends with it.
    if (inPlaceActive_ && site != clientSite_.get()) InPlaceDeactivate();
    clientSite_ = com_ptr<IOleClientSite>(site, true);
    // A container that takes the site away is letting the control go: it keeps its window
    // until then, so that messages already posted to it still arrive.
    if (site) OnSetClientSite();
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
    auto site = clientSite_.query<IOleInPlaceSite>();
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
  if (auto controlSite = clientSite_.query<IOleControlSite>())
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
  return CreateEnumerator<IEnumOLEVERB>(kOwnVerbs, verbs);
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

// Overridables

void COleControl::OnSetClientSite() { RecreateControlWindow(); }
bool COleControl::OnSetExtent(const SIZEL&) { return true; }

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
  if (window_) ParkControlWindow();
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

}  // namespace fw
