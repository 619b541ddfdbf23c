#include "endpoint/winsock_api.h"

namespace udp {

namespace {

using WsaIoctlFn = decltype(WinsockApi::WSAIoctl);

int PASCAL IoctlUnavailable(SOCKET, DWORD, void*, DWORD, void*, DWORD, DWORD*, void*, void*) {
  ::WSASetLastError(WSAEOPNOTSUPP);
  return SOCKET_ERROR;
}

WsaIoctlFn Ws2Ioctl() {
  // wsock32 forwards to ws2_32, so it is normally loaded already. A library loaded here stays
  // loaded for the process: it may not be freed under the loader lock when this module unloads.
  HMODULE ws2 = ::GetModuleHandleW(L"ws2_32.dll");
  if (!ws2) ws2 = ::LoadLibraryW(L"ws2_32.dll");
  FARPROC found = ws2 ? ::GetProcAddress(ws2, "WSAIoctl") : nullptr;
  return found ? reinterpret_cast<WsaIoctlFn>(reinterpret_cast<void (*)()>(found))
               : IoctlUnavailable;
}

}  // namespace

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
      Ws2Ioctl(),
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
