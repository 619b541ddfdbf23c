// The UdpSocket object: its control, the site it gives that control, the events it passes on, its
// dispatch interface, its class object and its registration.
#include "server/udp_socket.h"

#include <olectl.h>

#include <algorithm>
#include <new>

#include "control/udp_ctrl.h"
#include "framework/automation_error.h"
#include "framework/dispatcher.h"
#include "framework/enumerator.h"
#include "framework/registration.h"
#include "framework/text.h"
#include "framework/type_library.h"

namespace server {

namespace {

constexpr wchar_t kUserTypeName[] = L"Karvo Dgramix 1.10 UdpSocket";
constexpr wchar_t kVersionIndependentProgId[] = L"UDP.UdpSocket";

const fw::Dispatcher& OwnMembers() {
  static const fw::Dispatcher dispatcher(kUdpSocketDispatch);
  return dispatcher;
}

// The control's members that the socket offers: all but the About box, which needs a form.
const fw::DispEntry* FindControlMember(const wchar_t* name) {
  static const fw::Dispatcher control(udp::kUdpDispatch);
  const fw::DispEntry* entry = control.Find(name);
  return entry && entry->dispid != DISPID_ABOUTBOX ? entry : nullptr;
}

HRESULT TypeInfoOf(REFGUID guid, LCID lcid, ITypeInfo** out) {
  const fw::ControlClassInfo& control = udp::CUdpCtrl::ClassInfoOfUdp();
  return fw::LoadTypeInfo(*control.typeLibId, control.typeLibVersion, lcid, guid, out);
}

}  // namespace

// The socket's side of its control: the client site it gives the control, and the sink that the
// control's events reach. It refers to the socket without holding it; the socket detaches it
// before it goes, and the control may hold it a little longer.
class ControlSite final : public fw::implements<ControlSite, IOleClientSite, _DUdpEvents> {
 public:
  explicit ControlSite(CUdpSocket* socket) : socket_(socket) {}
  void Detach() { socket_ = nullptr; }

  // IOleClientSite: no container, no document, nothing to save.
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IDispatch: the control's events. The site has no ambient properties.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                      EXCEPINFO*, UINT*) override {
    if (!(flags & DISPATCH_METHOD) || id < udp::kEventWsError || id > udp::kEventSent)
      return DISP_E_MEMBERNOTFOUND;
    if (!socket_ || !params) return S_OK;
    return fw::ComBarrier([&] {
      socket_->OnControlEvent(id, *params);
      return S_OK;
    });
  }

 private:
  ~ControlSite() override = default;
  CUdpSocket* socket_;
};

CUdpSocket::CUdpSocket() : events_(static_cast<IDispatch*>(this), this, DIID__DUdpEvents) {}

CUdpSocket::~CUdpSocket() {
  // The control may outlive this object for a moment (it keeps itself alive while it raises an
  // event): it must find nothing of this object any more.
  if (site_) site_->Detach();
  controlEvents_.reset();
  if (auto object = control_.query<IOleObject>()) {
    object->Close(OLECLOSE_NOSAVE);
    object->SetClientSite(nullptr);
  }
  control_.reset();
  events_.DisconnectAll();
}

HRESULT CUdpSocket::Initialise() {
  site_ = fw::com_ptr<ControlSite>(new ControlSite(this), false);
  HRESULT hr = udp::CreateUdpCtrl(IID_IDispatch, control_.put_void());
  if (FAILED(hr)) return hr;
  ctrl_ = static_cast<udp::CUdpCtrl*>(static_cast<fw::COleControl*>(control_.get()));

  // As a container does it: the site first (the control makes its window then), then a new
  // control's defaults, then the events.
  auto object = control_.query<IOleObject>();
  auto persist = control_.query<IPersistStreamInit>();
  auto points = control_.query<IConnectionPointContainer>();
  if (!object || !persist || !points) return E_NOINTERFACE;
  if (FAILED(hr = object->SetClientSite(site_.get()))) return hr;
  if (FAILED(hr = persist->InitNew())) return hr;
  fw::com_ptr<IConnectionPoint> point;
  if (FAILED(hr = points->FindConnectionPoint(DIID__DUdpEvents, point.put()))) return hr;
  DWORD cookie = 0;
  if (FAILED(hr = point->Advise(static_cast<IDispatch*>(site_.get()), &cookie))) return hr;
  controlEvents_ = fw::unique_advise_cookie(point.get(), cookie);
  return S_OK;
}

