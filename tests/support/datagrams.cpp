#include "support/datagrams.h"

#include <stdexcept>

namespace host {

namespace {
[[noreturn]] void Fail(const char* what, const Where& where) {
  throw std::runtime_error(std::string(where.file_name()) + ":" + std::to_string(where.line()) +
                           ": " + what);
}
}  // namespace

SOCKET SocketOf(Host& h) {
  return static_cast<SOCKET>(static_cast<ULONG>(h.MustGet(L"Socket").i4()));
}

u_short BoundPort(Host& h, const Where& where) {
  // Room for an IPv6 address; the port is where sockaddr_in has it in both families.
  union {
    sockaddr_in ipv4;
    char storage[128];
  } a = {};
  int len = sizeof a;
  if (::getsockname(SocketOf(h), reinterpret_cast<sockaddr*>(&a), &len) != 0)
    Fail("getsockname on the control's socket failed", where);
  return ::ntohs(a.ipv4.sin_port);
}

u_short OpenAndWaitReady(Host& h, const std::wstring& localPort, const Where& where) {
  const int readyBefore = h.sink().Count(kReady);
  h.MustCall(L"Open", {localPort}, where);
  if (!WaitForReady(h, readyBefore + 1)) Fail("Ready did not arrive", where);
  return BoundPort(h, where);
}

u_short OpenOnAddress(Host& h, const wchar_t* localAddress, bool ipv6Only, const Where& where) {
  h.MustPut(L"LocalAddress", localAddress, where);
  h.MustPut(L"Ipv6Only", ipv6Only, where);
  return OpenAndWaitReady(h, L"0", where);
}

void PostSocketNotify(Host& h, WORD event, WORD error) {
  ::PostMessageW(h.Window(), WM_USER + 1, static_cast<WPARAM>(SocketOf(h)), MAKELONG(event, error));
}

std::wstring PortText(u_short port) { return std::to_wstring(port); }

std::wstring SignedPortText(u_short port) { return std::to_wstring(static_cast<short>(port)); }

int ExpectedMaxDatagram() {
  WSADATA data = {};
  ::WSAStartup(0x0101, &data);
  ::WSACleanup();
  const unsigned raw = data.iMaxUdpDg;
  return raw == 0 ? 65467 : raw < 512 ? 512 : static_cast<int>(raw);
}

std::vector<size_t> ReceivedIndicesOf(const EventSink& sink,
                                      const std::vector<unsigned char>& bytes) {
  std::vector<size_t> found;
  const std::vector<std::vector<unsigned char>> received = ReceivedData(sink);
  for (size_t i = 0; i < received.size(); ++i)
    if (received[i] == bytes) found.push_back(i);
  return found;
}

SeenDestinations::SeenDestinations(Host& h) {
  h.sink().handler = [this, &h](const Event& e, DISPPARAMS*) {
    if (e.id != kReceived) return;
    addresses.push_back(h.MustGet(L"ToAddress").text());
    interfaces.push_back(h.MustGet(L"ToInterface").i4());
  };
}

std::vector<std::vector<unsigned char>> ReceivedData(const EventSink& sink) {
  std::vector<std::vector<unsigned char>> out;
  for (auto& e : sink.events)
    if (e.id == kReceived) out.push_back(e.args.at(2).bytes());
  return out;
}

}  // namespace host
