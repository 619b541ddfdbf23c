// WSARecvMsg and its control data need the Windows Sockets 2 headers, included before winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include "endpoint/packet_info.h"

#include <cstring>

#include "endpoint/winsock_api.h"

namespace udp {

namespace {

bool SetOn(SOCKET socket, int level, int option) {
  const DWORD on = 1;
  return Winsock().ws2_setsockopt(socket, level, option, reinterpret_cast<const char*>(&on),
                                  sizeof on) != SOCKET_ERROR;
}

// Room for an IN6_PKTINFO and an IN_PKTINFO (a dual-stack socket's IPv4 datagram brings both).
constexpr size_t kControlSpace = WSA_CMSG_SPACE(sizeof(IN6_PKTINFO)) +
                                 WSA_CMSG_SPACE(sizeof(IN_PKTINFO)) + 16;

}  // namespace

bool DestinationReader::Enable(SOCKET socket, int family, bool dualStack) {
  m_enabled = false;
  const bool asked = family == AF_INET6
                         ? SetOn(socket, IPPROTO_IPV6, IPV6_PKTINFO) &&
                               (!dualStack || SetOn(socket, IPPROTO_IP, IP_PKTINFO))
                         : SetOn(socket, IPPROTO_IP, IP_PKTINFO);
  if (!asked) return false;
  GUID id = WSAID_WSARECVMSG;
  void* function = nullptr;
  DWORD returned = 0;
  if (Winsock().WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function,
                         sizeof function, &returned, nullptr, nullptr) == SOCKET_ERROR ||
      !function)
    return false;
  m_enabled = true;
  return true;
}

int DestinationReader::Receive(SOCKET socket, char* buffer, int length, SocketAddress& from,
                               PacketDestination& to) const {
  to = {};
  alignas(WSACMSGHDR) char control[kControlSpace];
  int fromLength = 0;
  WSABUF data{static_cast<ULONG>(length), buffer};
  WSAMSG message{};
  message.name = from.Out(&fromLength);
  message.namelen = fromLength;
  message.lpBuffers = &data;
  message.dwBufferCount = 1;
  message.Control = {sizeof control, control};
  DWORD received = 0;
  if (Winsock().WSARecvMsg(socket, &message, &received, nullptr, nullptr) == SOCKET_ERROR)
    return SOCKET_ERROR;
  from.Written(message.namelen);
  for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c; c = WSA_CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
      IN6_PKTINFO info;
      std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
      sockaddr_in6 address{};
      address.sin6_family = AF_INET6;
      address.sin6_addr = info.ipi6_addr;
      to.address = SocketAddress::From(reinterpret_cast<sockaddr*>(&address), sizeof address);
      to.interfaceIndex = info.ipi6_ifindex;
    } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
               to.address.Family() != AF_INET6) {
      IN_PKTINFO info;
      std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
      to.address = SocketAddress::Ipv4(info.ipi_addr.s_addr);
      to.interfaceIndex = info.ipi_ifindex;
    }
  }
  return static_cast<int>(received);
}

int SendFrom(SOCKET socket, const char* data, int length, const SocketAddress& to,
             const SocketAddress& source) {
  alignas(WSACMSGHDR) char control[kControlSpace] = {};
  auto* header = reinterpret_cast<WSACMSGHDR*>(control);
  size_t controlLength = 0;
  if (source.Family() == AF_INET6) {
    IN6_PKTINFO info{};
    std::memcpy(&info.ipi6_addr, source.Ipv6Bytes(), sizeof info.ipi6_addr);
    header->cmsg_level = IPPROTO_IPV6;
    header->cmsg_type = IPV6_PKTINFO;
    header->cmsg_len = WSA_CMSG_LEN(sizeof info);
    std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);
    controlLength = WSA_CMSG_SPACE(sizeof info);
  } else {
    IN_PKTINFO info{};
    info.ipi_addr.s_addr = source.Unmapped().Ipv4Net();
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = WSA_CMSG_LEN(sizeof info);
    std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);
    controlLength = WSA_CMSG_SPACE(sizeof info);
  }
  WSABUF buffer{static_cast<ULONG>(length), const_cast<char*>(data)};
  WSAMSG message{};
  message.name = const_cast<sockaddr*>(to.Get());
  message.namelen = to.Length();
  message.lpBuffers = &buffer;
  message.dwBufferCount = 1;
  message.Control = {static_cast<ULONG>(controlLength), control};
  DWORD sent = 0;
  if (Winsock().WSASendMsg(socket, &message, 0, &sent, nullptr, nullptr) == SOCKET_ERROR)
    return SOCKET_ERROR;
  return static_cast<int>(sent);
}

}  // namespace udp
