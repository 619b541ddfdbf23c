// The sender of the last datagram as Received gives it: the dotted address and the port as decimal
// text of a signed 16-bit value, each a BSTR the event passes to its sinks. A peer usually sends
// many datagrams in a row: its texts are made once and handed to every Received it raises.
#pragma once
#include <winsock.h>

#include "framework/unique_any.h"

namespace udp {

class SenderTexts {
 public:
  // Makes the texts of `from`, unless they are those of the last sender. Throws std::bad_alloc.
  void Update(const sockaddr_in& from);
  BSTR address() const { return address_.get(); }
  BSTR port() const { return port_.get(); }

 private:
  ULONG lastAddress_ = 0;
  USHORT lastPort_ = 0;
  bool known_ = false;
  fw::unique_bstr address_, port_;
};

}  // namespace udp
