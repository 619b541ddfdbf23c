// The part of the sockets seam that needs the Windows Sockets 2 headers: the extension functions
// ws2_32 hands out through WSAIoctl rather than exports.
#include <winsock2.h>
#include <mswsock.h>

#include <atomic>

#include "endpoint/winsock_api.h"

namespace udp::detail {

int PASCAL ReceiveMessageByExtension(SOCKET s, _WSAMSG* message, DWORD* received,
                                     OVERLAPPED* overlapped, void* completion) {
  // The pointer belongs to the provider, which is the system's TCP/IP provider for every socket
  // the endpoint makes: it is looked up on the first socket and kept.
  static std::atomic<LPFN_WSARECVMSG> found{nullptr};
  LPFN_WSARECVMSG function = found.load();
  if (!function) {
    GUID id = WSAID_WSARECVMSG;
    DWORD returned = 0;
    if (SystemWinsock().WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function,
                                 sizeof function, &returned, nullptr, nullptr) == SOCKET_ERROR ||
        !function) {
      ::WSASetLastError(WSAEOPNOTSUPP);
      return SOCKET_ERROR;
    }
    found = function;
  }
  return function(s, message, received, overlapped,
                  reinterpret_cast<LPWSAOVERLAPPED_COMPLETION_ROUTINE>(completion));
}

}  // namespace udp::detail
