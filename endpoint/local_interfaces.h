// The local interfaces a multicast group can be joined on, from the IP helper API. A seam of
// its own: tests replace the lister to give the control interfaces this machine does not have.
#pragma once
#include <vector>

#include "endpoint/socket_address.h"

namespace udp {

// An interface that carries IPv6: its index, which IPv6 joins name it by, and its addresses.
struct Ipv6Interface {
  unsigned long index = 0;
  std::vector<SocketAddress> addresses;
};

struct MulticastInterfaces {
  unsigned long error = 0;               // the IP helper's error, 0 when the list is complete
  std::vector<unsigned long> addresses;  // IPv4 addresses in network order, loopback included
  std::vector<Ipv6Interface> ipv6;       // the interfaces with IPv6 addresses, loopback included
  // Of every interface that is up, multicast or not: each unicast address (both families), and
  // the directed broadcast address (network order) of each IPv4 address of an interface that can
  // broadcast (not loopback, not point-to-point).
  std::vector<SocketAddress> unicast;
  std::vector<unsigned long> broadcast;
};

using MulticastInterfaceLister = MulticastInterfaces (*)();

// The interfaces that are up and can carry multicast: an IPv4 address of each, and those with
// IPv6 addresses.
MulticastInterfaces SystemMulticastInterfaces();
// The lister in use (SystemMulticastInterfaces unless a test replaced it).
MulticastInterfaceLister& MulticastInterfaceSource();

}  // namespace udp
