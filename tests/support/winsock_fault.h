// Replaces single entries of the control's sockets table for one test, restoring them afterwards.
#pragma once
#include "control/winsock_api.h"

namespace host {

class ScopedWinsock {
 public:
  ScopedWinsock() : saved_(udp::Winsock()) {}
  ~ScopedWinsock() { udp::Winsock() = saved_; }
  ScopedWinsock(const ScopedWinsock&) = delete;
  ScopedWinsock& operator=(const ScopedWinsock&) = delete;
  udp::WinsockApi* operator->() { return &udp::Winsock(); }

 private:
  udp::WinsockApi saved_;
};

}  // namespace host
