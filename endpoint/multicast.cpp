// Multicast groups, the multicast options and port sharing. The multicast options are kept here
// and reach the socket at the next Open while the port is closed, at once while it is open; the
// port-sharing option reaches it only at Open, before the bind. The groups joined are remembered
// as (group, interface) pairs so that a leave without an interface, and Close, know them.
#include <algorithm>
#include <optional>

#include "endpoint/errors.h"
#include "endpoint/local_interfaces.h"
#include "endpoint/endpoint.h"
#include "framework/text.h"

namespace udp {

// The control links wsock32, whose setsockopt takes the Windows Sockets 1.1 numbers of
// winsock.h. ws2tcpip.h gives the same names other numbers (9 to 13), which wsock32 reads as
// other options: the control must never be built against them.
static_assert(IP_MULTICAST_IF == 2 && IP_MULTICAST_TTL == 3 && IP_MULTICAST_LOOP == 4 &&
                  IP_ADD_MEMBERSHIP == 5 && IP_DROP_MEMBERSHIP == 6,
              "the multicast options must be winsock.h's (Windows Sockets 1.1) numbers");

namespace {

constexpr LONG kDefaultTtl = 1;
constexpr LONG kMaxTtl = 255;
// winsock2.h's SO_EXCLUSIVEADDRUSE; mingw's winsock.h (Windows Sockets 1.1) leaves it out, but
// wsock32 passes socket-level options on to the same provider, which takes it.
constexpr int kExclusiveAddrUse = static_cast<int>(~SO_REUSEADDR);


// A group address: dotted, in 224.0.0.0 to 239.255.255.255 (the first byte 1110xxxx).
unsigned long GroupOf(std::wstring_view text) {
  const std::optional<unsigned long> group = ParseDotted(UpToNul(text));
  if (!group || (reinterpret_cast<const u_char*>(&*group)[0] & 0xF0) != 0xE0)
    ThrowUdpError(kErrBadArgument);
  return *group;
}

// The optional interface argument of an IPv4 group: the text of a dotted address.
std::optional<unsigned long> InterfaceOf(VARIANT* argument) {
  const std::optional<std::wstring> text = InterfaceArgument(argument);
  if (!text) return std::nullopt;
  const std::optional<unsigned long> address = ParseDotted(*text);
  if (!address) ThrowUdpError(kErrBadArgument);
  return address;
}

ip_mreq Membership(unsigned long group, unsigned long iface) {
  ip_mreq m{};
  m.imr_multiaddr.s_addr = group;
  m.imr_interface.s_addr = iface;
  return m;
}

bool SameMembership(const ip_mreq& a, const ip_mreq& b) {
  return a.imr_multiaddr.s_addr == b.imr_multiaddr.s_addr &&
         a.imr_interface.s_addr == b.imr_interface.s_addr;
}

bool SetMembership(SOCKET socket, int option, const ip_mreq& m) {
  return Winsock().setsockopt(socket, IPPROTO_IP, option, reinterpret_cast<const char*>(&m),
                              sizeof m) != SOCKET_ERROR;
}

bool SetIntOption(SOCKET socket, int level, int option, int value) {
  return Winsock().setsockopt(socket, level, option, reinterpret_cast<const char*>(&value),
                              sizeof value) != SOCKET_ERROR;
}

// What a drop of a pair that is no longer a membership answers (its interface went away or
// changed its address): WSAEADDRNOTAVAIL on Windows, WSAEINVAL under Wine (measured, both word
// sizes).
bool IsNotAMember(int wsaError) { return wsaError == WSAEADDRNOTAVAIL || wsaError == WSAEINVAL; }

void Forget(std::vector<ip_mreq>& memberships, const std::vector<ip_mreq>& pairs) {
  std::erase_if(memberships, [&](const ip_mreq& held) {
    return std::ranges::any_of(pairs, [&](const ip_mreq& p) { return SameMembership(p, held); });
  });
}

bool SetInterfaceOption(SOCKET socket, unsigned long iface) {
  in_addr address{};
  address.s_addr = iface;
  return Winsock().setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF,
                              reinterpret_cast<const char*>(&address),
                              sizeof address) != SOCKET_ERROR;
}

// An IPv6 group: ff00::/8.
std::optional<SocketAddress> Ipv6GroupOf(std::wstring_view text) {
  if (!LooksLikeIpv6(UpToNul(text))) return std::nullopt;
  const std::optional<SocketAddress> group = SocketAddress::ParseIpv6(UpToNul(text));
  if (!group || !group->IsMulticast()) ThrowUdpError(kErrBadArgument);
  return group;
}

}  // namespace

