#include "support/datagrams.h"

#include <stdexcept>

namespace host {

u_short BoundPort(Host& h) {
  const SOCKET s = static_cast<SOCKET>(static_cast<ULONG>(h.MustGet(L"Socket").i4()));
  sockaddr_in a = {};
  int len = sizeof a;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("getsockname on the control's socket failed");
  return ::ntohs(a.sin_port);
}

u_short OpenAndWaitReady(Host& h, int timeoutMs) {
  const int readyBefore = h.sink().Count(kReady);
  h.MustCall(L"Open", {L"0"});
  if (!h.WaitForEvents(kReady, readyBefore + 1, timeoutMs))
    throw std::runtime_error("Ready did not arrive");
  return BoundPort(h);
}

void PostSocketNotify(Host& h, WORD event, WORD error) {
  const SOCKET s = static_cast<SOCKET>(static_cast<ULONG>(h.MustGet(L"Socket").i4()));
  ::PostMessageW(h.Window(), WM_USER + 1, static_cast<WPARAM>(s), MAKELONG(event, error));
}

std::wstring SignedPortText(u_short port) { return std::to_wstring(static_cast<short>(port)); }

int ExpectedMaxDatagram() {
  WSADATA data = {};
  ::WSAStartup(0x0101, &data);
  ::WSACleanup();
  const unsigned raw = data.iMaxUdpDg;
  return raw == 0 ? 65467 : raw < 512 ? 512 : static_cast<int>(raw);
}

std::vector<Event> EventsOf(const EventSink& sink, DISPID id) {
  std::vector<Event> out;
  for (auto& e : sink.events)
    if (e.id == id) out.push_back(e);
  return out;
}

std::vector<std::vector<unsigned char>> ReceivedData(const EventSink& sink) {
  std::vector<std::vector<unsigned char>> out;
  for (auto& e : sink.events)
    if (e.id == kReceived) out.push_back(e.args.at(2).bytes());
  return out;
}

}  // namespace host
