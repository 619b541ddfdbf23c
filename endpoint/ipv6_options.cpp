// The IPv6 level's options and groups. The Windows Sockets 2 headers give their numbers and
// structures, so this file includes them before winsock.h and sets them through ws2_32's
// setsockopt, which takes those numbers. IPv6 groups are joined by interface index; the rules of
// the IPv4 groups hold: all or nothing, a pair joined once, a leave without an interface leaves
// every interface this socket joined the group on.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "endpoint/endpoint.h"
#include "endpoint/errors.h"
#include "endpoint/local_interfaces.h"

namespace udp {

namespace {

bool SetOption(SOCKET socket, int option, const void* value, int length) {
  return Winsock().ws2_setsockopt(socket, IPPROTO_IPV6, option, static_cast<const char*>(value),
                                  length) != SOCKET_ERROR;
}

bool SetDword(SOCKET socket, int option, DWORD value) {
  return SetOption(socket, option, &value, sizeof value);
}

bool SetMembership(SOCKET socket, int option, const SocketAddress& group, unsigned long index) {
  ipv6_mreq m{};
  std::memcpy(&m.ipv6mr_multiaddr, group.Ipv6Bytes(), sizeof m.ipv6mr_multiaddr);
  m.ipv6mr_interface = index;
  return SetOption(socket, option, &m, sizeof m);
}

}  // namespace

bool Endpoint::SetDualStack(SOCKET socket, bool dualStack) {
  return SetDword(socket, IPV6_V6ONLY, dualStack ? 0 : 1);
}

bool Endpoint::SetIpv6Hops(SOCKET socket, int hops) {
  return SetDword(socket, IPV6_MULTICAST_HOPS, static_cast<DWORD>(hops));
}

bool Endpoint::SetIpv6Loopback(SOCKET socket, bool loopback) {
  return SetDword(socket, IPV6_MULTICAST_LOOP, loopback ? 1 : 0);
}

bool Endpoint::SetIpv6Interface(SOCKET socket, unsigned long index) {
  return SetDword(socket, IPV6_MULTICAST_IF, index);
}

unsigned long Endpoint::Ipv6InterfaceIndexOf(std::wstring_view text) {
  if (!text.empty() && text.size() <= 10 &&
      std::ranges::all_of(text, [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
    const unsigned long long index = std::stoull(std::wstring(text));
    if (index > 0xFFFFFFFFull) ThrowUdpError(kErrBadArgument);
    return static_cast<unsigned long>(index);
  }
  const std::optional<SocketAddress> address = SocketAddress::ParseIpv6(text);
  if (!address) ThrowUdpError(kErrBadArgument);
  const MulticastInterfaces found = MulticastInterfaceSource()();
  if (found.error != 0) ThrowSystemError(found.error);
  for (const Ipv6Interface& iface : found.ipv6)
    for (const SocketAddress& own : iface.addresses)
      if (std::memcmp(own.Ipv6Bytes(), address->Ipv6Bytes(), 16) == 0) return iface.index;
  // A well-formed address that no interface here has: the system's word for it.
  FailCall(WSAEADDRNOTAVAIL, false);
}

void Endpoint::JoinIpv6Group(const SocketAddress& group, VARIANT* iface) {
  if (m_socketFamily != kFamilyIpv6) FailCall(WSAEAFNOSUPPORT, false);
  std::vector<unsigned long> indices;
  if (const std::optional<std::wstring> text = InterfaceArgument(iface)) {
    indices.push_back(Ipv6InterfaceIndexOf(*text));
  } else {
    const MulticastInterfaces found = MulticastInterfaceSource()();
    if (found.error != 0) ThrowSystemError(found.error);
    for (const Ipv6Interface& each : found.ipv6) indices.push_back(each.index);
    // Joining nowhere is no join: the host learns that no interface can carry the group.
    if (indices.empty()) FailCall(WSAEADDRNOTAVAIL, false);
  }

  auto& ws = Winsock();
  std::vector<Ipv6Membership> added;
  for (const unsigned long index : indices) {
    const auto same = [&](const Ipv6Membership& held) {
      return held.index == index && held.group == group;
    };
    if (std::ranges::any_of(m_ipv6Memberships, same) || std::ranges::any_of(added, same)) continue;
    if (SetMembership(m_socket.get(), IPV6_ADD_MEMBERSHIP, group, index)) {
      added.push_back({group, index});
      continue;
    }
    const int error = ws.WSAGetLastError();
    if (error == WSAEADDRINUSE) continue;  // a member there already
    for (const Ipv6Membership& undo : added)
      SetMembership(m_socket.get(), IPV6_DROP_MEMBERSHIP, undo.group, undo.index);
    FailCall(error, false);
  }
  m_ipv6Memberships.insert(m_ipv6Memberships.end(), added.begin(), added.end());
}

void Endpoint::LeaveIpv6Group(const SocketAddress& group, VARIANT* iface) {
  if (m_socketFamily != kFamilyIpv6) FailCall(WSAEAFNOSUPPORT, false);
  const std::optional<std::wstring> text = InterfaceArgument(iface);
  std::vector<Ipv6Membership> leaving;
  if (text) {
    leaving.push_back({group, Ipv6InterfaceIndexOf(*text)});
  } else {
    std::ranges::copy_if(m_ipv6Memberships, std::back_inserter(leaving),
                         [&](const Ipv6Membership& held) { return held.group == group; });
  }
  auto& ws = Winsock();
  std::vector<Ipv6Membership> dropped, stale;
  auto forget = [&](const std::vector<Ipv6Membership>& pairs) {
    std::erase_if(m_ipv6Memberships, [&](const Ipv6Membership& held) {
      return std::ranges::any_of(pairs, [&](const Ipv6Membership& p) {
        return p.index == held.index && p.group == held.group;
      });
    });
  };
  for (const Ipv6Membership& m : leaving) {
    if (SetMembership(m_socket.get(), IPV6_DROP_MEMBERSHIP, m.group, m.index)) {
      dropped.push_back(m);
      continue;
    }
    const int error = ws.WSAGetLastError();
    // A remembered pair the system no longer holds (its interface went) is left already.
    if (!text && (error == WSAEADDRNOTAVAIL || error == WSAEINVAL)) {
      stale.push_back(m);
      continue;
    }
    for (const Ipv6Membership& undo : dropped)
      SetMembership(m_socket.get(), IPV6_ADD_MEMBERSHIP, undo.group, undo.index);
    forget(stale);
    FailCall(error, false);
  }
  forget(dropped);
  forget(stale);
}

}  // namespace udp
