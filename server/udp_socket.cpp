// The UdpSocket object: the control it creates and listens to, its dispatch interface, its
// connection point and class information, its class object and its registration.
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

CUdpSocket::CUdpSocket()
    : m_events(static_cast<IDispatch*>(this), this, DIID__DUdpEvents),
      m_queueLimit(kDefaultQueueLimit),
      m_queueByteLimit(kDefaultQueueByteLimit) {}

CUdpSocket::~CUdpSocket() {
  // The control goes with this object: it must call nothing of it any more. Its destruction
  // closes the socket without an event.
  if (m_endpoint) m_endpoint->SetListener(nullptr);
  m_endpoint.reset();
  m_events.DisconnectAll();
}

HRESULT CUdpSocket::Initialise() {
  m_endpoint = fw::com_ptr<udp::CUdpCtrl>(new udp::CUdpCtrl(), false);
  // What a container would do, without one: the control's window, which receives its socket's
  // notifications, then a new control's defaults.
  m_endpoint->RecreateControlWindow();
  if (!m_endpoint->GetSafeHwnd()) return E_OUTOFMEMORY;
  const HRESULT hr = m_endpoint->InitNew();
  if (FAILED(hr)) return hr;
  m_endpoint->SetListener(this);
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
  HRESULT hr;
  if (id != DISPID_ABOUTBOX && !OwnMembers().Find(id)) {
    hr = m_endpoint->Invoke(id, iid, lcid, flags, params, result, excepInfo, argErr);
    // Every error of this object names it as its source, the control's members' too.
    if (hr == DISP_E_EXCEPTION && excepInfo) {
      ::SysFreeString(excepInfo->bstrSource);
      excepInfo->bstrSource = ::SysAllocString(kUserTypeName);
    }
  } else {
    // The dispatcher hands its `self` to the entries untouched: the socket's own entries take back
    // the socket they were given.
    hr = OwnMembers().Invoke(reinterpret_cast<fw::COleControl*>(this), true, id, iid, flags,
                             params, result, excepInfo, argErr, kUserTypeName);
  }
  // What the call made happen (Closed after Close, say) is raised before it returns to the host.
  fw::ComBarrier([&] { RaiseHeldEvents(); });
  return hr;
}

// IConnectionPointContainer

STDMETHODIMP CUdpSocket::EnumConnectionPoints(IEnumConnectionPoints** out) {
  IConnectionPoint* const points[] = {&m_events};
  return fw::CreateEnumerator<IEnumConnectionPoints>(points, out);
}

STDMETHODIMP CUdpSocket::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, m_events.iid())) return CONNECT_E_NOCONNECTION;
  *out = &m_events;
  m_events.AddRef();
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
