// Look-up completions, the Inet trio and the local endpoint.
//
// A completion reaches its handler only when its channel claims it (udp_dispatch.cpp). A cancelled
// request's completion, if one comes at all, goes no further than the look-up relay, which frees
// its buffer. Inet requests are superseded without being cancelled, so each Inet completion still
// applies the result of its own request, from the buffer its channel kept for it.
#include <cstring>

#include "endpoint/errors.h"
#include "endpoint/lookup_relay.h"
#include "endpoint/where_texts.h"
#include "endpoint/endpoint.h"
#include "framework/text.h"

namespace udp {

namespace {

// Where HostIp looks when no remote host is named: a root name server, reached through the
// default route. The probe only connects a datagram socket, which sends nothing.
constexpr char kRouteProbeTarget[] = "198.41.0.4";
constexpr u_short kRouteProbePort = 53;
constexpr int kHostIpNameBufferSize = 200;

// The first IPv4 address of a host entry; false when the entry carries none.
bool FirstAddress(const hostent* entry, in_addr& address) {
  if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list ||
      !entry->h_addr_list[0])
    return false;
  std::memcpy(&address, entry->h_addr_list[0], sizeof address);
  return true;
}

// The local address of the route toward `to`: on a datagram socket connect only chooses the
// route, and with it the local address, and sends nothing. 0, or the Windows Sockets error.
int LocalAddressToward(SocketAddress to, SocketAddress& local) {
  auto& ws = Winsock();
  unique_socket probe(ws.socket(to.Family(), SOCK_DGRAM, 0));
  if (!probe) return ws.WSAGetLastError();
  const SocketAddress any = SocketAddress::AnyOf(to.Family());
  ws.bind(probe.get(), any.Get(), any.Length());
  to.SetPortNet(ws.htons(kRouteProbePort));
  if (ws.connect(probe.get(), to.Get(), to.Length()) == SOCKET_ERROR) return ws.WSAGetLastError();
  int length = 0;
  if (ws.getsockname(probe.get(), local.Out(&length), &length) == SOCKET_ERROR)
    return ws.WSAGetLastError();
  local.Written(length);
  return 0;
}

}  // namespace

// Socket look-ups

void Endpoint::OnAsyncGetHostByName(const LookupCompletion& completion) {
  int error = completion.error();
  in_addr address{};
  // An entry without an IPv4 address cannot give a destination: it fails like an unknown name.
  if (error == 0 && !FirstAddress(completion.host(), address)) error = WSANO_DATA;
  if (error != 0) {
    // The datagram failed: the other look-up of its destination does not resume it, and it goes
    // once the failure is reported.
    m_hostLookup.Finish(completion);
    ReportWinsockFailure(error, where::kGetHost, true);
    return;
  }
  m_state = kStateLookedUp;
  m_sockAddr.SetIpv4Net(address.s_addr);
  m_hostLookup.Finish(completion);
  SendWhenResolved();
}

void Endpoint::OnGetAddrInfoEx(const AddressLookupResult& result) {
  // The resolver's first address in its order; on a dual-stack socket an IPv4 one is reached by
  // its mapped address.
  int error = result.error;
  if (error == 0 && result.addresses.empty()) error = WSANO_DATA;
  if (error != 0) {
    ReportWinsockFailure(error, where::kGetAddrInfo, true);
    return;
  }
  m_state = kStateLookedUp;
  m_sockAddr.SetHost(result.addresses.front().Mapped());
  SendWhenResolved();
}

void Endpoint::OnAsyncGetServByName(const LookupCompletion& completion) {
  if (const int error = completion.error()) {
    m_servLookup.Finish(completion);
    ReportWinsockFailure(error, where::kGetServ, true);
    return;
  }
  m_sockAddr.SetPortNet(static_cast<u_short>(completion.service()->s_port));
  m_servLookup.Finish(completion);
  SendWhenResolved();
}

