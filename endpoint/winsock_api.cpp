#include "endpoint/winsock_api.h"

namespace udp {

namespace {

void FailUnavailable() { ::WSASetLastError(WSAEOPNOTSUPP); }

int PASCAL IoctlUnavailable(SOCKET, DWORD, void*, DWORD, void*, DWORD, DWORD*, void*, void*) {
  FailUnavailable();
  return SOCKET_ERROR;
}
int PASCAL StringToAddressUnavailable(wchar_t*, int, void*, sockaddr*, int*) {
  FailUnavailable();
  return SOCKET_ERROR;
}
int PASCAL AddressToStringUnavailable(sockaddr*, DWORD, void*, wchar_t*, DWORD*) {
  FailUnavailable();
  return SOCKET_ERROR;
}
int PASCAL GetAddrInfoExUnavailable(const wchar_t*, const wchar_t*, DWORD, GUID*,
                                    const addrinfoExW*, addrinfoExW**, timeval*, OVERLAPPED*,
                                    AddressLookupCompletion, HANDLE*) {
  FailUnavailable();
  return WSAEOPNOTSUPP;
}
int PASCAL CancelUnavailable(HANDLE*) { return WSAEOPNOTSUPP; }
void PASCAL FreeUnavailable(addrinfoExW*) {}
int PASCAL SetOptionUnavailable(SOCKET, int, int, const char*, int) {
  FailUnavailable();
  return SOCKET_ERROR;
}
int PASCAL GetOptionUnavailable(SOCKET, int, int, char*, int*) {
  FailUnavailable();
  return SOCKET_ERROR;
}
int PASCAL SendMessageUnavailable(SOCKET, _WSAMSG*, DWORD, DWORD*, OVERLAPPED*, void*) {
  FailUnavailable();
  return SOCKET_ERROR;
}

// A function of ws2_32, or the stand-in when this system's ws2_32 lacks it. wsock32 forwards to
// ws2_32, so it is normally loaded already. A library loaded here stays loaded for the process:
// it may not be freed under the loader lock when this module unloads.
template <class Fn>
Fn Ws2(const char* name, Fn unavailable) {
  HMODULE ws2 = ::GetModuleHandleW(L"ws2_32.dll");
  if (!ws2) ws2 = ::LoadLibraryW(L"ws2_32.dll");
  FARPROC found = ws2 ? ::GetProcAddress(ws2, name) : nullptr;
  return found ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(found)) : unavailable;
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
      Ws2("WSAIoctl", IoctlUnavailable),
      Ws2("WSAStringToAddressW", StringToAddressUnavailable),
      Ws2("WSAAddressToStringW", AddressToStringUnavailable),
      Ws2("GetAddrInfoExW", GetAddrInfoExUnavailable),
      Ws2("GetAddrInfoExCancel", CancelUnavailable),
      Ws2("FreeAddrInfoExW", FreeUnavailable),
      Ws2("setsockopt", SetOptionUnavailable),
      Ws2("getsockopt", GetOptionUnavailable),
      detail::ReceiveMessageByExtension,
      Ws2("WSASendMsg", SendMessageUnavailable),
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
