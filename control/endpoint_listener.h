// What an object that owns a control's endpoint hears from it in place of the control's events:
// a C++ listener set with CUdpCtrl::SetListener. A control with a listener has no form and no
// user to click a box: it shows no message box, and every failure outside a call reaches the
// listener as a failure to report.
#pragma once
#include <winsock.h>

#include <cstdint>

#include "control/socket_address.h"

namespace udp {

// A failure outside a call, as the failure convention reports it. Its texts are the control's
// own constants and live as long as the module.
struct EndpointFailure {
  LONG ecode;
  const wchar_t* description;
  const wchar_t* where;
  // The endpoint it happened on (the control's count of successful Opens then): the automatic
  // close closes that endpoint only, never one opened since.
  LONG endpoint;
  // The pending datagram that failed (its look-up or its send), by the number SendTo gave it; 0
  // for any other failure. Once the failure has been reported that datagram is dropped, whether
  // or not the port stays open; a datagram sent since is not this failure's.
  uint64_t failedDatagram;
};

class EndpointListener {
 public:
  virtual void OnEndpointReady() = 0;
  // One datagram, with its sender's texts as Received gives them. Everything is the control's
  // and valid only during the call.
  virtual void OnEndpointReceived(const SocketAddress& from, BSTR address, BSTR port,
                                  const char* data, size_t length) = 0;
  virtual void OnEndpointSent() = 0;
  virtual void OnEndpointClosed() = 0;
  // The listener raises the failure when it can, now or later, then hands it back with
  // CUdpCtrl::SettleFailure, which makes the automatic close unless the close was cancelled.
  virtual void OnEndpointFailure(const EndpointFailure& failure) = 0;
  // The control has finished handling one of its window messages: none of its code runs further
  // up the stack on its behalf, so handlers may now run and pump messages.
  virtual void OnEndpointIdle() = 0;

 protected:
  ~EndpointListener() = default;
};

}  // namespace udp
