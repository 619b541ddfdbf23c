// Helpers for datagram scenarios: opening a control on loopback, posting socket notifications to
// its window as the sockets layer would, and patching single entries of the sockets seam.
#pragma once
#include <winsock.h>

#include <string>
#include <vector>

#include "control/winsock_api.h"
#include "support/winsock_fault.h"
#include "support/host.h"

namespace host {

inline constexpr DISPID kWsError = 1, kReceived = 2, kClosed = 3, kReady = 4, kSent = 5;

// The control's status codes as a host sees them in EXCEPINFO.
inline constexpr SCODE kScodeNotWritable = static_cast<SCODE>(0x800A74CD);
inline constexpr SCODE kScodeNotOpen = static_cast<SCODE>(0x800A74CE);
inline constexpr SCODE kScodeOutOfMemory = static_cast<SCODE>(0x800A74D4);
inline constexpr SCODE kScodeBadArgument = static_cast<SCODE>(0x800A74D5);

inline const std::wstring kWinsockMessage = L"Winsockでエラーが発生しました。";

// Opens the control on a port of the system's choice and pumps until Ready; returns the port the
// socket is bound to (read from the handle the control exposes as Socket).
u_short OpenAndWaitReady(Host& h, int timeoutMs = 3000);
// The bound port of the control's current socket.
u_short BoundPort(Host& h);
// Posts a socket notification (WM_USER+1) to the control's window, as the sockets layer does.
void PostSocketNotify(Host& h, WORD event, WORD error = 0);
// A port as the control writes it in events: signed 16-bit decimal.
std::wstring SignedPortText(u_short port);
// The receive buffer size the control derives from the sockets layer's iMaxUdpDg.
int ExpectedMaxDatagram();

// The arguments of the events of one kind, in order.
std::vector<Event> EventsOf(const EventSink& sink, DISPID id);
// The bytes of each Received event, in order.
std::vector<std::vector<unsigned char>> ReceivedData(const EventSink& sink);

}  // namespace host