void Endpoint::OnAsyncGetLocalServByName(const LookupCompletion& completion) {
  if (const int error = completion.error()) {
    // No bind will follow: a datagram held back for it goes out like any other, from the port the
    // system chooses, unless the report closes the endpoint first.
    if (m_bindPending) {
      m_bindPending = FALSE;
      SendWhenResolved();
    }
    ReportWinsockFailure(error, where::kGetLocalServ);
    return;
  }
  m_localPortNet = static_cast<u_short>(completion.service()->s_port);
  m_localServLookup.Finish(completion);
  // The bind belongs to Open: it is made as soon as the port is known, whatever look-ups a
  // SendTo is still waiting for, so that a failed remote look-up cannot leave the port unbound.
  if (m_socket && m_bindPending) MakeDeferredBind();
}

void Endpoint::SendWhenResolved() {
  // While the bind is owed the datagram waits for it (it must not leave from a port the system
  // chose for it, which the bind would then find taken): the bind, or its failure, sends it on.
  if (!m_socket || !m_pendingData || m_pendingFailed || DestinationLookupOutstanding() ||
      m_bindPending)
    return;
  PostPendingWrite();
}

void Endpoint::PostPendingWrite() {
  if (PostSocketNotify(FD_WRITE)) return;
  m_pendingData.reset();
  m_state = kStateFailed;
  ReportFailure(kErrOutOfMemory, ErrorMessage(kErrOutOfMemory), where::kPostWrite);
}

bool Endpoint::PostSocketNotify(LPARAM eventWord) {
  // Without a window a post would go to the thread's queue, where no handler sees it.
  HWND window = Window();
  return window &&
         ::PostMessageW(window, kMsgSocketNotify, static_cast<WPARAM>(m_socket.get()), eventWord);
}

void Endpoint::MakeDeferredBind() {
  m_bindPending = FALSE;
  // An IPv4 socket binds every address, as it always did; an IPv6 one the address it was opened
  // for, which Open has checked.
  SetLocalSockAddr(m_socketFamily == kFamilyIpv6 ? m_localAddress : L"255.255.255.255",
                   m_localPortNet);
  auto& ws = Winsock();
  if (ws.bind(m_socket.get(), m_bindAddr.Get(), m_bindAddr.Length()) == SOCKET_ERROR) {
    const int error = ws.WSAGetLastError();
    // The port will not be bound now: a datagram held back for it goes out as any other.
    SendWhenResolved();
    // No call takes it: an owner on a form shows it to its user, one without a form hears of it
    // as of any failure outside a call.
    m_state = kStateFailed;
    m_lastError = error;
    if (!m_events.TellUser(ErrorMessage(kErrWinsock), MB_OK | MB_ICONSTOP))
      ReportWinsockFailure(error, where::kGetLocalServ);
    return;
  }
  SendWhenResolved();
}

// The Inet trio

void Endpoint::StartInetLookup(const std::function<HANDLE(HWND, char*)>& start) {
  // An outstanding request is superseded but not cancelled: its completion still applies.
  const HANDLE task = StartLookup(
      m_inetLookup, false, [&](char* buffer) { return start(lookup_relay::Window(), buffer); });
  if (!task) ReportWinsockFailure(Winsock().WSAGetLastError(), where::kInetLookup);
}

void Endpoint::StartInetLookupOfAddress(unsigned long addressNet) {
  StartInetLookup([&](HWND window, char* buffer) {
    return Winsock().WSAAsyncGetHostByAddr(window, kMsgGetInetHost,
                                           reinterpret_cast<const char*>(&addressNet),
                                           sizeof addressNet, AF_INET, buffer, kLookupBufferSize);
  });
}

void Endpoint::OnInetAddressChanged() {
  auto& ws = Winsock();
  const unsigned long address = ws.inet_addr(fw::AnsiFromWide(m_inetAddress).c_str());
  m_inetIp = static_cast<LONG>(ws.ntohl(address));
  StartInetLookupOfAddress(address);
  m_events.OnEndpointModified();
}

