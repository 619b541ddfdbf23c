// Sending: SendTo keeps one pending datagram and posts a write notification; the write handler
// sends it and raises Sent.
#include <algorithm>
#include <utility>

#include "endpoint/data_variant.h"
#include "endpoint/errors.h"
#include "endpoint/endpoint.h"
#include "endpoint/local_interfaces.h"
#include "endpoint/packet_info.h"
#include "endpoint/where_texts.h"
#include "framework/text.h"

namespace udp {

void Endpoint::SendTo(std::wstring_view remoteIp, std::wstring_view remotePort, VARIANT* data) {
  if (!m_socket) ThrowUdpError(kErrNotOpen);
  if (m_pendingData) ThrowUdpError(kErrNotWritable);
  if (remoteIp.empty() || remotePort.empty()) ThrowUdpError(kErrBadArgument);

  // The look-ups this call starts belong to its datagram: when the call fails they are cancelled,
  // or one of them would complete into the destination of a later datagram.
  struct OwnLookups {
    Endpoint& endpoint;
    bool port = false, host = false, kept = false;
    ~OwnLookups() {
      if (kept) return;
      if (port) endpoint.CancelLookup(endpoint.m_servLookup);
      if (host) endpoint.CancelLookup(endpoint.m_hostLookup);
      if (host) endpoint.m_addressLookup.Cancel();
    }
  } own{*this};

  auto& ws = Winsock();
  const bool ipv6 = m_socketFamily == kFamilyIpv6;
  // An IPv6 text is an address, never a name: a malformed one is refused, and an IPv4 socket
  // cannot reach a well-formed one. Both are known before anything starts.
  if (!ipv6 && LooksLikeIpv6(UpToNul(remoteIp))) {
    if (!SocketAddress::ParseIpv6(UpToNul(remoteIp))) ThrowUdpError(kErrBadArgument);
    FailCall(WSAEAFNOSUPPORT, true);
  }
  if (m_sockAddr.Family() != m_socketFamily) m_sockAddr = SocketAddress::AnyOf(m_socketFamily);
  const INT_PTR portLookup = AsyncGetServByName(fw::AnsiFromWide(remotePort));
  if (portLookup == -1) FailCall(ws.WSAGetLastError(), true);
  own.port = portLookup != 0;

  INT_PTR hostLookup = 0;
  if (ipv6) {
    hostLookup = ResolveIpv6Destination(remoteIp);
    own.host = hostLookup != 0;
  } else if (IsBroadcastText(remoteIp)) {
    CancelLookup(m_hostLookup);
    m_sockAddr.SetIpv4Net(INADDR_BROADCAST);
    m_broadcast = TRUE;
  } else {
    hostLookup = AsyncGetHostByName(fw::AnsiFromWide(remoteIp));
    if (hostLookup == -1) FailCall(ws.WSAGetLastError(), true);
    own.host = hostLookup != 0;
  }

  CheckSourceAddress();
  TakePendingData(data);
  m_broadcastTargets.clear();

  if (portLookup == 0 && hostLookup == 0 && !PostSocketNotify(FD_WRITE)) {
    // Nothing would ever send it: the call fails and leaves nothing pending.
    m_pendingData.reset();
    m_state = kStateFailed;
    ThrowUdpError(kErrOutOfMemory);
  }
  own.kept = true;
}

void Endpoint::HandleWrite(WPARAM, LPARAM) {
  // A datagram that failed is not tried again: once its failure is reported it goes.
  if (!m_socket || !m_pendingData || m_pendingFailed) return;
  // Not before Open's deferred bind: the datagram would leave from a port the system chose, and
  // the bind would then fail. The bind sends the held datagram on.
  if (m_bindPending) return;
  // Nor before its own look-ups: a write notification left over from an earlier datagram (the
  // ring keeps entries across Close and Open) would send it to a half-written destination. The
  // last completion sends it on.
  if (DestinationLookupOutstanding()) return;
  auto& ws = Winsock();
  // The option goes to the socket before the first datagram and whenever Broadcast has changed
  // since: setting the value the socket already has would cost a system call per datagram.
  const int broadcast = m_broadcast ? 1 : 0;
  if (broadcast != m_socketBroadcast) {
    if (ws.setsockopt(m_socket.get(), SOL_SOCKET, SO_BROADCAST,
                      reinterpret_cast<const char*>(&broadcast),
                      sizeof broadcast) == SOCKET_ERROR) {
      ReportWinsockFailure(ws.WSAGetLastError(), where::kBroadcastOption, true);
      return;
    }
    m_socketBroadcast = broadcast;
  }
  const size_t length = m_pendingData.size();
  if (!m_broadcastTargets.empty()) {
    if (!SendBroadcastCopies(length)) return;  // the sockets layer posts FD_WRITE again
    const int error = std::exchange(m_broadcastError, 0);
    m_broadcastTargets.clear();
    if (error != 0) {
      ReportWinsockFailure(error, where::kSend, true);
      return;
    }
    m_pendingData.reset();
    m_events.OnEndpointSent();
    return;
  }
  if (length > 0 && SendPending(m_sockAddr, length) == SOCKET_ERROR) {
    const int error = ws.WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return;  // the sockets layer posts FD_WRITE again when it can
    ReportWinsockFailure(error, where::kSend, true);
    return;
  }
  m_pendingData.reset();
  m_events.OnEndpointSent();
}

int Endpoint::udp_send(SOCKET s, const char* data, int length, int flags, const sockaddr* to,
                       int toLength) {
  return Winsock().sendto(s, data, length, flags, to, toLength);
}

void Endpoint::BroadcastAll(std::wstring_view remotePort, VARIANT* data) {
  if (!m_socket) ThrowUdpError(kErrNotOpen);
  if (m_pendingData) ThrowUdpError(kErrNotWritable);
  if (remotePort.empty()) ThrowUdpError(kErrBadArgument);
  // IPv6 has no broadcast, as SendTo says of the broadcast texts.
  if (m_socketFamily == kFamilyIpv6) FailCall(WSAEAFNOSUPPORT, true);
  const MulticastInterfaces found = MulticastInterfaceSource()();
  if (found.error != 0) ThrowSystemError(found.error);
  // Broadcasting nowhere is no broadcast: the host learns that no interface can carry one.
  if (found.broadcast.empty()) FailCall(WSAEADDRNOTAVAIL, true);
  CheckSourceAddress();

  struct OwnLookup {
    Endpoint& endpoint;
    bool started = false, kept = false;
    ~OwnLookup() {
      if (started && !kept) endpoint.CancelLookup(endpoint.m_servLookup);
    }
  } own{*this};
  // The port as SendTo reads it; the copies take their addresses from the list.
  m_sockAddr = SocketAddress::Ipv4(INADDR_BROADCAST);
  const INT_PTR portLookup = AsyncGetServByName(fw::AnsiFromWide(remotePort));
  if (portLookup == -1) FailCall(Winsock().WSAGetLastError(), true);
  own.started = portLookup != 0;
  // An outstanding host look-up of an earlier SendTo would overwrite nothing here, but would
  // hold this datagram back: it goes.
  CancelLookup(m_hostLookup);
  TakePendingData(data);
  m_broadcastTargets = found.broadcast;
  m_broadcastNext = 0;
  m_broadcastError = 0;
  // A broadcast needs the option, as a SendTo to the broadcast address sets it.
  m_broadcast = TRUE;
  if (portLookup == 0 && !PostSocketNotify(FD_WRITE)) {
    m_pendingData.reset();
    m_broadcastTargets.clear();
    m_state = kStateFailed;
    ThrowUdpError(kErrOutOfMemory);
  }
  own.kept = true;
}

int Endpoint::SendPending(const SocketAddress& to, size_t length) {
  // With a source address the datagram says which local address it leaves from.
  if (m_sourceAddress.Family() != AF_UNSPEC)
    return SendFrom(m_socket.get(), m_pendingData.data(), static_cast<int>(length), to,
                    m_sourceAddress);
  return udp_send(m_socket.get(), m_pendingData.data(), static_cast<int>(length), 0, to.Get(),
                  to.Length());
}

bool Endpoint::SendBroadcastCopies(size_t length) {
  auto& ws = Winsock();
  for (; m_broadcastNext < m_broadcastTargets.size(); ++m_broadcastNext) {
    const SocketAddress to =
        SocketAddress::Ipv4(m_broadcastTargets[m_broadcastNext], m_sockAddr.PortNet());
    if (length == 0 || SendPending(to, length) != SOCKET_ERROR) continue;
    const int error = ws.WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return false;
    // One copy that fails fails the datagram; the others still go.
    if (m_broadcastError == 0) m_broadcastError = error;
  }
  return true;
}

void Endpoint::SetSourceAddress(std::wstring_view address) {
  const std::wstring_view text = UpToNul(address);
  SocketAddress source;
  if (LooksLikeIpv6(text)) {
    const std::optional<SocketAddress> parsed = SocketAddress::ParseIpv6(text);
    if (!parsed) ThrowUdpError(kErrBadArgument);
    source = *parsed;
  } else if (!text.empty()) {
    const std::optional<unsigned long> parsed = ParseDotted(text);
    if (!parsed) ThrowUdpError(kErrBadArgument);
    source = SocketAddress::Ipv4(*parsed);
  }
  m_sourceAddressText = text;
  m_sourceAddress = source;
  m_sourceCheckedOn = 0;
}

void Endpoint::CheckSourceAddress() {
  if (m_sourceAddress.Family() == AF_UNSPEC) return;
  // An IPv4 source serves an IPv4 socket and the IPv4 peers of a dual-stack one.
  const bool usable = m_sourceAddress.Family() == AF_INET
                          ? m_socketFamily == AF_INET || IsDualStack()
                          : m_socketFamily == kFamilyIpv6;
  if (!usable) FailCall(WSAEAFNOSUPPORT, true);
  // A socket bound to one address leaves from it and no other.
  if (!m_bindAddr.IsAny() && !m_bindAddr.SameHost(m_sourceAddress)) FailCall(WSAEINVAL, true);
  // Windows refuses a source that is not this host's only at the send, outside the call: the
  // list of this host's addresses is asked once per endpoint and value.
  if (m_sourceCheckedOn == m_openCount) return;
  const MulticastInterfaces found = MulticastInterfaceSource()();
  if (found.error != 0) ThrowSystemError(found.error);
  // All of 127.0.0.0/8 is loopback, though the interface lists 127.0.0.1 alone.
  const SocketAddress source = m_sourceAddress.Unmapped();
  const bool loopbackNet =
      source.Family() == AF_INET && (Winsock().ntohl(source.Ipv4Net()) >> 24) == 127;
  if (!loopbackNet &&
      std::ranges::none_of(found.unicast,
                           [&](const SocketAddress& own) { return own.SameHost(source); }))
    FailCall(WSAEADDRNOTAVAIL, true);
  m_sourceCheckedOn = m_openCount;
}

void Endpoint::TakePendingData(VARIANT* data) {
  switch (m_pendingData.Take(data)) {
    case DataError::NotConvertible:
      m_state = kStateFailed;
      ThrowUdpError(kErrBadArgument);
    case DataError::CannotFlatten:
      m_state = kStateFailed;
      ThrowUdpError(kErrOutOfMemory);
    case DataError::None:
      break;
  }
  m_pendingNumber = ++m_datagramsTaken;
}

BOOL Endpoint::GetSendable() const { return m_socket && !m_pendingData; }

}  // namespace udp