// IDispatch

STDMETHODIMP CUdpSocket::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP CUdpSocket::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) {
  if (out) *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return TypeInfoOf(DIID__DUdpSocket, lcid, out);
}

STDMETHODIMP CUdpSocket::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                       DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  // As the control does: a caller that names a locale gets the type library's own look-up.
  if (lcid != 0) {
    fw::com_ptr<ITypeInfo> info;
    if (SUCCEEDED(GetTypeInfo(0, lcid, info.put()))) return info->GetIDsOfNames(names, count, ids);
  }
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  const fw::DispEntry* entry = OwnMembers().Find(names[0]);
  if (!entry) entry = FindControlMember(names[0]);
  ids[0] = entry ? entry->dispid : DISPID_UNKNOWN;
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return entry && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

STDMETHODIMP CUdpSocket::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  fw::com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  if (id != DISPID_ABOUTBOX && !OwnMembers().Find(id))
    return control_->Invoke(id, iid, lcid, flags, params, result, excepInfo, argErr);
  // The dispatcher hands its `self` to the entries untouched: the socket's own entries take back
  // the socket they were given.
  return OwnMembers().Invoke(reinterpret_cast<fw::COleControl*>(this), true, id, iid, flags,
                             params, result, excepInfo, argErr, kUserTypeName);
}

// IConnectionPointContainer

STDMETHODIMP CUdpSocket::EnumConnectionPoints(IEnumConnectionPoints** out) {
  IConnectionPoint* const points[] = {&events_};
  return fw::CreateEnumerator<IEnumConnectionPoints>(points, out);
}

STDMETHODIMP CUdpSocket::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, events_.iid())) return CONNECT_E_NOCONNECTION;
  *out = &events_;
  events_.AddRef();
  return S_OK;
}

// IProvideClassInfo, IProvideClassInfo2

STDMETHODIMP CUdpSocket::GetClassInfo(ITypeInfo** info) {
  return TypeInfoOf(CLSID_UdpSocket, ::GetUserDefaultLCID(), info);
}

STDMETHODIMP CUdpSocket::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = DIID__DUdpEvents;
  return S_OK;
}

// Events

void CUdpSocket::OnControlEvent(DISPID id, DISPPARAMS& params) {
  // A sink or a callback may let go of the last reference to this object.
  fw::com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  ++eventsRaised_;
  ++handlerDepth_;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{handlerDepth_};

  constexpr UINT kMaxArgs = 4;
  const UINT count = std::min(params.cArgs, kMaxArgs);
  if (id == udp::kEventReceived && count == 3) {
    ++datagramsReceived_;
    // Arguments come last first: IpAddress, Port, Data are elements 2, 1, 0.
    const VARIANT& address = params.rgvarg[2];
    const VARIANT& port = params.rgvarg[1];
    fromAddress_ = V_VT(&address) == VT_BSTR ? fw::WideFromBstr(V_BSTR(&address)) : L"";
    fromPort_ = V_VT(&port) == VT_BSTR ? fw::WideFromBstr(V_BSTR(&port)) : L"";
    // The control's data lives only while the event runs.
    if (receiving_ > 0) {
      receivedData_.reset();
      ::VariantCopyInd(&receivedData_, &params.rgvarg[0]);
    }
  }

  // The connection point takes the arguments in declared order.
  VARIANT declared[kMaxArgs];
  for (UINT i = 0; i < count; ++i) declared[i] = params.rgvarg[count - 1 - i];
  events_.Fire(id, std::span<VARIANT>(declared, count));
  RunCallback(id, params);
}

