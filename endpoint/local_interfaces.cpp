// GetAdaptersAddresses rather than GetIpAddrTable: only it says of each interface whether it is up
// (OperStatus), whether it can carry multicast (IP_ADAPTER_NO_MULTICAST) and each address's
// prefix length. Its structures need
// the Windows Sockets 2 header, so this file, and only this one, includes winsock2.h; it makes
// no socket call and hands out plain addresses.
#include <winsock2.h>
#include <iphlpapi.h>

#include <memory>

#include "endpoint/local_interfaces.h"
#include "endpoint/socket_address.h"

namespace udp {

MulticastInterfaces SystemMulticastInterfaces() {
  MulticastInterfaces found;
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
  // The list can grow between the size query and the call: ask again a few times.
  ULONG size = 16 * 1024;
  std::unique_ptr<unsigned char[]> buffer;
  ULONG status = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer = std::make_unique<unsigned char[]>(size);
    status = ::GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
  }
  if (status == ERROR_NO_DATA) return found;  // no interface at all
  if (status != ERROR_SUCCESS) {
    found.error = status;
    return found;
  }
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()); adapter;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp) continue;
    const bool loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    const bool pointToPoint = adapter->IfType == IF_TYPE_PPP || adapter->IfType == IF_TYPE_TUNNEL;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
      const SocketAddress address =
          SocketAddress::From(unicast->Address.lpSockaddr, unicast->Address.iSockaddrLength);
      found.unicast.push_back(address);
      // A /31 or /32 has no broadcast address.
      const ULONG prefix = unicast->OnLinkPrefixLength;
      if (address.Family() == AF_INET && !loopback && !pointToPoint && prefix < 31) {
        const unsigned long hostBits = prefix == 0 ? 0xFFFFFFFFul : (0xFFFFFFFFul >> prefix);
        found.broadcast.push_back(address.Ipv4Net() | ::htonl(hostBits));
      }
    }
    // Loopback stays even where it is flagged as not carrying multicast: a group joined there
    // still reaches the members on this machine.
    if (!loopback && (adapter->Flags & IP_ADAPTER_NO_MULTICAST)) continue;
    // One IPv4 address per interface: a join names the interface by an address, and a second
    // join on the same interface by another of its addresses would be a duplicate the system
    // refuses. IPv6 joins name the interface by its index; all its addresses are kept to find
    // the index of an address a host names.
    bool ipv4Taken = false;
    Ipv6Interface ipv6{adapter->IfIndex, {}};
    for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
      const SocketAddress address =
          SocketAddress::From(unicast->Address.lpSockaddr, unicast->Address.iSockaddrLength);
      if (address.Family() == AF_INET && !ipv4Taken) {
        found.addresses.push_back(address.Ipv4Net());
        ipv4Taken = true;
      } else if (address.Family() == AF_INET6) {
        ipv6.addresses.push_back(address);
      }
    }
    // Windows and Wine may report the IPv6 index apart, or only there (Wine reports 0 there).
    if (adapter->Ipv6IfIndex != 0) ipv6.index = adapter->Ipv6IfIndex;
    if (!ipv6.addresses.empty()) found.ipv6.push_back(std::move(ipv6));
  }
  return found;
}

MulticastInterfaceLister& MulticastInterfaceSource() {
  static MulticastInterfaceLister lister = SystemMulticastInterfaces;
  return lister;
}

}  // namespace udp
