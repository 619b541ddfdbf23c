// Stand-ins for the sockets layer's name and service look-ups, and a recorder of sends, both
// installed through the control's sockets seam for the life of the object.
#pragma once
#include <winsock.h>

#include <string>
#include <vector>

#include "endpoint/winsock_api.h"
#include "support/winsock_fault.h"

namespace host {

// Replaces the asynchronous database functions: each request is recorded and completes only when
// the test says so, writing the buffer and posting the message as the sockets layer does.
class FakeLookups {
 public:
  struct Request {
    HWND window;
    UINT message;
    std::string name;  // host or service name, or the dotted form of a reverse look-up
    char* buffer;
    int length;
    HANDLE task;
  };

  FakeLookups();
  ~FakeLookups();
  FakeLookups(const FakeLookups&) = delete;
  FakeLookups& operator=(const FakeLookups&) = delete;

  std::vector<Request> requests;
  std::vector<HANDLE> cancelled;
  // When non-zero, a start fails with this error: the next one, or the one after
  // startsBeforeFailure more have succeeded.
  int failNextStart = 0;
  int startsBeforeFailure = 0;
  // Cancelling as Windows does: a cancel that succeeds removes the completion (completing such a
  // request then does nothing at all), and a request that has completed cannot be cancelled
  // (WSAEALREADY). Otherwise as Wine does: the cancel succeeds and the completion still comes.
  bool windowsCancel = false;

  // dotted nullptr: a host entry that lists no address at all.
  void CompleteHost(size_t index, const char* officialName, const char* dotted);
  void CompleteService(size_t index, u_short port);
  void Fail(size_t index, int error);

 private:
  udp::WinsockApi saved_;
};

// Records the sockets calls of sending: every sendto, and every SO_BROADCAST setsockopt. A datagram
// for loopback goes out; one for any other address is only recorded. On request sendto or that
// setsockopt fails with a chosen error.
class SendRecorder {
 public:
  struct Sent {
    std::string address;
    u_short port;  // host order
    int length;
  };
  // One record per sendto or SO_BROADCAST setsockopt, in order.
  struct Call {
    bool send;                // sendto (else setsockopt SO_BROADCAST)
    sockaddr_in to;           // sendto
    std::vector<char> bytes;  // sendto
    int broadcast;            // setsockopt
  };

  SendRecorder();
  ~SendRecorder();
  SendRecorder(const SendRecorder&) = delete;
  SendRecorder& operator=(const SendRecorder&) = delete;

  std::vector<Sent> sent;
  std::vector<Call> calls;
  int sendError = 0;     // the error the next sendFailures sends fail with
  int sendFailures = 0;  // how many sends fail before they pass through again
  int setsockoptError = 0;

 private:
  static int PASCAL SendTo(SOCKET s, const char* data, int length, int flags, const sockaddr* to,
                           int toLength);
  static int PASCAL SetOption(SOCKET s, int level, int option, const char* value, int length);

  WinsockPatch patch_;
};

// The port of a service in the system's services database, or 0 when it is not listed.
u_short ServicePort(const char* name);

}  // namespace host