void CUdpSocket::RunCallback(DISPID id, DISPPARAMS& params) {
  const size_t slot = static_cast<size_t>(id - udp::kEventWsError);
  if (slot >= std::size(callbacks_)) return;
  // A copy: the callback may replace or remove itself.
  fw::com_ptr<IDispatch> callback = callbacks_[slot];
  if (!callback) return;
  fw::unique_variant result;
  EXCEPINFO excepInfo = {};
  UINT argErr = 0;
  const HRESULT hr = callback->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                      &params, &result, &excepInfo, &argErr);
  ::SysFreeString(excepInfo.bstrSource);
  ::SysFreeString(excepInfo.bstrDescription);
  ::SysFreeString(excepInfo.bstrHelpFile);
  // A callback that fails is ignored; the events that follow still reach the next ones.
  if (FAILED(hr) || id != udp::kEventWsError || params.cArgs < 4) return;
  // A script function cannot set CancelClose: a True result stands for it.
  VARIANT& cancelClose = params.rgvarg[0];
  fw::unique_variant truth;
  if (V_VT(&cancelClose) == (VT_BOOL | VT_BYREF) && V_BOOLREF(&cancelClose) &&
      SUCCEEDED(::VariantChangeType(&truth, &result, 0, VT_BOOL)) && V_BOOL(&truth))
    *V_BOOLREF(&cancelClose) = VARIANT_TRUE;
}

// Pumping

bool CUdpSocket::Pump(const std::function<bool()>& done, LONG milliseconds) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The host's own loop must still see it.
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return done();
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
      if (done()) return true;
    }
    if (done()) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }
}

// Class object and registration

HRESULT CreateUdpSocket(REFIID iid, void** out) {
  return fw::ComBarrier([&]() -> HRESULT {
    if (!out) return E_POINTER;
    *out = nullptr;
    fw::com_ptr<CUdpSocket> socket(new CUdpSocket(), false);
    HRESULT hr = socket->Initialise();
    if (FAILED(hr)) return hr;
    return socket->QueryInterface(iid, out);
  });
}

CUdpSocketFactory::CUdpSocketFactory()
    : COleObjectFactory(CLSID_UdpSocket, CreateUdpSocket, L"UDP.UdpSocket.1") {}

bool CUdpSocketFactory::UpdateRegistry(bool registering, HKEY root) {
  const std::wstring versionIndependent = kVersionIndependentProgId;
  const std::wstring clsid = fw::GuidText(ClassId());
  if (!registering) {
    if (!fw::UnregisterClass(root, ClassId(), ProgId())) return false;
    // Shared by both word sizes like the ProgID: it stays while the other one's class is there.
    if (fw::RegKeyExists(root, L"CLSID\\" + clsid + L"\\InprocServer32", fw::OtherRegistryView()))
      return true;
    return fw::DeleteRegTree(root, versionIndependent);
  }
  const std::wstring path = fw::ModuleShortPath();
  if (path.empty()) return false;
  const std::wstring progId = ProgId();
  const std::wstring cls = L"CLSID\\" + clsid;
  const fw::ControlClassInfo& control = udp::CUdpCtrl::ClassInfoOfUdp();
  return fw::SetRegString(root, progId, nullptr, kUserTypeName) &&
         fw::SetRegString(root, progId + L"\\CLSID", nullptr, clsid) &&
         fw::SetRegString(root, versionIndependent, nullptr, kUserTypeName) &&
         fw::SetRegString(root, versionIndependent + L"\\CLSID", nullptr, clsid) &&
         fw::SetRegString(root, versionIndependent + L"\\CurVer", nullptr, progId) &&
         fw::SetRegString(root, cls, nullptr, kUserTypeName) &&
         fw::SetRegString(root, cls + L"\\ProgID", nullptr, progId) &&
         fw::SetRegString(root, cls + L"\\VersionIndependentProgID", nullptr,
                          versionIndependent) &&
         fw::SetRegString(root, cls + L"\\InprocServer32", nullptr, path) &&
         fw::SetRegString(root, cls + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
         fw::SetRegString(root, cls + L"\\TypeLib", nullptr, fw::GuidText(*control.typeLibId)) &&
         fw::SetRegString(root, cls + L"\\Version", nullptr,
                          fw::TypeLibVersionText(control.typeLibVersion));
}

}  // namespace server