void Endpoint::OnInetIpChanged() {
  auto& ws = Winsock();
  in_addr address{};
  address.s_addr = ws.htonl(static_cast<u_long>(m_inetIp));
  m_inetAddress = fw::WideFromAnsi(ws.inet_ntoa(address));
  StartInetLookupOfAddress(address.s_addr);
  m_events.OnEndpointModified();
}

void Endpoint::OnInetNameChanged() {
  auto& ws = Winsock();
  const std::string name = fw::AnsiFromWide(m_inetName);
  StartInetLookup([&](HWND window, char* buffer) {
    return ws.WSAAsyncGetHostByName(window, kMsgGetInetHost, name.c_str(), buffer,
                                    kLookupBufferSize);
  });
  m_events.OnEndpointModified();
}

void Endpoint::OnAsyncGetInetHost(const LookupCompletion& completion) {
  m_inetLookup.Finish(completion);
  m_state = kStateLookedUp;
  const hostent* entry = completion.host();
  in_addr address{};
  if (completion.error() != 0 || !FirstAddress(entry, address)) return;
  // Straight to the members: no notification runs and the owner is not told of a change.
  auto& ws = Winsock();
  m_inetIp = static_cast<LONG>(ws.ntohl(address.s_addr));
  m_inetName = fw::WideFromAnsi(entry->h_name ? entry->h_name : "");
  m_inetAddress = fw::WideFromAnsi(ws.inet_ntoa(address));
}

// The local endpoint

LONG Endpoint::GetLocalIp() const { return m_localIp; }

short Endpoint::GetLocalPort() const { return m_localPort; }

std::wstring Endpoint::GetLocalAddress() const { return m_localAddress; }

void Endpoint::SetLocalAddress(const std::wstring& address) {
  // Taken at the next Open; the endpoint that is open now keeps its address.
  m_localAddress = address;
  m_events.OnEndpointModified();
}

std::wstring Endpoint::GetLocalHost() const { return m_hostName; }

std::wstring Endpoint::HostIp(const std::wstring& remote) {
  auto& ws = Winsock();
  auto fail = [&](int error) { FailCall(error, false); };
  auto toward = [&](const SocketAddress& to) {
    SocketAddress local;
    if (const int error = LocalAddressToward(to, local)) fail(error);
    return local;
  };
  const std::wstring_view remoteText = UpToNul(remote);
  if (LooksLikeIpv6(remoteText)) {
    const std::optional<SocketAddress> literal = SocketAddress::ParseIpv6(remoteText);
    if (!literal) ThrowUdpError(kErrBadArgument);
    return fw::WideFromAnsi(toward(*literal).AddressText());
  }

  const std::string target =
      remote.empty() ? std::string(kRouteProbeTarget) : fw::AnsiFromWide(remote);
  SocketAddress to = SocketAddress::Ipv4(ws.inet_addr(target.c_str()));
  if (to.Ipv4Net() == INADDR_NONE) {
    const hostent* entry = ws.gethostbyname(target.c_str());
    if (!entry) {
      // A name with no IPv4 address: the IPv6 address the resolver finds, if any.
      const int error = ws.WSAGetLastError();
      int resolverError = 0;
      if (const std::optional<SocketAddress> ipv6 =
              ResolveIpv6Now(std::wstring(remoteText), &resolverError))
        return fw::WideFromAnsi(toward(*ipv6).AddressText());
      fail(error);
    }
    in_addr address{};
    if (!FirstAddress(entry, address)) fail(WSANO_DATA);
    to.SetIpv4Net(address.s_addr);
  }
  const SocketAddress local = toward(to);
  if (local.Ipv4Net() != 0) return fw::WideFromAnsi(local.AddressText());

  // No address from the route: fall back to the address of the host's own name.
  char name[kHostIpNameBufferSize] = {};
  if (ws.gethostname(name, kHostIpNameBufferSize) != 0) fail(ws.WSAGetLastError());
  const hostent* own = ws.gethostbyname(name);
  if (!own) fail(ws.WSAGetLastError());
  in_addr address{};
  if (!FirstAddress(own, address)) fail(WSANO_DATA);
  return fw::WideFromAnsi(ws.inet_ntoa(address));
}

}  // namespace udp
