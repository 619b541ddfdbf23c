// A socket address of any family, held as the sockets layer reads and writes it: storage the size
// and alignment of sockaddr_storage, the length in use, and the family's address and port. Every
// address the endpoint and its owners pass around is one of these; sockaddr_in appears only here
// and in the sockets seam, so a new family changes this type, not the code that carries it.
// Its text is made through the seam, exactly as the control always has for IPv4.
#pragma once
#include <winsock.h>

#include <string>

namespace udp {

class SocketAddress {
 public:
  // The size of sockaddr_storage (winsock2.h, which cannot be included beside winsock.h).
  static constexpr int kCapacity = 128;

  // No address at all (family AF_UNSPEC, length 0).
  SocketAddress() = default;
  // An IPv4 address and port, both in network order.
  static SocketAddress Ipv4(unsigned long addressNet, u_short portNet = 0);
  // A copy of an address the system wrote elsewhere (the IP helper's lists); what does not fit
  // the storage is not taken.
  static SocketAddress From(const sockaddr* address, int length);

  int Family() const { return m_storage.generic.sa_family; }
  u_short PortNet() const;
  void SetPortNet(u_short portNet);
  // IPv4 only: the address in network order.
  unsigned long Ipv4Net() const;
  void SetIpv4Net(unsigned long addressNet);

  // For the calls that take an address.
  const sockaddr* Get() const { return &m_storage.generic; }
  int Length() const { return m_length; }
  // For the calls that write one (recvfrom, getsockname): the storage, and its capacity in
  // *length; Written then takes the length the call wrote.
  sockaddr* Out(int* length) {
    *length = kCapacity;
    return &m_storage.generic;
  }
  void Written(int length) { m_length = length; }

  // The same family, address and port.
  bool operator==(const SocketAddress& other) const;
  // The address as text (IPv4 dotted, inet_ntoa through the seam); empty for no address.
  std::string AddressText() const;

 private:
  union Storage {
    sockaddr generic;
    sockaddr_in ipv4;
    alignas(8) unsigned char bytes[kCapacity];
  } m_storage{};
  int m_length = 0;
};

}  // namespace udp
