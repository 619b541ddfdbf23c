// Look-up completions, the Inet trio and the local endpoint.
//
// A completion is taken only when its task handle is the channel's outstanding one. A cancelled
// request's completion, if one comes at all, goes no further than the look-up relay, which frees
// its buffer. Inet requests are superseded without being cancelled, so each Inet completion still
// applies the result of its own request, from the buffer kept in m_retiredLookups.
#include <cstring>

#include "control/errors.h"
#include "control/lookup_relay.h"
#include "control/udp_ctrl.h"
#include "framework/text.h"

namespace udp {

namespace {

constexpr wchar_t kWhereGetHost[] = L"OnAsyncGetHostByName()";
constexpr wchar_t kWhereGetServ[] = L"OnAsyncGetServByName()";
constexpr wchar_t kWhereGetLocalServ[] = L"OnAsyncGetLocalServByName()";
constexpr wchar_t kWhereInet[] = L"OnInetAddressChanged";

// Where HostIp looks when no remote host is named: a root name server, reached through the
// default route. The probe only connects a datagram socket, which sends nothing.
constexpr char kRouteProbeTarget[] = "198.41.0.4";
constexpr u_short kRouteProbePort = 53;
constexpr int kHostIpNameBufferSize = 200;

HANDLE TaskOf(WPARAM task) { return reinterpret_cast<HANDLE>(task); }

// The first IPv4 address of a host entry; false when the entry carries none.
bool FirstAddress(const hostent* entry, in_addr& address) {
  if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list ||
      !entry->h_addr_list[0])
    return false;
  std::memcpy(&address, entry->h_addr_list[0], sizeof address);
  return true;
}

const hostent* HostEntryIn(const LookupBuffer& buffer) {
  return reinterpret_cast<const hostent*>(buffer.get());
}
const servent* ServiceEntryIn(const LookupBuffer& buffer) {
  return reinterpret_cast<const servent*>(buffer.get());
}

}  // namespace

// Socket look-ups

LRESULT CUdpCtrl::OnAsyncGetHostByName(WPARAM task, LPARAM result) {
  if (!m_hGetHost || TaskOf(task) != m_hGetHost) return 0;
  int error = WSAGETASYNCERROR(result);
  in_addr address{};
  // An entry without an IPv4 address cannot give a destination: it fails like an unknown name.
  if (error == 0 && !FirstAddress(HostEntryIn(m_hostEntBuf), address)) error = WSANO_DATA;
  if (error != 0) {
    // The handle stays set, so the other look-ups of this send do not resume it.
    ReportWinsockFailure(error, kWhereGetHost);
    return 0;
  }
  m_state = kStateLookedUp;
  m_sockAddr.sin_addr = address;
  m_hGetHost = nullptr;
  SendWhenResolved();
  return 0;
}

LRESULT CUdpCtrl::OnAsyncGetServByName(WPARAM task, LPARAM result) {
  if (!m_hGetServ || TaskOf(task) != m_hGetServ) return 0;
  if (const int error = WSAGETASYNCERROR(result)) {
    ReportWinsockFailure(error, kWhereGetServ);
    return 0;
  }
  m_sockAddr.sin_port = static_cast<u_short>(ServiceEntryIn(m_servEntBuf)->s_port);
  m_hGetServ = nullptr;
  SendWhenResolved();
  return 0;
}

LRESULT CUdpCtrl::OnAsyncGetLocalServByName(WPARAM task, LPARAM result) {
  if (!m_hGetLocalServ || TaskOf(task) != m_hGetLocalServ) return 0;
  if (const int error = WSAGETASYNCERROR(result)) {
    // No bind will follow: a datagram held back for it goes out like any other, from the port the
    // system chooses, unless the report closes the endpoint first.
    if (m_bindPending) {
      m_bindPending = FALSE;
      SendWhenResolved();
    }
    ReportWinsockFailure(error, kWhereGetLocalServ);
    return 0;
  }
  m_localPortNet = static_cast<u_short>(ServiceEntryIn(m_localServEntBuf)->s_port);
  m_hGetLocalServ = nullptr;
  // The bind belongs to Open: it is made as soon as the port is known, whatever look-ups a
  // SendTo is still waiting for, so that a failed remote look-up cannot leave the port unbound.
  if (m_socket != INVALID_SOCKET && m_bindPending) MakeDeferredBind();
  return 0;
}

void CUdpCtrl::SendWhenResolved() {
  // While the bind is owed the datagram waits for it (it must not leave from a port the system
  // chose for it, which the bind would then find taken): the bind, or its failure, sends it on.
  if (m_socket == INVALID_SOCKET || !m_pendingData || m_hGetHost || m_hGetServ || m_bindPending)
    return;
  PostPendingWrite();
}

void CUdpCtrl::PostPendingWrite() {
  if (PostSocketNotify(FD_WRITE)) return;
  m_pendingData.reset();
  m_state = kStateFailed;
  ReportFailure(kErrOutOfMemory, ErrorMessage(kErrOutOfMemory), L"PostMessage()");
}

bool CUdpCtrl::PostSocketNotify(LPARAM eventWord) {
  // Without a window a post would go to the thread's queue, where no handler sees it.
  HWND window = GetSafeHwnd();
  return window && ::PostMessageW(window, kMsgSocketNotify, static_cast<WPARAM>(m_socket),
                                  eventWord);
}

