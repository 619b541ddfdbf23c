#include "endpoint/socket_address.h"

#include <cstring>

#include "endpoint/winsock_api.h"

namespace udp {

static_assert(sizeof(sockaddr_in) <= SocketAddress::kCapacity);

SocketAddress SocketAddress::Ipv4(unsigned long addressNet, u_short portNet) {
  SocketAddress a;
  a.m_storage.ipv4.sin_family = AF_INET;
  a.m_storage.ipv4.sin_port = portNet;
  a.m_storage.ipv4.sin_addr.s_addr = addressNet;
  a.m_length = sizeof a.m_storage.ipv4;
  return a;
}

SocketAddress SocketAddress::From(const sockaddr* address, int length) {
  SocketAddress a;
  if (!address || length <= 0) return a;
  a.m_length = length < kCapacity ? length : kCapacity;
  std::memcpy(a.m_storage.bytes, address, static_cast<size_t>(a.m_length));
  return a;
}

u_short SocketAddress::PortNet() const {
  if (Family() != AF_INET) return 0;
  return m_storage.ipv4.sin_port;
}

void SocketAddress::SetPortNet(u_short portNet) {
  if (Family() == AF_INET) m_storage.ipv4.sin_port = portNet;
}

unsigned long SocketAddress::Ipv4Net() const {
  if (Family() != AF_INET) return INADDR_ANY;
  return m_storage.ipv4.sin_addr.s_addr;
}

void SocketAddress::SetIpv4Net(unsigned long addressNet) {
  if (Family() == AF_INET) m_storage.ipv4.sin_addr.s_addr = addressNet;
}

bool SocketAddress::operator==(const SocketAddress& other) const {
  if (Family() != other.Family()) return false;
  if (Family() != AF_INET)
    return m_length == other.m_length &&
           std::memcmp(m_storage.bytes, other.m_storage.bytes, static_cast<size_t>(m_length)) == 0;
  return Ipv4Net() == other.Ipv4Net() && PortNet() == other.PortNet();
}

std::string SocketAddress::AddressText() const {
  if (Family() != AF_INET) return {};
  in_addr address{};
  address.s_addr = Ipv4Net();
  const char* text = Winsock().inet_ntoa(address);
  return text ? text : "";
}

}  // namespace udp
