// Windows Sockets start-up and clean-up for the endpoint's owner, and the facts the start-up gives.
#include <cstdio>

#include "endpoint/endpoint.h"
#include "endpoint/errors.h"
#include "endpoint/lookup_relay.h"
#include "endpoint/where_texts.h"
#include "framework/text.h"

namespace udp {

namespace {
constexpr wchar_t kBanner[] =
    L"Karvo Dgramix UDP Control Version 1.11  Copyright (C) 1997-2026 Karvo Software";

// The receive buffer for the maximum datagram size the sockets layer reports; 0 (no limit, or
// nothing reported because the start-up failed) gives the largest IPv4 UDP payload.
LONG ReceiveBufferSize(unsigned reportedMax) {
  return reportedMax == 0 ? 65467 : reportedMax < 512 ? 512 : static_cast<LONG>(reportedMax);
}
}  // namespace

Endpoint::Endpoint(EndpointEvents& events) : m_events(events), m_banner(kBanner) {}

Endpoint::~Endpoint() { Release(false); }

void Endpoint::Start() {
  const int started = WsaStartup();
  // Even an endpoint whose start-up failed may open a socket (another one keeps Windows Sockets
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

void Endpoint::Stop() { Release(true); }

void Endpoint::Release(bool reportFailure) {
  ReleaseEndpoint(m_socket.release());
  HandOverLookups();
  m_anyData.reset();
  if (m_wsaStarted) {
    m_wsaStarted = false;
    if (WsaCleanup() != 0) {
      m_state = kStateFailed;
      m_lastError = m_wsaError;
      if (reportFailure) ReportFailure(m_wsaError, ErrorMessage(kErrWinsock), where::kCleanup);
      return;
    }
  }
  m_state = kStateClosed;
}

int Endpoint::WsaStartup() {
  int r = Winsock().WSAStartup(0x0101, &m_wsaData);
  if (r != 0) m_wsaError = r;
  return r;
}

int Endpoint::WsaCleanup() {
  int r = Winsock().WSACleanup();
  if (r != 0) m_wsaError = Winsock().WSAGetLastError();
  return r;
}

int Endpoint::GetLocalHostName(char* buffer, int length) {
  int r = Winsock().gethostname(buffer, length);
  if (r != 0) m_wsaError = Winsock().WSAGetLastError();
  return r;
}

}  // namespace udp
