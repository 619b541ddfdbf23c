// The product's main job on loopback: two controls open UDP ports on this machine, wait until
// they are ready, exchange datagrams with SendTo and print every datagram that arrives in
// Received, with the sender's address and port, then close. Ports are printed as a person reads
// them ("port 54899"), beside the control's raw values, which read otherwise.
#include <winsock.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/host.h"

namespace {

using host::kClosed;
using host::kReceived;
using host::kSent;
using host::kWsError;
constexpr int kExchanges = 3;

// Creates one control by its ProgID, from the registered udp.ocx; the host sites and initialises
// it.
fw::com_ptr<IUnknown> CreateControl() {
  CLSID clsid;
  if (FAILED(::CLSIDFromProgID(L"UDP.UdpCtrl.1", &clsid)))
    throw std::runtime_error("UDP.UdpCtrl.1 is not registered (regsvr32 udp.ocx)");
  fw::com_ptr<IUnknown> control;
  HRESULT hr =
      ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, control.put_void());
  if (FAILED(hr)) throw std::runtime_error("CoCreateInstance of UDP.UdpCtrl.1 failed");
  return control;
}

std::vector<unsigned char> BytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

// Received's Port is the decimal text of a signed 16-bit number: ports above 32767 read negative
// (54899 as "-10637"). The port is its low 16 bits.
u_short PortOfText(const std::wstring& text) { return static_cast<u_short>(std::stol(text)); }

// LocalPort is the port in network byte order read as a signed number (5000 as -30701).
u_short PortOfNetworkOrder(short raw) { return ::ntohs(static_cast<u_short>(raw)); }

std::string Printable(const std::vector<unsigned char>& bytes) {
  std::string out;
  for (unsigned char b : bytes) out += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
  return out;
}

struct Peer {
  const char* name;
  host::Host host;
  int received = 0;
  bool failed = false;

  explicit Peer(const char* n) : name(n), host(CreateControl().get()) {}

  void Open(u_short port) {
    // Bind to loopback only where the control offers a local address; any address otherwise.
    if (host.Has(L"LocalAddress")) host.MustPut(L"LocalAddress", host::kLoopbackText);
    host.MustCall(L"Open", {std::to_wstring(port)});
    if (!host::WaitForReady(host, 1, 3000)) throw std::runtime_error("Ready did not arrive");
    const short localPort = host.MustGet(L"LocalPort").i2();
    std::printf(
        "%s: Ready on UDP port %u (Socket %ld, LocalAddress %s, LocalPort %d: port %u in network "
        "byte order, read as a signed number)\n",
        name, port, static_cast<long>(host.MustGet(L"Socket").i4()),
        Narrow(host.MustGet(L"LocalAddress").text()).c_str(), localPort,
        PortOfNetworkOrder(localPort));
  }
  void Send(u_short port, const std::string& text) {
    host.MustCall(L"SendTo",
                  {host::kLoopbackText, std::to_wstring(port), host::Var::Bytes(BytesOf(text))});
  }
};

}  // namespace

int main() {
  ::OleInitialize(nullptr);
  int rc = 0;
  try {
    Peer a("A"), b("B");
    const u_short portA = host::FreeUdpPort(), portB = host::FreeUdpPort();
    std::printf("Windows Sockets %s, \"%s\", %s, max sockets %s, max datagram %s\n",
                Narrow(a.host.MustGet(L"WinsockVer").text()).c_str(),
                Narrow(a.host.MustGet(L"WinsockDesc").text()).c_str(),
                Narrow(a.host.MustGet(L"WinsockSysStat").text()).c_str(),
                Narrow(a.host.MustGet(L"WinsockMaxSockets").text()).c_str(),
                Narrow(a.host.MustGet(L"WinsockMaxDatagram").text()).c_str());
    a.Open(portA);
    b.Open(portB);

    // Each side prints what it receives; B answers every datagram to the address and port it
    // came from, A sends the next one until the exchange is done.
    auto onEvent = [](Peer& self, bool answers, u_short otherPort) {
      return [&self, answers, otherPort](const host::Event& e, DISPPARAMS*) {
        switch (e.id) {
          case kReceived: {
            const auto bytes = e.args[2].bytes();
            ++self.received;
            const std::wstring portText = e.args[1].text();
            std::printf("%s: Received %zu bytes from %s port %u (Port \"%s\": signed 16-bit text): "
                        "\"%s\"\n",
                        self.name, bytes.size(), Narrow(e.args[0].text()).c_str(),
                        PortOfText(portText), Narrow(portText).c_str(), Printable(bytes).c_str());
            if (answers) {
              const std::string reply = "reply " + std::to_string(self.received) + " from B";
              self.host.MustCall(L"SendTo", {e.args[0].text(), e.args[1].text(),
                                             host::Var::Bytes(BytesOf(reply))});
            } else if (self.received < kExchanges) {
              self.Send(otherPort, "datagram " + std::to_string(self.received + 1) + " from A");
            }
            break;
          }
          case kSent:
            std::printf("%s: Sent\n", self.name);
            break;
          case kWsError:
            self.failed = true;
            std::printf("%s: WsError %ld in %s\n", self.name, static_cast<long>(e.args[0].i4()),
                        Narrow(e.args[2].text()).c_str());
            break;
          case kClosed:
            std::printf("%s: Closed\n", self.name);
            break;
        }
      };
    };
    a.host.sink().handler = onEvent(a, false, portB);
    b.host.sink().handler = onEvent(b, true, portA);

    a.Send(portB, "datagram 1 from A");
    const bool done = a.host.PumpUntil(
        [&] {
          return a.received >= kExchanges && b.received >= kExchanges &&
                 b.host.sink().Count(kSent) >= kExchanges;
        },
        5000);

    a.host.MustCall(L"Close");
    b.host.MustCall(L"Close");
    std::printf("A received %d, B received %d datagram(s)\n", a.received, b.received);
    if (!done || a.failed || b.failed) rc = 1;
  } catch (const std::exception& e) {
    std::printf("failed: %s\n", e.what());
    rc = 1;
  }
  ::OleUninitialize();
  return rc;
}
