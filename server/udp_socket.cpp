// The UdpSocket object: the control it creates and listens to, the members it dispatches (its
// own, then the control's), its class object and its registration.
#include "server/udp_socket.h"

#include <olectl.h>

#include <algorithm>
#include <new>

#include "control/udp_ctrl.h"
#include "framework/automation_error.h"
#include "framework/dispatcher.h"
#include "framework/registration.h"
#include "framework/text.h"
#include "framework/type_library.h"

namespace server {

namespace {

constexpr wchar_t kUserTypeName[] = L"Karvo Dgramix 1.10 UdpSocket";
constexpr wchar_t kVersionIndependentProgId[] = L"UDP.UdpSocket";

const fw::Dispatcher<CUdpSocket>& OwnMembers() {
  static const fw::Dispatcher<CUdpSocket> dispatcher(kUdpSocketDispatch);
  return dispatcher;
}

// The control's members that the socket offers: all but the About box, which needs a form.
bool OffersControlMember(DISPID id) { return id != DISPID_ABOUTBOX; }

fw::AutomationClass SocketAutomation() {
  const fw::ControlClassInfo& control = udp::CUdpCtrl::ClassInfoOfUdp();
  return {&CLSID_UdpSocket, control.typeLibId, control.typeLibVersion, &DIID__DUdpSocket,
          &DIID__DUdpEvents};
}

}  // namespace

CUdpSocket::CUdpSocket()
    : automation_object(SocketAutomation()),
      m_queueLimit(kDefaultQueueLimit),
      m_queueByteLimit(kDefaultQueueByteLimit) {}

CUdpSocket::~CUdpSocket() {
  // The control goes with this object: it must call nothing of it any more. Its destruction
  // closes the socket without an event.
  if (m_endpoint) m_endpoint->SetListener(nullptr);
  m_endpoint.reset();
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

// The members

DISPID CUdpSocket::MemberId(const wchar_t* name) const {
  if (const auto* own = OwnMembers().Find(name)) return own->dispid;
  const auto* control = udp::UdpDispatcher().Find(name);
  return control && OffersControlMember(control->dispid) ? control->dispid : DISPID_UNKNOWN;
}

HRESULT CUdpSocket::InvokeMember(DISPID id, REFIID iid, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  HRESULT hr;
  // Every error names this object as its source, the control's members' too.
  if (OwnMembers().Find(id) || !OffersControlMember(id))
    hr = OwnMembers().Invoke(*this, true, id, iid, flags, params, result, excepInfo, argErr,
                             kUserTypeName);
  else
    hr = udp::UdpDispatcher().Invoke(*m_endpoint.get(), m_endpoint->IsInitialised(), id, iid, flags,
                                     params, result, excepInfo, argErr, kUserTypeName);
  // What the call made happen (Closed after Close, say) is raised before it returns to the host.
  fw::ComBarrier([&] { RaiseHeldEvents(); });
  return hr;
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
         fw::SetRegString(root, cls + L"\\VersionIndependentProgID", nullptr, versionIndependent) &&
         fw::SetRegString(root, cls + L"\\InprocServer32", nullptr, path) &&
         fw::SetRegString(root, cls + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
         fw::SetRegString(root, cls + L"\\TypeLib", nullptr, fw::GuidText(*control.typeLibId)) &&
         fw::SetRegString(root, cls + L"\\Version", nullptr,
                          fw::TypeLibVersionText(control.typeLibVersion));
}

}  // namespace server
