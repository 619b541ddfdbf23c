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

STDMETHODIMP COleControl::SetClientSite(IOleClientSite* site) noexcept {
  return ComBarrier([&] {
    // The old site's in-place session ends with it.
    if (m_inPlaceActive && site != m_clientSite.get()) InPlaceDeactivate();
    m_clientSite = com_ptr<IOleClientSite>(site, true);
    // A container that takes the site away is letting the control go: it keeps its window
    // until then, so that messages already posted to it still arrive.
    if (site) OnSetClientSite();
  });
}

STDMETHODIMP COleControl::GetClientSite(IOleClientSite** site) noexcept {
  if (!site) return E_POINTER;
  *site = m_clientSite.get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

STDMETHODIMP COleControl::SetHostNames(LPCOLESTR, LPCOLESTR) noexcept { return S_OK; }

STDMETHODIMP COleControl::Close(DWORD saveOption) noexcept {
  InPlaceDeactivate();
  if ((saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE) && m_modified &&
      m_clientSite)
    m_clientSite->SaveObject();
  if (m_adviseHolder) m_adviseHolder->SendOnClose();
  return S_OK;
}

STDMETHODIMP COleControl::SetMoniker(DWORD, IMoniker*) noexcept { return E_NOTIMPL; }
STDMETHODIMP COleControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP COleControl::InitFromData(IDataObject*, BOOL, DWORD) noexcept { return E_NOTIMPL; }
STDMETHODIMP COleControl::GetClipboardData(DWORD, IDataObject** data) noexcept {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP COleControl::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent,
                                 LPCRECT position) noexcept {
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
        if (m_window) ::ShowWindow(m_window.get(), SW_HIDE);
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
  if (!m_clientSite) return E_UNEXPECTED;
  if (!m_inPlaceActive) {
    auto site = m_clientSite.query<IOleInPlaceSite>();
    if (!site) {
      // A container without in-place support can only be told to show the object.
      m_clientSite->ShowObject();
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
    if (!m_window) CreateControlWindow();
    if (!m_window) {
      site->OnInPlaceDeactivate();
      return E_OUTOFMEMORY;
    }
    m_inPlaceSite = site;
    m_inPlaceFrame = frame;
    m_inPlaceUIWindow = uiWindow;
    m_inPlaceActive = true;
    if (parentWindow) ::SetParent(m_window.get(), parentWindow);
    ::MoveWindow(m_window.get(), pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top,
                 FALSE);
    ::ShowWindow(m_window.get(), SW_SHOWNA);
    m_clientSite->ShowObject();
  }
  if (uiActivate && !m_uiActive) {
    m_uiActive = true;
    m_inPlaceSite->OnUIActivate();
    auto* active = static_cast<IOleInPlaceActiveObject*>(this);
    if (m_inPlaceFrame) m_inPlaceFrame->SetActiveObject(active, m_info.userTypeName);
    if (m_inPlaceUIWindow) m_inPlaceUIWindow->SetActiveObject(active, m_info.userTypeName);
    // The control has no tools: it asks for no border space.
    if (m_inPlaceFrame) m_inPlaceFrame->SetBorderSpace(nullptr);
    if (m_inPlaceUIWindow) m_inPlaceUIWindow->SetBorderSpace(nullptr);
  }
  return S_OK;
}

HRESULT COleControl::OnProperties(HWND parent) {
  if (auto controlSite = m_clientSite.query<IOleControlSite>())
    if (controlSite->ShowPropertyFrame() == S_OK) return S_OK;
  CAUUID pages = {};
  HRESULT hr = GetPages(&pages);
  if (FAILED(hr)) return hr;
  const unique_cotaskmem pageList(pages.pElems);
  if (!parent && m_inPlaceSite) m_inPlaceSite->GetWindow(&parent);
  IUnknown* objects[] = {static_cast<IDispatch*>(this)};
  hr = ShowPropertyFrame(parent, m_info.userTypeName, 1, objects, pages.cElems, pages.pElems,
                         ::GetUserDefaultLCID());
  return hr;
}

STDMETHODIMP COleControl::EnumVerbs(IEnumOLEVERB** verbs) noexcept {
  return CreateEnumerator<IEnumOLEVERB>(kOwnVerbs, verbs);
}
STDMETHODIMP COleControl::Update() noexcept { return S_OK; }
STDMETHODIMP COleControl::IsUpToDate() noexcept { return S_OK; }

STDMETHODIMP COleControl::GetUserClassID(CLSID* clsid) noexcept { return GetClassID(clsid); }

STDMETHODIMP COleControl::GetUserType(DWORD, LPOLESTR* name) noexcept {
  if (!name) return E_POINTER;
  *name = nullptr;
  return ComBarrier([&] {
    const std::wstring text = m_info.userTypeNameId
                                  ? ModuleString(m_info.userTypeNameId, m_info.userTypeName)
                                  : std::wstring(m_info.userTypeName);
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *name = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!*name) return E_OUTOFMEMORY;
    ::CopyMemory(*name, text.c_str(), bytes);
    return S_OK;
  });
}

STDMETHODIMP COleControl::SetExtent(DWORD aspect, SIZEL* size) noexcept {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!OnSetExtent(*size)) return E_FAIL;
  m_extent = *size;
  SetModifiedFlag();
  return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, SIZEL* size) noexcept {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = m_extent;
  return S_OK;
}

