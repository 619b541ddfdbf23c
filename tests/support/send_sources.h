// What WSASendMsg is asked to send from. Wine drops a datagram's packet-information control data
// (the receiver sees the route's address), Windows honours it: the sockets seam shows what the
// control passed. The datagrams still go out through the system's WSASendMsg.
#pragma once
#include <string>
#include <vector>

#include "support/winsock_fault.h"

namespace host {

class SendSources {
 public:
  SendSources();
  // The source address of each WSASendMsg, as text ("" for none), in order.
  static std::vector<std::string>& seen();

 private:
  WinsockPatch patch_;
};

}  // namespace host
