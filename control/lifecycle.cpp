// Creation, destruction, persistence, event raising and the failure convention.
#include <cstdio>

#include "control/errors.h"
#include "control/resource.h"
#include "control/udp_ctrl.h"
#include "control/where_texts.h"
#include "framework/automation_error.h"
#include "framework/text.h"
#include "typelib/udp.h"

namespace udp {

namespace {
constexpr wchar_t kBanner[] =
    L"Karvo Dgramix UDP Control Version 1.11  Copyright (C) 1997-2026 Karvo Software";
constexpr DWORD kPersistVersion = 0x00010000;  // 1.0

// The receive buffer for the maximum datagram size the sockets layer reports; 0 (no limit, or
// nothing reported because the start-up failed) gives the largest IPv4 UDP payload.
LONG ReceiveBufferSize(unsigned reportedMax) {
  return reportedMax == 0 ? 65467 : reportedMax < 512 ? 512 : static_cast<LONG>(reportedMax);
}
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

CUdpCtrl::CUdpCtrl() : COleControl(ClassInfoOfUdp()), m_banner(kBanner) {
  const int started = WsaStartup();
  // Even a control whose start-up failed may open a socket (another one keeps Windows Sockets
  // started): its reads need a buffer all the same.
  m_maxDatagram = ReceiveBufferSize(started == 0 ? m_wsaData.iMaxUdpDg : 0);
  if (started != 0) {
    m_state = kStateFailed;
    m_lastError = started;
    ReportFailure(started, ErrorMessage(kErrWinsock), where::kStartup);
    return;
  }
  if (LOBYTE(m_wsaData.wVersion) != 1 || HIBYTE(m_wsaData.wVersion) != 1) {
    WsaCleanup();
    m_state = kStateFailed;
    ReportFailure(kErrWinsockVersion, ErrorMessage(kErrWinsockVersion), where::kStartup);
    return;
  }
  m_wsaStarted = true;
  m_sockAddr = SocketAddress();

  wchar_t text[32];
  std::swprintf(text, 32, L"%d.%d", LOBYTE(m_wsaData.wVersion), HIBYTE(m_wsaData.wVersion));
  m_winsockVer = text;
  m_winsockDesc = fw::WideFromAnsi(m_wsaData.szDescription);
  m_winsockSysStat = fw::WideFromAnsi(m_wsaData.szSystemStatus);
  std::swprintf(text, 32, L"%u", static_cast<unsigned>(m_wsaData.iMaxSockets));
  m_winsockMaxSockets = text;
  std::swprintf(text, 32, L"%u", static_cast<unsigned>(m_wsaData.iMaxUdpDg));
  m_winsockMaxDatagram = text;

  char hostName[kHostNameBufferSize] = {};
  if (GetLocalHostName(hostName, kHostNameBufferSize) != 0) {
    m_hostName.clear();
    m_state = kStateFailed;
    m_lastError = m_wsaError;
    ReportFailure(m_wsaError, ErrorMessage(kErrWinsock), where::kHostName);
    return;
  }
  m_hostName = fw::WideFromAnsi(hostName);
}

CUdpCtrl::~CUdpCtrl() {
  ReleaseEndpoint(m_socket);
  HandOverLookups();
  m_anyData.reset();
  if (m_wsaStarted) {
    m_wsaStarted = false;
    if (WsaCleanup() != 0) {
      m_state = kStateFailed;
      m_lastError = m_wsaError;
      ReportFailure(m_wsaError, ErrorMessage(kErrWinsock), where::kCleanup);
      return;
    }
  }
  m_state = kStateClosed;
}

int CUdpCtrl::WsaStartup() {
  int r = Winsock().WSAStartup(0x0101, &m_wsaData);
  if (r != 0) m_wsaError = r;
  return r;
}

int CUdpCtrl::WsaCleanup() {
  int r = Winsock().WSACleanup();
  if (r != 0) m_wsaError = Winsock().WSAGetLastError();
  return r;
}

int CUdpCtrl::GetLocalHostName(char* buffer, int length) {
  int r = Winsock().gethostname(buffer, length);
  if (r != 0) m_wsaError = Winsock().WSAGetLastError();
  return r;
}

void CUdpCtrl::DoPropExchange(fw::CPropExchange& px) {
  ExchangeVersion(px, kPersistVersion, true);
  COleControl::DoPropExchange(px);
  fw::PX_Bool(px, L"Broadcast", m_broadcast, FALSE);
  fw::PX_Long(px, L"LastError", m_lastError, 0);
  fw::PX_Long(px, L"InetIp", m_inetIp, 0);
  fw::PX_String(px, L"InetName", m_inetName, L"");
  fw::PX_String(px, L"InetAddress", m_inetAddress, L"");
  fw::PX_String(px, L"UserFlag", m_userFlag, L"");
  fw::PX_String(px, L"UserData1", m_userData1, L"");
  fw::PX_String(px, L"UserData2", m_userData2, L"");
  fw::PX_String(px, L"UserData3", m_userData3, L"");
  fw::PX_String(px, L"UserData4", m_userData4, L"");
  fw::PX_String(px, L"UserData5", m_userData5, L"");
  fw::PX_Long(px, L"RCVBUF", m_rcvbuf, 0);
  fw::PX_Long(px, L"SNDBUF", m_sndbuf, 0);
}

void CUdpCtrl::OnSetClientSite() {
  RecreateControlWindow();
  if (m_socket == INVALID_SOCKET) return;
  // An open socket keeps reporting to the window that exists now, not to the one just destroyed.
  Winsock().WSAAsyncSelect(m_socket, GetSafeHwnd(), kMsgSocketNotify, FD_READ | FD_WRITE);
  // What the control had posted to the old window died with it: the continue message of waiting
  // notifications, Ready's write notification, the write notification of a pending datagram.
  // Posting one of them twice is harmless.
  ResumeWaitingNotifications();
  if (!m_readyFired) PostSocketNotify(FD_WRITE);
  SendWhenResolved();
}

// Notifications that waited in the ring while events were frozen are dispatched now.
void CUdpCtrl::OnEventsThawed() { ResumeWaitingNotifications(); }

void CUdpCtrl::ResumeWaitingNotifications() {
  if (m_socket != INVALID_SOCKET && !m_inNotify && !AreEventsHeld() && m_notifyIn != m_notifyOut)
    PostSocketNotify(0);
}

bool CUdpCtrl::OnSetExtent(const SIZEL&) { return false; }

// Events

void CUdpCtrl::FireWsError(LONG ecode, const std::wstring& description, const wchar_t* where,
                           BOOL* cancelClose) {
  VARIANT_BOOL cancel = VARIANT_FALSE;
  fw::unique_variant args[4];
  V_VT(&args[0]) = VT_I4;
  V_I4(&args[0]) = ecode;
  V_BSTR(&args[1]) = fw::AllocBstr(description);
  V_VT(&args[1]) = VT_BSTR;
  V_BSTR(&args[2]) = fw::AllocBstr(where);
  V_VT(&args[2]) = VT_BSTR;
  V_VT(&args[3]) = VT_BOOL | VT_BYREF;
  V_BOOLREF(&args[3]) = &cancel;
  VARIANT raw[4] = {args[0], args[1], args[2], args[3]};
  FireEvent(kEventWsError, raw);
  *cancelClose = cancel != VARIANT_FALSE;
}

void CUdpCtrl::FireReceived(BSTR ipAddress, BSTR port, VARIANT* data) {
  // The texts stay the caller's: sinks take in-parameters without owning them.
  VARIANT raw[3] = {};
  V_VT(&raw[0]) = VT_BSTR;
  V_BSTR(&raw[0]) = ipAddress;
  V_VT(&raw[1]) = VT_BSTR;
  V_BSTR(&raw[1]) = port;
  raw[2] = *data;
  FireEvent(kEventReceived, raw);
}

void CUdpCtrl::FireToListenerOrSinks(DISPID event, void (EndpointListener::*heard)()) {
  if (m_listener)
    (m_listener->*heard)();
  else
    FireEvent(event, {});
}
void CUdpCtrl::FireClosed() {
  FireToListenerOrSinks(kEventClosed, &EndpointListener::OnEndpointClosed);
}
void CUdpCtrl::FireReady() {
  FireToListenerOrSinks(kEventReady, &EndpointListener::OnEndpointReady);
}
void CUdpCtrl::FireSent() { FireToListenerOrSinks(kEventSent, &EndpointListener::OnEndpointSent); }

void CUdpCtrl::OnMessageHandled() {
  if (m_listener) m_listener->OnEndpointIdle();
}

// The failure convention

void CUdpCtrl::ReportFailure(LONG ecode, const wchar_t* description, const wchar_t* where,
                             bool failedDatagram) {
  // One failure per datagram: once it failed, what else goes wrong with it is already told.
  if (failedDatagram && m_pendingFailed) return;
  // The endpoint is taken now: when the report waits, the host may have opened another since.
  const EndpointFailure failure{ecode, description, where, m_openCount,
                                failedDatagram ? m_pendingNumber : 0};
  if (failedDatagram) {
    m_pendingFailed = true;
    // The datagram's other look-up has nothing left to do: its completion must not report the
    // same datagram again.
    CancelLookup(m_hostLookup);
    CancelLookup(m_servLookup);
  }
  // However the report ends (no memory to hold it, a handler's failure), the failure is settled
  // as one nobody cancelled: otherwise a failed datagram would stay pending and every SendTo
  // would answer "not writable" until Close.
  try {
    if (m_listener)
      m_listener->OnEndpointFailure(failure);
    else
      WhenEventsThawed([this, failure] { RaiseFailure(failure); });
  } catch (...) {
    SettleFailure(failure, false);
    throw;
  }
}

void CUdpCtrl::RaiseFailure(const EndpointFailure& failure) {
  BOOL cancelClose = FALSE;
  try {
    FireWsError(failure.ecode, failure.description, failure.where, &cancelClose);
  } catch (...) {
    SettleFailure(failure, false);
    throw;
  }
  SettleFailure(failure, cancelClose != FALSE);
}

void CUdpCtrl::SettleFailure(const EndpointFailure& failure, bool cancelClose) {
  // A handler that reopened the port, or a host that opened another since, keeps it.
  if (failure.endpoint != m_openCount) return;
  if (!cancelClose) Close();
  if (!failure.failedDatagram || m_socket == INVALID_SOCKET) return;
  // A datagram the host sent after this one failed (from the handler, once Sendable allowed) is
  // not this failure's to drop.
  if (!m_pendingData || m_pendingNumber != failure.failedDatagram) return;
  // The host keeps the port open so that it goes on working: the datagram whose failure it has
  // just heard goes (its look-ups were cancelled when it failed).
  m_pendingData.reset();
  m_pendingFailed = false;
}

void CUdpCtrl::ReportWinsockFailure(int wsaError, const wchar_t* where, bool failedDatagram) {
  m_state = kStateFailed;
  m_lastError = wsaError;
  ReportFailure(wsaError, ErrorMessage(kErrWinsock), where, failedDatagram);
}

void CUdpCtrl::FailCall(int wsaError, bool setFailedState) {
  if (setFailedState) m_state = kStateFailed;
  m_lastError = wsaError;
  ThrowWinsockError(wsaError);
}

}  // namespace udp
