// Creation, destruction, persistence, and what the control makes of its endpoint's events.
#include <new>

#include "control/endpoint_access.h"
#include "control/resource.h"
#include "control/udp_ctrl.h"
#include "endpoint/data_variant.h"
#include "endpoint/errors.h"
#include "endpoint/where_texts.h"
#include "framework/text.h"
#include "framework/ui_hooks.h"
#include "typelib/udp.h"

namespace udp {

namespace {
constexpr DWORD kPersistVersion = 0x00010000;  // 1.0
}  // namespace

const fw::ControlClassInfo& CUdpCtrl::ClassInfoOfUdp() {
  static const fw::ControlClassInfo info = {
      .clsid = &CLSID_Udp,
      .typeLibId = &LIBID_UDPLib,
      .typeLibVersion = {1, 0},
      .dispatchIid = &DIID__DUdp,
      .eventsIid = &DIID__DUdpEvents,
      .events = kUdpEvents,
      .initialSizePixels = {32, 32},
      .miscStatus = 0x20591,
      .userTypeName = L"Karvo Dgramix 1.10 ",
      .userTypeNameId = IDS_UDP,
      .windowClass = L"KarvoDgramixControl",
      .parkingWindowClass = L"KarvoDgramixParking",
      .streamSignature = 0x5847444B,  // "KDGX"
  };
  return info;
}

HRESULT CreateUdpCtrl(REFIID iid, void** out) { return fw::CreateObject<CUdpCtrl>(iid, out); }

CUdpCtrl::CUdpCtrl() : COleControl(ClassInfoOfUdp()), m_endpoint(*this) { m_endpoint.Start(); }

// The clean-up's failure is raised while the control can still raise it.
CUdpCtrl::~CUdpCtrl() { m_endpoint.Stop(); }

void CUdpCtrl::DoPropExchange(fw::CPropExchange& px) {
  ExchangeVersion(px, kPersistVersion, true);
  COleControl::DoPropExchange(px);
  EndpointAccess::ExchangeSaved(m_endpoint, px);
}

void CUdpCtrl::OnSetClientSite() {
  RecreateControlWindow();
  m_endpoint.OnWindowChanged();
}

// Notifications that waited in the ring while events were frozen are dispatched now.
void CUdpCtrl::OnEventsThawed() { m_endpoint.ResumeWaitingNotifications(); }

bool CUdpCtrl::OnSetExtent(const SIZEL&) { return false; }

// What the endpoint reports

void CUdpCtrl::OnEndpointReady() { FireEvent(kEventReady, {}); }
void CUdpCtrl::OnEndpointSent() { FireEvent(kEventSent, {}); }
void CUdpCtrl::OnEndpointClosed() { FireEvent(kEventClosed, {}); }

void CUdpCtrl::OnEndpointReceived(const SocketAddress&, BSTR address, BSTR port,
                                  const PacketDestination& to, const char* data, size_t length) {
  fw::unique_variant bytes;
  try {
    VariantFromBytes(data, static_cast<UINT>(length), &bytes);
  } catch (const std::bad_alloc&) {
    // The datagram has been taken from the socket and cannot be delivered: say so.
    m_endpoint.ReportFailure(kErrOutOfMemory, ErrorMessage(kErrOutOfMemory), where::kReadMemory);
    return;
  }
  // The texts stay the endpoint's: sinks take in-parameters without owning them.
  VARIANT args[3] = {};
  V_VT(&args[0]) = VT_BSTR;
  V_BSTR(&args[0]) = address;
  V_VT(&args[1]) = VT_BSTR;
  V_BSTR(&args[1]) = port;
  args[2] = bytes;
  // Raised now or, while the container holds events, later and in order: each Received takes its
  // own destination from the queue as it is raised.
  m_receivedDestinations.push_back(to);
  FireEvent(kEventReceived, args);
}

void CUdpCtrl::OnRaisingEvent(DISPID id) {
  if (id != kEventReceived || m_receivedDestinations.empty()) return;
  m_endpoint.SetCurrentDestination(m_receivedDestinations.front());
  m_receivedDestinations.pop_front();
}

void CUdpCtrl::OnEndpointFailure(const EndpointFailure& failure) {
  WhenEventsThawed([this, failure] { RaiseFailure(failure); });
}

void CUdpCtrl::RaiseFailure(const EndpointFailure& failure) {
  VARIANT_BOOL cancel = VARIANT_FALSE;
  try {
    fw::unique_variant args[4];
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = failure.ecode;
    V_BSTR(&args[1]) = fw::AllocBstr(failure.description);
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[2]) = fw::AllocBstr(failure.where);
    V_VT(&args[2]) = VT_BSTR;
    V_VT(&args[3]) = VT_BOOL | VT_BYREF;
    V_BOOLREF(&args[3]) = &cancel;
    VARIANT raw[4] = {args[0], args[1], args[2], args[3]};
    FireEvent(kEventWsError, raw);
  } catch (...) {
    m_endpoint.SettleFailure(failure, false);
    throw;
  }
  m_endpoint.SettleFailure(failure, cancel != VARIANT_FALSE);
}

void CUdpCtrl::RunEndpointMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT ignored = 0;
  HandleWindowMessage(message, wParam, lParam, ignored);
}

bool CUdpCtrl::TellUser(const wchar_t* text, UINT style) {
  fw::ShowMessageBox(GetSafeHwnd(), text, ClassInfo().userTypeName, style);
  return true;
}

}  // namespace udp
