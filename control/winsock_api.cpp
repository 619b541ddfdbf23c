#include "control/winsock_api.h"

namespace udp {

const WinsockApi& SystemWinsock() {
  static const WinsockApi api = {
      ::WSAStartup,
      ::WSACleanup,
      ::WSAGetLastError,
      ::gethostname,
      ::gethostbyname,
      ::socket,
      ::bind,
      ::connect,
      ::getsockname,
      ::closesocket,
      ::sendto,
      ::recvfrom,
      ::setsockopt,
      ::getsockopt,
      ::WSAAsyncSelect,
      ::WSAAsyncGetHostByName,
      ::WSAAsyncGetHostByAddr,
      ::WSAAsyncGetServByName,
      ::WSACancelAsyncRequest,
      ::inet_addr,
      ::inet_ntoa,
      ::htonl,
      ::htons,
      ::ntohl,
      ::ntohs,
  };
  return api;
}

WinsockApi& Winsock() {
  static WinsockApi api = SystemWinsock();
  return api;
}

}  // namespace udp
