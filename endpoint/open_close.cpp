// Opening and closing the one UDP endpoint.
#include "endpoint/errors.h"
#include "endpoint/endpoint.h"
#include "framework/text.h"

namespace udp {

namespace {
constexpr DWORD kSioUdpConnReset = 0x9800000C;  // _WSAIOW(IOC_VENDOR, 12)
}  // namespace

void Endpoint::Open(const std::wstring& localPort) {
  if (m_socket) ThrowUdpError(kErrAlreadyOpen);
  // The family comes from the local address: an IPv6 text opens an IPv6 socket, anything else
  // the IPv4 socket it always was. An IPv6 text that is no address is refused before anything is
  // made: read as no address at all, it would open the port on every IPv4 address.
  const bool ipv6 = LooksLikeIpv6(m_localAddress);
  if (ipv6 && !SocketAddress::ParseIpv6(LocalAddressText())) ThrowUdpError(kErrBadArgument);
  const int family = ipv6 ? kFamilyIpv6 : AF_INET;
  m_bindPending = FALSE;
  auto& ws = Winsock();
  unique_socket socket(ws.socket(family, SOCK_DGRAM, 0));
  if (!socket) FailCall(ws.WSAGetLastError(), true);
  // Before the bind: the system reads both the family option and the port-sharing ones there.
  if (ipv6 && !SetDualStack(socket.get(), !m_ipv6Only)) FailCall(ws.WSAGetLastError(), true);
  if (const int error = ApplyMulticastOptions(socket.get(), family)) FailCall(error, true);
  // Windows fails the next read with WSAECONNRESET after a datagram meets a port where nobody
  // listens; switch that report off. A stack without the option reports nothing of the kind, and
  // where it comes anyway the read handler skips it.
  BOOL reportReset = FALSE;
  DWORD returned = 0;
  ws.WSAIoctl(socket.get(), kSioUdpConnReset, &reportReset, sizeof reportReset, nullptr, 0,
              &returned, nullptr, nullptr);

  // A look-up started here belongs to this Open: when the call fails it is cancelled, or its
  // completion would bind, or close, whatever endpoint is open then.
  struct OwnLookup {
    Endpoint& endpoint;
    bool started = false, kept = false;
    ~OwnLookup() {
      if (!started || kept) return;
      endpoint.CancelLookup(endpoint.m_localServLookup);
      endpoint.m_bindPending = FALSE;
    }
  } own{*this};
  bool bindNow = true;
  if (!localPort.empty() && localPort != L"0") {
    // The text is taken whole: a long service name is looked up as it stands, never cut short.
    const INT_PTR started = AsyncGetLocalServByName(fw::AnsiFromWide(localPort));
    if (started == -1) FailCall(ws.WSAGetLastError(), true);
    if (started == 0) {
      SetLocalSockAddr(m_localAddress, m_localPortNet);
    } else {
      m_bindPending = TRUE;
      own.started = true;
      bindNow = false;
    }
  } else {
    SetLocalSockAddr(m_localAddress, 0);
  }
  if (bindNow && ws.bind(socket.get(), m_bindAddr.Get(), m_bindAddr.Length()) == SOCKET_ERROR)
    FailCall(ws.WSAGetLastError(), true);
  // Each datagram's destination is read with it where the system can tell it; elsewhere the
  // reads stay recvfrom and the destination is unknown.
  m_destinations.Enable(socket.get(), family, ipv6 && !m_ipv6Only);
  if (ws.WSAAsyncSelect(socket.get(), Window(), kMsgSocketNotify, FD_READ | FD_WRITE) ==
      SOCKET_ERROR)
    FailCall(ws.WSAGetLastError(), true);

  own.kept = true;
  ++m_openCount;
  m_state = kStateOpened;
  m_readyFired = false;
  m_socketFamily = family;
  m_socket = std::move(socket);
}

void Endpoint::Close() {
  // Released first: what the Closed handler reads says closed.
  const SOCKET old = m_socket.release();
  m_state = kStateClosed;
  if (old != INVALID_SOCKET) {
    ReleaseEndpoint(old);
    m_events.OnEndpointClosed();
  }
}

int Endpoint::ReleaseEndpoint(SOCKET socket) {
  auto& ws = Winsock();
  // Closed here rather than by the handle's owner, so that a failed close is recorded.
  if (socket != INVALID_SOCKET && ws.closesocket(socket) == SOCKET_ERROR)
    m_lastError = ws.WSAGetLastError();
  CancelLookup(m_hostLookup);
  CancelLookup(m_servLookup);
  CancelLookup(m_localServLookup);
  m_addressLookup.Cancel();
  m_pendingData.Release();
  m_broadcastTargets.clear();
  m_pendingFailed = false;
  m_receiveBuffer.reset();
  m_socketBroadcast = -1;
  m_memberships.clear();
  m_ipv6Memberships.clear();
  m_destinations.Disable();
  return 0;
}

LONG Endpoint::GetSocket() const { return static_cast<LONG>(m_socket.get()); }

}  // namespace udp
