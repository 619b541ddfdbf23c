// The local IPv4 interfaces a multicast group can be joined on, from the IP helper API. A seam of
// its own: tests replace the lister to give the control interfaces this machine does not have.
#pragma once
#include <vector>

namespace udp {

struct MulticastInterfaces {
  unsigned long error = 0;               // the IP helper's error, 0 when the list is complete
  std::vector<unsigned long> addresses;  // IPv4 addresses in network order, loopback included
};

using MulticastInterfaceLister = MulticastInterfaces (*)();

// Every IPv4 address of an interface that is up and can carry multicast.
MulticastInterfaces SystemMulticastInterfaces();
// The lister in use (SystemMulticastInterfaces unless a test replaced it).
MulticastInterfaceLister& MulticastInterfaceSource();

}  // namespace udp