// inet_addr would also take "127.1" or "0x7f.1", which a host that types them rarely means.
std::optional<unsigned long> ParseDotted(std::wstring_view text) {
  unsigned parts[4] = {};
  size_t part = 0, digits = 0;
  for (const wchar_t c : text) {
    if (c == L'.') {
      if (digits == 0 || ++part == 4) return std::nullopt;
      digits = 0;
    } else if (c >= L'0' && c <= L'9' && digits < 3) {
      parts[part] = parts[part] * 10 + static_cast<unsigned>(c - L'0');
      ++digits;
    } else {
      return std::nullopt;
    }
  }
  if (part != 3 || digits == 0 || std::ranges::any_of(parts, [](unsigned p) { return p > 255; }))
    return std::nullopt;
  in_addr address{};
  address.S_un.S_un_b = {static_cast<u_char>(parts[0]), static_cast<u_char>(parts[1]),
                         static_cast<u_char>(parts[2]), static_cast<u_char>(parts[3])};
  return address.s_addr;
}

std::wstring_view UpToNul(std::wstring_view text) { return text.substr(0, text.find(L'\0')); }

std::optional<std::wstring> InterfaceArgument(VARIANT* argument) {
  const VARIANT* v = argument;
  // Script hosts pass their variables by reference.
  for (int depth = 0; v && V_VT(v) == (VT_VARIANT | VT_BYREF) && depth < 8; ++depth)
    v = V_VARIANTREF(v);
  if (!v || V_VT(v) == VT_EMPTY || V_VT(v) == VT_NULL ||
      (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND))
    return std::nullopt;
  fw::unique_variant text;
  if (FAILED(::VariantChangeType(&text, const_cast<VARIANT*>(v), 0, VT_BSTR)))
    ThrowUdpError(kErrBadArgument);
  const std::wstring_view view = UpToNul(fw::ViewOfBstr(V_BSTR(&text)));
  if (view.empty()) return std::nullopt;
  return std::wstring(view);
}

void Endpoint::JoinGroup(std::wstring_view group, VARIANT* iface) {
  if (!m_socket) ThrowUdpError(kErrNotOpen);
  if (const std::optional<SocketAddress> ipv6 = Ipv6GroupOf(group))
    return JoinIpv6Group(*ipv6, iface);
  const unsigned long groupNet = GroupOf(group);
  // A socket that serves IPv6 peers only has no IPv4 traffic to join a group with.
  if (m_socketFamily == kFamilyIpv6 && m_ipv6Only) FailCall(WSAEAFNOSUPPORT, false);
  std::vector<unsigned long> interfaces;
  if (const std::optional<unsigned long> chosen = InterfaceOf(iface)) {
    interfaces.push_back(*chosen);
  } else {
    MulticastInterfaces found = MulticastInterfaceSource()();
    // The IP helper's number is a system error, not a Windows Sockets one: LastError keeps its
    // meaning.
    if (found.error != 0) ThrowSystemError(found.error);
    // Joining nowhere is no join: the host learns that no interface can carry the group.
    if (found.addresses.empty()) FailCall(WSAEADDRNOTAVAIL, false);
    interfaces = std::move(found.addresses);
  }

  auto& ws = Winsock();
  std::vector<ip_mreq> added;
  for (const unsigned long address : interfaces) {
    const ip_mreq m = Membership(groupNet, address);
    const auto isM = [&](const ip_mreq& held) { return SameMembership(held, m); };
    if (std::ranges::any_of(m_memberships, isM) || std::ranges::any_of(added, isM)) continue;
    if (SetMembership(m_socket.get(), IP_ADD_MEMBERSHIP, m)) {
      added.push_back(m);
      continue;
    }
    const int error = ws.WSAGetLastError();
    // The system's word for "this socket is a member there already" (joined through another
    // address of the same interface): joining again is no error, and nothing new to remember.
    if (error == WSAEADDRINUSE) continue;
    // Nothing half-done: the interfaces this call joined are left again.
    for (const ip_mreq& undo : added) SetMembership(m_socket.get(), IP_DROP_MEMBERSHIP, undo);
    FailCall(error, false);
  }
  m_memberships.insert(m_memberships.end(), added.begin(), added.end());
}