STDMETHODIMP COleControl::Advise(IAdviseSink* sink, DWORD* connection) noexcept {
  if (!m_adviseHolder && FAILED(::CreateOleAdviseHolder(m_adviseHolder.put())))
    return E_OUTOFMEMORY;
  return m_adviseHolder->Advise(sink, connection);
}

STDMETHODIMP COleControl::Unadvise(DWORD connection) noexcept {
  if (!m_adviseHolder) return OLE_E_NOCONNECTION;
  return m_adviseHolder->Unadvise(connection);
}

STDMETHODIMP COleControl::EnumAdvise(IEnumSTATDATA** advise) noexcept {
  if (!advise) return E_POINTER;
  *advise = nullptr;
  if (!m_adviseHolder) return S_OK;
  return m_adviseHolder->EnumAdvise(advise);
}

STDMETHODIMP COleControl::GetMiscStatus(DWORD, DWORD* status) noexcept {
  if (!status) return E_POINTER;
  *status = m_info.miscStatus;
  return S_OK;
}

STDMETHODIMP COleControl::SetColorScheme(LOGPALETTE*) noexcept { return E_NOTIMPL; }

// Overridables

void COleControl::OnSetClientSite() { RecreateControlWindow(); }
bool COleControl::OnSetExtent(const SIZEL&) { return true; }

// IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject

STDMETHODIMP COleControl::GetWindow(HWND* window) noexcept {
  if (!window) return E_POINTER;
  *window = m_inPlaceActive ? m_window.get() : nullptr;
  return *window ? S_OK : E_FAIL;
}

STDMETHODIMP COleControl::ContextSensitiveHelp(BOOL) noexcept { return E_NOTIMPL; }

STDMETHODIMP COleControl::InPlaceDeactivate() noexcept {
  if (!m_inPlaceActive) return S_OK;
  UIDeactivate();
  m_inPlaceActive = false;
  if (m_window) ParkControlWindow();
  m_inPlaceFrame.reset();
  m_inPlaceUIWindow.reset();
  com_ptr<IOleInPlaceSite> site = std::move(m_inPlaceSite);
  if (site) site->OnInPlaceDeactivate();
  return S_OK;
}

STDMETHODIMP COleControl::UIDeactivate() noexcept {
  if (!m_uiActive) return S_OK;
  m_uiActive = false;
  if (m_inPlaceUIWindow) m_inPlaceUIWindow->SetActiveObject(nullptr, nullptr);
  if (m_inPlaceFrame) m_inPlaceFrame->SetActiveObject(nullptr, nullptr);
  if (m_inPlaceSite) m_inPlaceSite->OnUIDeactivate(FALSE);
  return S_OK;
}

STDMETHODIMP COleControl::SetObjectRects(LPCRECT position, LPCRECT) noexcept {
  if (!position) return E_POINTER;
  if (m_window && m_inPlaceActive)
    ::MoveWindow(m_window.get(), position->left, position->top, position->right - position->left,
                 position->bottom - position->top, TRUE);
  return S_OK;
}

STDMETHODIMP COleControl::ReactivateAndUndo() noexcept { return E_NOTIMPL; }
STDMETHODIMP COleControl::TranslateAccelerator(LPMSG) noexcept { return S_FALSE; }
STDMETHODIMP COleControl::OnFrameWindowActivate(BOOL) noexcept { return S_OK; }
STDMETHODIMP COleControl::OnDocWindowActivate(BOOL) noexcept { return S_OK; }
STDMETHODIMP COleControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) noexcept {
  return S_OK;
}
STDMETHODIMP COleControl::EnableModeless(BOOL) noexcept { return S_OK; }

// IOleControl

STDMETHODIMP COleControl::GetControlInfo(CONTROLINFO* info) noexcept {
  if (!info) return E_POINTER;
  info->cb = sizeof *info;
  info->hAccel = nullptr;  // no mnemonics
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

STDMETHODIMP COleControl::OnMnemonic(MSG*) noexcept { return E_NOTIMPL; }
STDMETHODIMP COleControl::OnAmbientPropertyChange(DISPID) noexcept { return S_OK; }

}  // namespace fw
