// Replaces single entries of the control's sockets table for one test, restoring the whole table
// afterwards.
#pragma once
#include "endpoint/winsock_api.h"

namespace host {

class WinsockPatch {
 public:
  WinsockPatch() : saved_(udp::Winsock()) {}
  ~WinsockPatch() { udp::Winsock() = saved_; }
  WinsockPatch(const WinsockPatch&) = delete;
  WinsockPatch& operator=(const WinsockPatch&) = delete;

  udp::WinsockApi* operator->() { return &udp::Winsock(); }
  udp::WinsockApi& api() { return udp::Winsock(); }
  // The entries as they were when the patch was made, for fakes that pass calls on.
  const udp::WinsockApi& original() const { return saved_; }

 private:
  udp::WinsockApi saved_;
};

}  // namespace host
