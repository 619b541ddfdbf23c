// The control data's layout needs the Windows Sockets 2 headers, included before winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include "support/send_sources.h"

#include <cstring>

#include "endpoint/socket_address.h"

namespace host {

namespace {

int PASCAL RecordingSendMsg(SOCKET s, _WSAMSG* message, DWORD flags, DWORD* sent,
                            OVERLAPPED* overlapped, void* completion) {
  std::string source;
  for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(message); c; c = WSA_CMSG_NXTHDR(message, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      IN_PKTINFO info;
      std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
      source = udp::SocketAddress::Ipv4(info.ipi_addr.s_addr).AddressText();
    } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
      IN6_PKTINFO info;
      std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = info.ipi6_addr;
      source = udp::SocketAddress::From(reinterpret_cast<sockaddr*>(&a), sizeof a).AddressText();
    }
  }
  SendSources::seen().push_back(source);
  return udp::SystemWinsock().WSASendMsg(s, message, flags, sent, overlapped, completion);
}

}  // namespace

SendSources::SendSources() {
  seen().clear();
  patch_->WSASendMsg = RecordingSendMsg;
}

std::vector<std::string>& SendSources::seen() {
  static std::vector<std::string> sources;
  return sources;
}

}  // namespace host
