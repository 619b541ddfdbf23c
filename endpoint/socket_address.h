// A socket address of any family, held as the sockets layer reads and writes it: storage the size
// and alignment of sockaddr_storage, the length in use, and the family's address and port. Every
// address the endpoint and its owners pass around is one of these; sockaddr_in and sockaddr_in6
// appear only in its source file, so the code that carries an address never asks its layout.
// Its text is made through the sockets seam: dotted IPv4 as the control always made it, IPv6 in
// the system's shortest standard form.
#pragma once
#include <winsock.h>

#include <optional>
#include <string>
#include <string_view>

namespace udp {

// AF_INET6 (ws2def.h; winsock.h gives it another number).
inline constexpr int kFamilyIpv6 = 23;

class SocketAddress {
 public:
  // The size of sockaddr_storage (winsock2.h, which cannot be included beside winsock.h).
  static constexpr int kCapacity = 128;
  // The longest IPv6 text taken: the longest address text (45), a scope and some room.
  static constexpr size_t kMaxIpv6Text = 64;

  // No address at all (family AF_UNSPEC, length 0).
  SocketAddress() = default;
  // An IPv4 address and port, both in network order.
  static SocketAddress Ipv4(unsigned long addressNet, u_short portNet = 0);
  // Every address of a family (AF_INET or kFamilyIpv6) with a port in network order.
  static SocketAddress AnyOf(int family, u_short portNet = 0);
  // An IPv6 address text ("::1", "fe80::1%3" with a numeric scope), read by the system; nothing
  // for a text that is not exactly that: brackets, a port, spaces, a scope that is not a number
  // and anything the system refuses.
  static std::optional<SocketAddress> ParseIpv6(std::wstring_view text);
  // A copy of an address the system wrote elsewhere (the IP helper's lists, the resolver's
  // results); what does not fit the storage is not taken.
  static SocketAddress From(const sockaddr* address, int length);

  int Family() const { return m_storage.generic.sa_family; }
  u_short PortNet() const;
  void SetPortNet(u_short portNet);
  // IPv4 only: the address in network order.
  unsigned long Ipv4Net() const;
  void SetIpv4Net(unsigned long addressNet);
  // IPv6 only: the 16 bytes of the address, and its scope (the interface index of a link-local
  // address, 0 for none).
  const unsigned char* Ipv6Bytes() const;
  unsigned long ScopeId() const;

  // Every address of its family (0.0.0.0, ::).
  bool IsAny() const;
  // A group address: 224.0.0.0/4 or ff00::/8.
  bool IsMulticast() const;
  // An IPv4 address as an IPv6 socket names it (::ffff:a.b.c.d), the port kept; anything else as
  // it is.
  SocketAddress Mapped() const;
  // The other way: an IPv4-mapped IPv6 address as the IPv4 address it stands for.
  SocketAddress Unmapped() const;
  // The same host address (an IPv4-mapped one as its IPv4 address), whatever the ports and scopes.
  bool SameHost(const SocketAddress& other) const;
  // Takes the family, address and scope of `host`, keeping this address's port.
  void SetHost(const SocketAddress& host);

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
  // The address as text, without the port: IPv4 dotted (inet_ntoa through the seam), IPv6 in the
  // system's form with "%n" for a scope, an IPv4-mapped address as the dotted IPv4 one; empty for
  // no address.
  std::string AddressText() const;

 private:
  union Storage {
    sockaddr generic;
    sockaddr_in ipv4;
    alignas(8) unsigned char bytes[kCapacity];
  } m_storage{};
  int m_length = 0;
};

// A text that can only mean an IPv6 address (it has a colon, which no name or dotted text has);
// whether it is a well-formed one is ParseIpv6's to say.
inline bool LooksLikeIpv6(std::wstring_view text) { return text.find(L':') != text.npos; }

}  // namespace udp