void Endpoint::LeaveGroup(std::wstring_view group, VARIANT* iface) {
  if (!m_socket) ThrowUdpError(kErrNotOpen);
  if (const std::optional<SocketAddress> ipv6 = Ipv6GroupOf(group))
    return LeaveIpv6Group(*ipv6, iface);
  const unsigned long groupNet = GroupOf(group);
  const std::optional<unsigned long> chosen = InterfaceOf(iface);
  std::vector<ip_mreq> leaving;
  if (chosen) {
    // Also a pair this object has not joined goes to the system, which then reports its error.
    leaving.push_back(Membership(groupNet, *chosen));
  } else {
    std::ranges::copy_if(m_memberships, std::back_inserter(leaving), [&](const ip_mreq& held) {
      return held.imr_multiaddr.s_addr == groupNet;
    });
  }

  auto& ws = Winsock();
  std::vector<ip_mreq> dropped, stale;
  for (const ip_mreq& m : leaving) {
    if (SetMembership(m_socket.get(), IP_DROP_MEMBERSHIP, m)) {
      dropped.push_back(m);
      continue;
    }
    const int error = ws.WSAGetLastError();
    // A remembered pair the system no longer holds is left already: kept, it would fail every
    // later leave of the group until Close.
    if (!chosen && IsNotAMember(error)) {
      stale.push_back(m);
      continue;
    }
    for (const ip_mreq& undo : dropped) SetMembership(m_socket.get(), IP_ADD_MEMBERSHIP, undo);
    Forget(m_memberships, stale);
    FailCall(error, false);
  }
  Forget(m_memberships, dropped);
  Forget(m_memberships, stale);
}

// Of the multicast options only what differs from the system's defaults is set, at the level of
// the socket's family; an IPv4 interface also serves the IPv4 groups of a dual-stack socket. The
// port-sharing option is set always: Windows lets a later socket with SO_REUSEADDR bind a port
// that a socket without it holds, and take its datagrams; SO_EXCLUSIVEADDRUSE keeps the port
// this socket's.
int Endpoint::ApplyMulticastOptions(SOCKET socket, int family) {
  auto& ws = Winsock();
  const auto failed = [&](bool ok) { return ok ? 0 : ws.WSAGetLastError(); };
  if (!SetIntOption(socket, SOL_SOCKET, m_reuseAddress ? SO_REUSEADDR : kExclusiveAddrUse, 1))
    return ws.WSAGetLastError();
  // An interface is applied only to a socket whose family can use it; the others get the
  // system's choice (the assignment while open is where a mismatch is refused).
  const bool ipv4Interface =
      m_multicastInterfaceNet != INADDR_ANY && !(family == kFamilyIpv6 && m_ipv6Only);
  if (family == kFamilyIpv6)
    return failed(
        (m_multicastTtl == kDefaultTtl || SetIpv6Hops(socket, m_multicastTtl)) &&
        (m_multicastLoopback || SetIpv6Loopback(socket, false)) &&
        (m_multicastInterfaceIndex == 0 || SetIpv6Interface(socket, m_multicastInterfaceIndex)) &&
        (!ipv4Interface || SetInterfaceOption(socket, m_multicastInterfaceNet)));
  return failed((m_multicastTtl == kDefaultTtl ||
                 SetIntOption(socket, IPPROTO_IP, IP_MULTICAST_TTL, m_multicastTtl)) &&
                (m_multicastLoopback || SetIntOption(socket, IPPROTO_IP, IP_MULTICAST_LOOP, 0)) &&
                (!ipv4Interface || SetInterfaceOption(socket, m_multicastInterfaceNet)));
}

