// The sender of the last datagram as Received gives it: the dotted address and the port as decimal
// text of a signed 16-bit value, each a BSTR the event passes to its sinks. A peer usually sends
// many datagrams in a row: its texts are made once and handed to every Received it raises.
#pragma once
#include <winsock.h>

#include "endpoint/socket_address.h"
#include "framework/unique_any.h"

namespace udp {

class SenderTexts {
 public:
  // Makes the texts of `from`, unless they are those of the last sender. Throws std::bad_alloc.
  void Update(const SocketAddress& from);
  BSTR address() const { return m_address.get(); }
  BSTR port() const { return m_port.get(); }

 private:
  SocketAddress m_last;
  fw::unique_bstr m_address, m_port;
};

}  // namespace udp
