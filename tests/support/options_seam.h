// Fault injection and observation for the option and start-up tests. Each object replaces entries
// of the control's sockets table for its lifetime and puts the whole table back afterwards.
#pragma once
#include <winsock.h>

#include <vector>

#include "endpoint/winsock_api.h"
#include "support/winsock_fault.h"
#include "support/host.h"

namespace host {

struct SockoptCall {
  int level;
  int option;
  int value;  // the 4-byte value passed, or -1 for another length
};

// Records every setsockopt the control makes, and where the first bind came among them, and passes
// them on; on request it refuses the buffer-size options, on writes or on reads, with a chosen
// Windows Sockets error. One at a time.
class SockoptSpy {
 public:
  SockoptSpy();
  ~SockoptSpy();
  SockoptSpy(const SockoptSpy&) = delete;
  SockoptSpy& operator=(const SockoptSpy&) = delete;

  void RefuseBufferWrites(int wsaError) { refuseWrites_ = wsaError; }
  void RefuseBufferReads(int wsaError) { refuseReads_ = wsaError; }
  const std::vector<SockoptCall>& sets() const { return sets_; }
  int SetsOf(int option) const;
  int ReadsOf(int option) const;
  // How many of sets() came before the first bind; -1 while nothing was bound.
  int SetsBeforeBind() const { return setsBeforeBind_; }
  void Clear() {
    sets_.clear();
    reads_.clear();
    setsBeforeBind_ = -1;
  }

 private:
  static int PASCAL SetOption(SOCKET s, int level, int option, const char* value, int length);
  static int PASCAL GetOption(SOCKET s, int level, int option, char* value, int* length);
  static int PASCAL Bind(SOCKET s, const sockaddr* address, int length);

  WinsockPatch patch_;
  std::vector<SockoptCall> sets_;
  std::vector<int> reads_;
  int refuseWrites_ = 0;
  int refuseReads_ = 0;
  int setsBeforeBind_ = -1;
};

// The value of an integer socket option as the system reports it; -1 when the call fails.
int SystemSocketOption(SOCKET s, int option);
// The same option of a fresh datagram socket: the system's default.
int DefaultSocketOption(int option);

}  // namespace host