int Endpoint::InterfaceMismatch(int family, unsigned long ipv4Interface, bool isIpv6) const {
  // An interface named by index or IPv6 address means nothing to an IPv4 socket, a dotted one
  // nothing to a socket that serves IPv6 peers only.
  const bool ipv4Socket = family != kFamilyIpv6;
  if (isIpv6 && ipv4Socket) return WSAEAFNOSUPPORT;
  if (ipv4Interface != INADDR_ANY && !ipv4Socket && m_ipv6Only) return WSAEAFNOSUPPORT;
  return 0;
}

void Endpoint::RequireOpenSocketTook(bool took) {
  if (!took) FailCall(Winsock().WSAGetLastError(), false);
}

// Each setter checks the value, hands it to an open socket, and keeps it only once the socket
// took it: a refused value leaves the property as it was.
void Endpoint::SetMulticastTtl(LONG ttl) {
  if (ttl < 0 || ttl > kMaxTtl) ThrowUdpError(kErrBadArgument);
  RequireOpenSocketTook(!m_socket ||
                        (m_socketFamily == kFamilyIpv6
                             ? SetIpv6Hops(m_socket.get(), ttl)
                             : SetIntOption(m_socket.get(), IPPROTO_IP, IP_MULTICAST_TTL, ttl)));
  m_multicastTtl = ttl;
}

void Endpoint::SetMulticastLoopback(BOOL loopback) {
  const int value = loopback ? 1 : 0;
  RequireOpenSocketTook(!m_socket ||
                        (m_socketFamily == kFamilyIpv6
                             ? SetIpv6Loopback(m_socket.get(), value != 0)
                             : SetIntOption(m_socket.get(), IPPROTO_IP, IP_MULTICAST_LOOP, value)));
  m_multicastLoopback = value;
}

void Endpoint::SetMulticastInterface(std::wstring_view address) {
  // A dotted address names an IPv4 interface; an index or an IPv6 address an IPv6 one.
  unsigned long iface = INADDR_ANY, index = 0;
  bool isIpv6 = false;
  if (const std::wstring_view text = UpToNul(address); !text.empty()) {
    if (const std::optional<unsigned long> parsed = ParseDotted(text)) {
      iface = *parsed;
    } else {
      index = Ipv6InterfaceIndexOf(text);
      isIpv6 = true;
    }
  }
  if (m_socket) {
    // The open socket must be able to use it.
    if (const int mismatch = InterfaceMismatch(m_socketFamily, iface, isIpv6))
      FailCall(mismatch, false);
    RequireOpenSocketTook(m_socketFamily == kFamilyIpv6 && (isIpv6 || iface == INADDR_ANY)
                              ? SetIpv6Interface(m_socket.get(), index)
                              : SetInterfaceOption(m_socket.get(), iface));
  }
  m_multicastInterface = address;
  m_multicastInterfaceNet = iface;
  m_multicastInterfaceIndex = index;
}

// Kept for the next Open only. The system reads the sharing options at the bind, and an open
// socket cannot change sides: Windows (and Wine) refuse SO_REUSEADDR on an exclusive socket with
// WSAEINVAL, and SO_EXCLUSIVEADDRUSE counts only when set before the bind.
void Endpoint::SetReuseAddress(BOOL reuse) { m_reuseAddress = reuse ? TRUE : FALSE; }

}  // namespace udp
