// Each datagram's destination: the local address a peer sent it to (the one it contacted, or the
// group or broadcast address) and the interface it arrived on, read with the datagram by
// WSARecvMsg and the packet-information options. Where the system lacks either, reads stay
// recvfrom and the destination is unknown.
#pragma once
#include <winsock.h>

#include "endpoint/socket_address.h"

namespace udp {

struct PacketDestination {
  SocketAddress address;          // no address when unknown
  unsigned long interfaceIndex = 0;  // 0 when unknown
};

// Sends one datagram as sendto does, leaving from `source` (a local address of the socket's
// family, or an IPv4 one on a dual-stack socket) by the packet-information control data of
// WSASendMsg.
int SendFrom(SOCKET socket, const char* data, int length, const SocketAddress& to,
             const SocketAddress& source);

class DestinationReader {
 public:
  // Asks the new socket for packet information (for IPv4 traffic too on a dual-stack socket) and
  // whether the sockets layer has WSARecvMsg; false when the system offers either not.
  bool Enable(SOCKET socket, int family, bool dualStack);
  void Disable() { m_enabled = false; }
  bool Enabled() const { return m_enabled; }
  // One datagram, as recvfrom reads it (its length, or SOCKET_ERROR), with its destination.
  int Receive(SOCKET socket, char* buffer, int length, SocketAddress& from,
              PacketDestination& to) const;

 private:
  bool m_enabled = false;
};

}  // namespace udp