void CUdpCtrl::MakeDeferredBind() {
  m_bindPending = FALSE;
  SetLocalSockAddr(L"255.255.255.255", m_localPortNet);
  auto& ws = Winsock();
  if (ws.bind(m_socket, reinterpret_cast<const sockaddr*>(&m_bindAddr), sizeof m_bindAddr) ==
      SOCKET_ERROR) {
    const int error = ws.WSAGetLastError();
    // The port will not be bound now: a datagram held back for it goes out as any other.
    SendWhenResolved();
    FailCall(error, true);  // no call takes it: the window's barrier shows it
  }
  SendWhenResolved();
}

// The Inet trio

void CUdpCtrl::StartInetLookup(const std::function<HANDLE(HWND, char*)>& start) {
  // An outstanding request is superseded but not cancelled: its completion still applies.
  const HANDLE task = StartLookup(m_hGetInetHost, m_inetHostEntBuf, false, [&](char* buffer) {
    return start(lookup_relay::Window(), buffer);
  });
  if (!task) ReportWinsockFailure(Winsock().WSAGetLastError(), kWhereInet);
}

void CUdpCtrl::OnInetAddressChanged() {
  auto& ws = Winsock();
  const unsigned long address = ws.inet_addr(fw::AnsiFromWide(m_inetAddress).c_str());
  m_inetIp = static_cast<LONG>(ws.ntohl(address));
  StartInetLookup([&](HWND window, char* buffer) {
    return ws.WSAAsyncGetHostByAddr(window, kMsgGetInetHost,
                                    reinterpret_cast<const char*>(&address), sizeof address,
                                    AF_INET, buffer, kLookupBufferSize);
  });
  SetModifiedFlag();
}

void CUdpCtrl::OnInetIpChanged() {
  auto& ws = Winsock();
  in_addr address{};
  address.s_addr = ws.htonl(static_cast<u_long>(m_inetIp));
  m_inetAddress = fw::WideFromAnsi(ws.inet_ntoa(address));
  StartInetLookup([&](HWND window, char* buffer) {
    return ws.WSAAsyncGetHostByAddr(window, kMsgGetInetHost,
                                    reinterpret_cast<const char*>(&address), sizeof address,
                                    AF_INET, buffer, kLookupBufferSize);
  });
  SetModifiedFlag();
}

void CUdpCtrl::OnInetNameChanged() {
  auto& ws = Winsock();
  const std::string name = fw::AnsiFromWide(m_inetName);
  StartInetLookup([&](HWND window, char* buffer) {
    return ws.WSAAsyncGetHostByName(window, kMsgGetInetHost, name.c_str(), buffer,
                                    kLookupBufferSize);
  });
  SetModifiedFlag();
}

LRESULT CUdpCtrl::OnAsyncGetInetHost(WPARAM task, LPARAM result) {
  LookupBuffer superseded;
  const LookupBuffer* buffer = &m_inetHostEntBuf;
  if (!m_hGetInetHost || TaskOf(task) != m_hGetInetHost) {
    superseded = TakeRetiredLookup(TaskOf(task));
    if (!superseded) return 0;  // no request of this control
    buffer = &superseded;
  } else {
    m_hGetInetHost = nullptr;
  }
  m_state = kStateLookedUp;
  in_addr address{};
  if (WSAGETASYNCERROR(result) != 0 || !FirstAddress(HostEntryIn(*buffer), address)) return 0;
  // Straight to the members: no notification runs and the control is not marked modified.
  auto& ws = Winsock();
  m_inetIp = static_cast<LONG>(ws.ntohl(address.s_addr));
  m_inetName = fw::WideFromAnsi(HostEntryIn(*buffer)->h_name ? HostEntryIn(*buffer)->h_name : "");
  m_inetAddress = fw::WideFromAnsi(ws.inet_ntoa(address));
  return 0;
}

// The local endpoint

LONG CUdpCtrl::GetLocalIp() const { return m_localIp; }

short CUdpCtrl::GetLocalPort() const { return m_localPort; }

std::wstring CUdpCtrl::GetLocalAddress() const { return m_localAddress; }

void CUdpCtrl::SetLocalAddress(const std::wstring& address) {
  // Taken at the next Open; the endpoint that is open now keeps its address.
  m_localAddress = address;
  SetModifiedFlag();
}

std::wstring CUdpCtrl::GetLocalHost() const { return m_hostName; }

std::wstring CUdpCtrl::HostIp(const std::wstring& remote) {
  auto& ws = Winsock();
  auto fail = [&](int error) { FailCall(error, false); };

  unique_socket probe(ws.socket(AF_INET, SOCK_DGRAM, 0));
  if (!probe) fail(ws.WSAGetLastError());
  sockaddr_in any{};
  any.sin_family = AF_INET;
  ws.bind(probe.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any);

  const std::string target =
      remote.empty() ? std::string(kRouteProbeTarget) : fw::AnsiFromWide(remote);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = ws.htons(kRouteProbePort);
  to.sin_addr.s_addr = ws.inet_addr(target.c_str());
  if (to.sin_addr.s_addr == INADDR_NONE) {
    const hostent* entry = ws.gethostbyname(target.c_str());
    if (!entry) fail(ws.WSAGetLastError());
    if (!FirstAddress(entry, to.sin_addr)) fail(WSANO_DATA);
  }
  // On a datagram socket connect only chooses the route and with it the local address.
  if (ws.connect(probe.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == SOCKET_ERROR)
    fail(ws.WSAGetLastError());
  sockaddr_in local{};
  int length = sizeof local;
  if (ws.getsockname(probe.get(), reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR)
    fail(ws.WSAGetLastError());
  probe.reset();
  if (local.sin_addr.s_addr != 0) return fw::WideFromAnsi(ws.inet_ntoa(local.sin_addr));

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
