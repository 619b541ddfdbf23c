// Helpers for datagram scenarios: opening a control on loopback, posting socket notifications to
// its window as the sockets layer would, and patching single entries of the sockets seam.
#pragma once
#include <winsock.h>

#include <string>
#include <vector>

#include "endpoint/winsock_api.h"
#include "support/winsock_fault.h"
#include "support/host.h"

namespace host {

// Opens the control (on a port of the system's choice unless another port text is given) and pumps
// until Ready; returns the port the socket is bound to (read from the handle the control exposes
// as Socket). A failure throws, naming the caller's line.
u_short OpenAndWaitReady(Host& h, const std::wstring& localPort = L"0",
                         const Where& where = Where::current());
// Opens on a local address (an IPv6 text opens an IPv6 socket, dual stack unless ipv6Only) as
// OpenAndWaitReady does.
u_short OpenOnAddress(Host& h, const wchar_t* localAddress, bool ipv6Only = false,
                      const Where& where = Where::current());
// The bound port of the control's current socket.
u_short BoundPort(Host& h, const Where& where = Where::current());
// The control's current socket, as Socket shows it.
SOCKET SocketOf(Host& h);
// Posts a socket notification (WM_USER+1) to the control's window, as the sockets layer does.
void PostSocketNotify(Host& h, WORD event, WORD error = 0);
// A port as a host writes it for SendTo: decimal.
std::wstring PortText(u_short port);
// A port as the control writes it in events: signed 16-bit decimal.
std::wstring SignedPortText(u_short port);
// The receive buffer size the control derives from the sockets layer's iMaxUdpDg.
int ExpectedMaxDatagram();

// The bytes of each Received event, in order.
std::vector<std::vector<unsigned char>> ReceivedData(const EventSink& sink);
// The positions among the Received events of those that carry these bytes.
std::vector<size_t> ReceivedIndicesOf(const EventSink& sink,
                                      const std::vector<unsigned char>& bytes);

// What ToAddress and ToInterface read inside each Received of a host, in order (its handler).
struct SeenDestinations {
  std::vector<std::wstring> addresses;
  std::vector<LONG> interfaces;
  explicit SeenDestinations(Host& h);
  SeenDestinations(const SeenDestinations&) = delete;  // the handler holds this one
  SeenDestinations& operator=(const SeenDestinations&) = delete;
};

}  // namespace host
