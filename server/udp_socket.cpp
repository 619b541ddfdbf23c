// The UdpSocket object: its endpoint and notification window, the members it dispatches (its own,
// then the shared ones), its class object and its registration.
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

constexpr wchar_t kWindowClass[] = L"KarvoDgramixSocket";

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

// The endpoint's destruction closes the socket without an event.
CUdpSocket::~CUdpSocket() = default;

HRESULT CUdpSocket::Initialise() {
  if (!m_window.Create(kWindowClass,
                       [this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                         return OnWindowMessage(message, wParam, lParam, result);
                       }))
    return E_OUTOFMEMORY;
  m_endpoint.Start();
  return S_OK;
}

bool CUdpSocket::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  // A sink or a callback may let go of the last reference to this object.
  fw::com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  bool handled = false;
  // An error that no call takes has nobody to be shown to: the endpoint reports what a host must
  // hear as a failure.
  fw::ComBarrier([&] { handled = m_endpoint.OnMessage(message, wParam, lParam, result); });
  // The endpoint's code has finished with the message: handlers may now run and pump messages.
  if (handled) fw::ComBarrier([&] { RaiseHeldEvents(); });
  return handled;
}

void CUdpSocket::RunEndpointMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT ignored = 0;
  OnWindowMessage(message, wParam, lParam, ignored);
}

// The members

DISPID CUdpSocket::MemberId(const wchar_t* name) const {
  if (const auto* own = OwnMembers().Find(name)) return own->dispid;
  const auto* shared = udp::UdpDispatcher().Find(name);
  return shared ? shared->dispid : DISPID_UNKNOWN;
}

HRESULT CUdpSocket::InvokeMember(DISPID id, REFIID iid, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  HRESULT hr;
  // Every error names this object as its source, the shared members' too.
  if (OwnMembers().Find(id) || !udp::UdpDispatcher().Find(id))
    hr = OwnMembers().Invoke(*this, true, id, iid, flags, params, result, excepInfo, argErr,
                             kUserTypeName);
  else
    hr = udp::UdpDispatcher().Invoke(m_endpoint, true, id, iid, flags, params, result, excepInfo,
                                     argErr, kUserTypeName);
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
