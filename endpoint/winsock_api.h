// The one seam through which the endpoint reaches Windows Sockets: a table of the operations it
// uses. The table holds the real wsock32 functions; tests replace single entries.
#pragma once
#include <winsock.h>

#include "framework/unique_any.h"

// ws2tcpip.h's address-information record and winsock2.h's message; they cannot be included
// beside winsock.h.
struct addrinfoExW;
struct _WSAMSG;

namespace udp {

// GetAddrInfoExW's completion routine (LPLOOKUPSERVICE_COMPLETION_ROUTINE).
using AddressLookupCompletion = void(CALLBACK*)(DWORD error, DWORD bytes, OVERLAPPED* overlapped);

struct WinsockApi {
  int(PASCAL* WSAStartup)(WORD version, LPWSADATA data);
  int(PASCAL* WSACleanup)();
  int(PASCAL* WSAGetLastError)();
  int(PASCAL* gethostname)(char* name, int length);
  hostent*(PASCAL* gethostbyname)(const char* name);
  SOCKET(PASCAL* socket)(int family, int type, int protocol);
  int(PASCAL* bind)(SOCKET s, const sockaddr* address, int length);
  int(PASCAL* connect)(SOCKET s, const sockaddr* address, int length);
  int(PASCAL* getsockname)(SOCKET s, sockaddr* address, int* length);
  int(PASCAL* closesocket)(SOCKET s);
  int(PASCAL* sendto)(SOCKET s, const char* data, int length, int flags, const sockaddr* to,
                      int toLength);
  int(PASCAL* recvfrom)(SOCKET s, char* buffer, int length, int flags, sockaddr* from,
                        int* fromLength);
  int(PASCAL* setsockopt)(SOCKET s, int level, int option, const char* value, int length);
  int(PASCAL* getsockopt)(SOCKET s, int level, int option, char* value, int* length);
  // ws2_32's WSAIoctl (overlapped arguments unused), looked up at run time: where it is missing
  // the entry fails with WSAEOPNOTSUPP.
  int(PASCAL* WSAIoctl)(SOCKET s, DWORD code, void* in, DWORD inLength, void* out,
                        DWORD outLength, DWORD* returned, void* overlapped, void* completion);
  // ws2_32's functions for what Windows Sockets 1.1 lacks (IPv6 texts, the address resolver, the
  // options of ws2tcpip.h), looked up at run time like WSAIoctl: where one is missing its entry
  // fails with WSAEOPNOTSUPP (the resolver with WSAEOPNOTSUPP as its result).
  int(PASCAL* WSAStringToAddressW)(wchar_t* text, int family, void* protocolInfo,
                                   sockaddr* address, int* length);
  int(PASCAL* WSAAddressToStringW)(sockaddr* address, DWORD length, void* protocolInfo,
                                   wchar_t* text, DWORD* textLength);
  int(PASCAL* GetAddrInfoExW)(const wchar_t* name, const wchar_t* service, DWORD nameSpace,
                              GUID* provider, const addrinfoExW* hints, addrinfoExW** result,
                              timeval* timeout, OVERLAPPED* overlapped,
                              AddressLookupCompletion completion, HANDLE* cancelHandle);
  int(PASCAL* GetAddrInfoExCancel)(HANDLE* cancelHandle);
  void(PASCAL* FreeAddrInfoExW)(addrinfoExW* result);
  // ws2_32's setsockopt and getsockopt take ws2tcpip.h's option numbers (the IPv6 level among
  // them); wsock32's above take winsock.h's, which differ for the IP level.
  int(PASCAL* ws2_setsockopt)(SOCKET s, int level, int option, const char* value, int length);
  int(PASCAL* ws2_getsockopt)(SOCKET s, int level, int option, char* value, int* length);
  // WSARecvMsg, the extension function ws2_32 hands out through WSAIoctl, found once for the
  // system's provider; where there is none it fails with WSAEOPNOTSUPP.
  int(PASCAL* WSARecvMsg)(SOCKET s, _WSAMSG* message, DWORD* received, OVERLAPPED* overlapped,
                          void* completion);
  // ws2_32's WSASendMsg (Windows Vista and later), as the ws2_32 functions above.
  int(PASCAL* WSASendMsg)(SOCKET s, _WSAMSG* message, DWORD flags, DWORD* sent,
                          OVERLAPPED* overlapped, void* completion);
  int(PASCAL* WSAAsyncSelect)(SOCKET s, HWND window, u_int message, long events);
  HANDLE(PASCAL* WSAAsyncGetHostByName)(HWND window, u_int message, const char* name,
                                        char* buffer, int length);
  HANDLE(PASCAL* WSAAsyncGetHostByAddr)(HWND window, u_int message, const char* address,
                                        int addressLength, int type, char* buffer, int length);
  HANDLE(PASCAL* WSAAsyncGetServByName)(HWND window, u_int message, const char* name,
                                        const char* protocol, char* buffer, int length);
  int(PASCAL* WSACancelAsyncRequest)(HANDLE task);
  unsigned long(PASCAL* inet_addr)(const char* text);
  char*(PASCAL* inet_ntoa)(in_addr address);
  u_long(PASCAL* htonl)(u_long value);
  u_short(PASCAL* htons)(u_short value);
  u_long(PASCAL* ntohl)(u_long value);
  u_short(PASCAL* ntohs)(u_short value);
};

namespace detail {
// The system's WSARecvMsg through its extension pointer (winsock_extensions.cpp).
int PASCAL ReceiveMessageByExtension(SOCKET s, _WSAMSG* message, DWORD* received,
                                     OVERLAPPED* overlapped, void* completion);
}  // namespace detail

// The table in use.
WinsockApi& Winsock();
// The real functions.
const WinsockApi& SystemWinsock();

namespace detail {
inline void CloseSocketThroughSeam(SOCKET s) { Winsock().closesocket(s); }
}  // namespace detail
using unique_socket = fw::unique_any<SOCKET, detail::CloseSocketThroughSeam, INVALID_SOCKET>;

}  // namespace udp
