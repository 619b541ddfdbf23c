// What the owner of an Endpoint hears from it, and what the endpoint asks of its owner: the one
// way the control and UdpSocket are told what happened. The control turns these into its events,
// its message boxes and its form's modified flag; UdpSocket into its queue, sinks and callbacks.
#pragma once
#include <winsock.h>

#include <cstdint>

#include "endpoint/packet_info.h"
#include "endpoint/socket_address.h"

namespace udp {

// A failure outside a call, as the failure convention reports it. Its texts are the endpoint's
// own constants and live as long as the module.
struct EndpointFailure {
  LONG ecode;
  const wchar_t* description;
  const wchar_t* where;
  // The endpoint it happened on (the count of successful Opens then): the automatic close closes
  // that endpoint only, never one opened since.
  LONG endpoint;
  // The pending datagram that failed (its look-up or its send), by the number SendTo gave it; 0
  // for any other failure. Once the failure has been reported that datagram is dropped, whether
  // or not the port stays open; a datagram sent since is not this failure's.
  uint64_t failedDatagram;
};

class EndpointEvents {
 public:
  virtual void OnEndpointReady() = 0;
  // One datagram, with its sender's texts as Received gives them and its destination (unknown
  // where the system cannot tell). Everything is the endpoint's and valid only during the call.
  virtual void OnEndpointReceived(const SocketAddress& from, BSTR address, BSTR port,
                                  const PacketDestination& to, const char* data,
                                  size_t length) = 0;
  virtual void OnEndpointSent() = 0;
  virtual void OnEndpointClosed() = 0;
  // The owner raises the failure when it can, now or later, then hands it back with
  // Endpoint::SettleFailure, which makes the automatic close unless the close was cancelled.
  virtual void OnEndpointFailure(const EndpointFailure& failure) = 0;
  // Something the owner saves may have changed (a property, the state after a notification).
  virtual void OnEndpointModified() = 0;

  // The window whose messages the owner hands to Endpoint::OnMessage; nullptr when it has none.
  virtual HWND NotificationWindow() const = 0;
  // Runs one of the endpoint's messages that reached another window (a look-up completion at the
  // relay) as the owner's notification window runs its own.
  virtual void RunEndpointMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // While the owner holds its events back, notifications wait in the ring, so that the host sees
  // what happened in its order; Endpoint::ResumeWaitingNotifications dispatches them.
  virtual bool HoldsNotifications() const = 0;
  // A message for the user that no call can take. An owner on a form shows it and answers true;
  // one without a form has nobody to show it to, answers false, and hears it as a failure.
  virtual bool TellUser(const wchar_t* text, UINT style) = 0;

 protected:
  ~EndpointEvents() = default;
};

}  // namespace udp
