// The only file that knows the layout of the families' addresses. It includes the Windows Sockets
// 2 headers for sockaddr_in6, before winsock.h (which they then stand in for).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "endpoint/socket_address.h"

#include <algorithm>
#include <cstring>

#include "endpoint/winsock_api.h"
#include "framework/text.h"

namespace udp {

static_assert(sizeof(sockaddr_in) <= SocketAddress::kCapacity);
static_assert(sizeof(sockaddr_in6) <= SocketAddress::kCapacity);
static_assert(sizeof(sockaddr_storage) == SocketAddress::kCapacity);
static_assert(kFamilyIpv6 == AF_INET6);

namespace {

sockaddr_in6& V6(sockaddr& generic) { return reinterpret_cast<sockaddr_in6&>(generic); }
const sockaddr_in6& V6(const sockaddr& generic) {
  return reinterpret_cast<const sockaddr_in6&>(generic);
}

constexpr unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Only the characters an address text has, a scope of decimal digits after one '%': the system's
// reader also takes "[::1]:80" and other forms a host that types an address does not mean.
bool HasIpv6TextShape(std::wstring_view text) {
  if (text.empty() || text.size() > SocketAddress::kMaxIpv6Text || !LooksLikeIpv6(text))
    return false;
  const size_t percent = text.find(L'%');
  const std::wstring_view address = text.substr(0, percent);
  if (!std::ranges::all_of(address,
                           [](wchar_t c) { return IsHexDigit(c) || c == L':' || c == L'.'; }))
    return false;
  if (percent == text.npos) return true;
  const std::wstring_view scope = text.substr(percent + 1);
  return !scope.empty() && scope.size() <= 10 &&
         std::ranges::all_of(scope, [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

}  // namespace

SocketAddress SocketAddress::Ipv4(unsigned long addressNet, u_short portNet) {
  SocketAddress a;
  a.m_storage.ipv4.sin_family = AF_INET;
  a.m_storage.ipv4.sin_port = portNet;
  a.m_storage.ipv4.sin_addr.s_addr = addressNet;
  a.m_length = sizeof a.m_storage.ipv4;
  return a;
}

SocketAddress SocketAddress::AnyOf(int family, u_short portNet) {
  if (family != AF_INET6) return Ipv4(INADDR_ANY, portNet);
  SocketAddress a;
  V6(a.m_storage.generic).sin6_family = AF_INET6;
  V6(a.m_storage.generic).sin6_port = portNet;
  a.m_length = sizeof(sockaddr_in6);
  return a;
}

std::optional<SocketAddress> SocketAddress::ParseIpv6(std::wstring_view text) {
  if (!HasIpv6TextShape(text)) return std::nullopt;
  std::wstring copy(text);  // the system's reader takes a writable text
  SocketAddress a;
  int length = 0;
  sockaddr* out = a.Out(&length);
  if (Winsock().WSAStringToAddressW(copy.data(), AF_INET6, nullptr, out, &length) != 0 ||
      a.Family() != AF_INET6)
    return std::nullopt;
  a.Written(length);
  a.SetPortNet(0);
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
  if (Family() == AF_INET6) return V6(m_storage.generic).sin6_port;
  if (Family() != AF_INET) return 0;
  return m_storage.ipv4.sin_port;
}

void SocketAddress::SetPortNet(u_short portNet) {
  if (Family() == AF_INET6) V6(m_storage.generic).sin6_port = portNet;
  if (Family() == AF_INET) m_storage.ipv4.sin_port = portNet;
}

unsigned long SocketAddress::Ipv4Net() const {
  if (Family() != AF_INET) return INADDR_ANY;
  return m_storage.ipv4.sin_addr.s_addr;
}

void SocketAddress::SetIpv4Net(unsigned long addressNet) {
  if (Family() == AF_INET) m_storage.ipv4.sin_addr.s_addr = addressNet;
}

const unsigned char* SocketAddress::Ipv6Bytes() const {
  static const unsigned char kNone[16] = {};
  if (Family() != AF_INET6) return kNone;
  return V6(m_storage.generic).sin6_addr.s6_addr;
}

unsigned long SocketAddress::ScopeId() const {
  return Family() == AF_INET6 ? V6(m_storage.generic).sin6_scope_id : 0;
}

bool SocketAddress::IsAny() const {
  if (Family() == AF_INET) return Ipv4Net() == INADDR_ANY;
  const unsigned char* bytes = Ipv6Bytes();
  return Family() == AF_INET6 &&
         std::all_of(bytes, bytes + 16, [](unsigned char b) { return b == 0; });
}

bool SocketAddress::IsMulticast() const {
  if (Family() == AF_INET)
    return (reinterpret_cast<const u_char*>(&m_storage.ipv4.sin_addr)[0] & 0xF0) == 0xE0;
  return Family() == AF_INET6 && Ipv6Bytes()[0] == 0xFF;
}

SocketAddress SocketAddress::Mapped() const {
  if (Family() != AF_INET) return *this;
  SocketAddress a = AnyOf(AF_INET6, PortNet());
  unsigned char* bytes = V6(a.m_storage.generic).sin6_addr.s6_addr;
  std::memcpy(bytes, kMappedPrefix, sizeof kMappedPrefix);
  std::memcpy(bytes + 12, &m_storage.ipv4.sin_addr, 4);
  return a;
}

SocketAddress SocketAddress::Unmapped() const {
  if (Family() != AF_INET6 || std::memcmp(Ipv6Bytes(), kMappedPrefix, sizeof kMappedPrefix) != 0)
    return *this;
  unsigned long address = 0;
  std::memcpy(&address, Ipv6Bytes() + 12, 4);
  return Ipv4(address, PortNet());
}

bool SocketAddress::SameHost(const SocketAddress& other) const {
  const SocketAddress a = Unmapped(), b = other.Unmapped();
  if (a.Family() != b.Family()) return false;
  if (a.Family() == AF_INET) return a.Ipv4Net() == b.Ipv4Net();
  return a.Family() == AF_INET6 && std::memcmp(a.Ipv6Bytes(), b.Ipv6Bytes(), 16) == 0;
}

void SocketAddress::SetHost(const SocketAddress& host) {
  const u_short port = PortNet();
  *this = host;
  SetPortNet(port);
}

bool SocketAddress::operator==(const SocketAddress& other) const {
  if (Family() != other.Family()) return false;
  if (Family() != AF_INET)
    return m_length == other.m_length &&
           std::memcmp(m_storage.bytes, other.m_storage.bytes, static_cast<size_t>(m_length)) == 0;
  return Ipv4Net() == other.Ipv4Net() && PortNet() == other.PortNet();
}

std::string SocketAddress::AddressText() const {
  if (Family() == AF_INET6) {
    const SocketAddress unmapped = Unmapped();
    if (unmapped.Family() == AF_INET) return unmapped.AddressText();
    // The text of the address alone: with a port the system would write "[addr]:port".
    sockaddr_in6 address = V6(m_storage.generic);
    address.sin6_port = 0;
    address.sin6_flowinfo = 0;
    wchar_t text[kMaxIpv6Text];
    DWORD length = kMaxIpv6Text;
    if (Winsock().WSAAddressToStringW(reinterpret_cast<sockaddr*>(&address), sizeof address,
                                      nullptr, text, &length) != 0)
      return {};
    return fw::AnsiFromWide(text);
  }
  if (Family() != AF_INET) return {};
  in_addr address{};
  address.s_addr = Ipv4Net();
  const char* text = Winsock().inet_ntoa(address);
  return text ? text : "";
}

}  // namespace udp
