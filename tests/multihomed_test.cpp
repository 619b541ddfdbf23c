// Hosts with several addresses: each datagram's destination and interface, read inside Received
// (127.0.0.1 and 127.0.0.2 both reach a socket bound to every address; ::1 and a dual-stack
// socket's IPv4 peers too), and the fallback where the system cannot tell them.
#include <gtest/gtest.h>

#include "support/datagrams.h"
#include "support/host.h"
#include "support/send_sources.h"
#include "endpoint/local_interfaces.h"

using namespace host;

namespace {

// The sockets layer without extension functions: WSARecvMsg cannot be found.
int PASCAL IoctlWithoutExtensions(SOCKET s, DWORD code, void* in, DWORD inLength, void* out,
                                  DWORD outLength, DWORD* returned, void* overlapped,
                                  void* completion) {
  constexpr DWORD kGetExtensionFunction = 0xC8000006;
  if (code == kGetExtensionFunction) {
    ::WSASetLastError(WSAEOPNOTSUPP);
    return SOCKET_ERROR;
  }
  return udp::SystemWinsock().WSAIoctl(s, code, in, inLength, out, outLength, returned,
                                       overlapped, completion);
}

}  // namespace

TEST(MultiHomed, EachDatagramsDestinationIsReadInsideItsReceived) {
  struct Case {
    const wchar_t* serverAddress;
    const wchar_t* clientAddress;
    const wchar_t* destination;
  } const cases[] = {
      {L"", L"", L"127.0.0.1"},
      {L"", L"", L"127.0.0.2"},     // another address of loopback, the same socket
      {L"::", L"::1", L"::1"},
      {L"::", L"", L"127.0.0.2"},   // an IPv4 peer of a dual-stack socket: dotted, never mapped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.destination)));
    Host server, client;
    EXPECT_EQ(server.MustGet(L"ToAddress").text(), L"");
    EXPECT_EQ(server.MustGet(L"ToInterface").i4(), 0);
    const u_short port = OpenOnAddress(server, c.serverAddress);
    OpenOnAddress(client, c.clientAddress);
    SeenDestinations seen(server);
    client.MustCall(L"SendTo", {c.destination, PortText(port), Var::Bytes({1})});
    ASSERT_TRUE(server.WaitForEvents(kReceived, 1));
    EXPECT_EQ(seen.addresses, std::vector<std::wstring>{c.destination});
    ASSERT_EQ(seen.interfaces.size(), 1u);
    EXPECT_GT(seen.interfaces[0], 0);
  }
}

TEST(MultiHomed, WithoutTheSystemsMessageCallTheDatagramStillArrivesAndItsDestinationIsUnknown) {
  WinsockPatch patch;
  patch->WSAIoctl = IoctlWithoutExtensions;

  Host h;
  const u_short port = OpenOnAddress(h, L"");
  SeenDestinations seen(h);
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {2}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 1));
  EXPECT_EQ(seen.addresses, std::vector<std::wstring>{L""});
  EXPECT_EQ(seen.interfaces, std::vector<LONG>{0});
  EXPECT_EQ(h.sink().Of(kReceived).at(0).args[0].text(), kLoopbackText);
}

TEST(MultiHomed, AServerAnswersFromTheAddressItsPeerContacted) {
  SendSources sources;
  Host server, client;
  const u_short port = OpenOnAddress(server, L"");
  OpenOnAddress(client, L"");
  server.sink().handler = [&](const Event& e, DISPPARAMS*) {
    if (e.id != kReceived) return;
    server.MustPut(L"SourceAddress", server.MustGet(L"ToAddress"));
    server.MustCall(L"SendTo", {e.args[0], e.args[1], e.args[2]});
  };
  client.MustCall(L"SendTo", {L"127.0.0.2", PortText(port), Var::Bytes({9})});
  ASSERT_TRUE(client.WaitForEvents(kReceived, 1));
  EXPECT_EQ(client.sink().Of(kReceived).at(0).args[2].bytes(), std::vector<unsigned char>{9});
  EXPECT_EQ(server.MustGet(L"SourceAddress").text(), L"127.0.0.2");
  // Windows sends it from there; Wine drops the choice, so the seam shows what was asked.
  EXPECT_EQ(SendSources::seen(), std::vector<std::string>{"127.0.0.2"});
  // Empty again: the system's choice, by the plain send.
  server.MustPut(L"SourceAddress", L"");
  server.sink().handler = nullptr;
  server.MustCall(L"SendTo", {kLoopbackText, PortText(BoundPort(client)), Var::Bytes({1})});
  ASSERT_TRUE(client.WaitForEvents(kReceived, 2));
  EXPECT_EQ(SendSources::seen().size(), 1u);
}

TEST(MultiHomed, ASourceTheSocketCannotUseFailsInsideSendTo) {
  struct Case {
    const wchar_t* localAddress;
    bool ipv6Only;
    const wchar_t* source;
    int wsaError;
  } const cases[] = {
      {L"", false, L"192.0.2.99", WSAEADDRNOTAVAIL},  // not this host's
      {kLoopbackText, false, L"127.0.0.2", WSAEINVAL},  // bound to another address
      {L"", false, L"::1", WSAEAFNOSUPPORT},
      {L"::", true, kLoopbackText, WSAEAFNOSUPPORT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.source)));
    SendSources sources;
    Host h;
    OpenOnAddress(h, c.localAddress, c.ipv6Only);
    h.MustPut(L"SourceAddress", c.source);
    const CallResult r = h.Call(L"SendTo", {kLoopbackText, L"9", Var::Bytes({1})});
    EXPECT_EQ(r.scode, WinsockScode(c.wsaError));
    EXPECT_EQ(h.MustGet(L"LastError").i4(), c.wsaError);
    EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
    EXPECT_TRUE(SendSources::seen().empty());
  }
  Host h;
  for (const wchar_t* malformed : {L"1.2.3", L"1::2::3", L"localhost", L"127.1"}) {
    EXPECT_EQ(h.Put(L"SourceAddress", malformed).scode, kScodeBadArgument);
    EXPECT_EQ(h.MustGet(L"SourceAddress").text(), L"");
  }
}

namespace {

// Interfaces whose broadcast addresses are loopback's (delivered on this machine only) and, for
// a copy that fails, a documentation address the sockets seam refuses without sending.
constexpr char kLoopbackBroadcast[] = "127.255.255.255", kRefused[] = "192.0.2.255";
std::vector<const char*> g_broadcasts;
udp::MulticastInterfaces Broadcasting() {
  udp::MulticastInterfaces found;
  for (const char* address : g_broadcasts) found.broadcast.push_back(::inet_addr(address));
  return found;
}
int PASCAL SendToRefusingOne(SOCKET s, const char* data, int length, int flags, const sockaddr* to,
                             int toLength) {
  if (udp::SocketAddress::From(to, toLength).AddressText() == kRefused) {
    ::WSASetLastError(WSAENETUNREACH);
    return SOCKET_ERROR;
  }
  return udp::SystemWinsock().sendto(s, data, length, flags, to, toLength);
}

struct BroadcastInterfaces {
  udp::MulticastInterfaceLister saved = udp::MulticastInterfaceSource();
  WinsockPatch patch;
  explicit BroadcastInterfaces(std::vector<const char*> broadcasts) {
    g_broadcasts = std::move(broadcasts);
    udp::MulticastInterfaceSource() = Broadcasting;
    patch->sendto = SendToRefusingOne;
  }
  ~BroadcastInterfaces() { udp::MulticastInterfaceSource() = saved; }
};

}  // namespace

TEST(MultiHomed, BroadcastAllSendsOneCopyPerInterfaceAsOneDatagram) {
  struct Case {
    std::vector<const char*> broadcasts;
    int copiesReceived;
    int failure;  // the WsError of the datagram, 0 for Sent
  } const cases[] = {
      {{kLoopbackBroadcast, kLoopbackBroadcast}, 2, 0},
      {{kRefused, kLoopbackBroadcast}, 1, WSAENETUNREACH},  // the other copy still goes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.failure));
    BroadcastInterfaces interfaces(c.broadcasts);
    Host receiver, sender;
    const u_short port = OpenOnAddress(receiver, L"");  // every address: broadcasts arrive
    OpenOnAddress(sender, L"");
    sender.CancelCloseOnWsError();
    sender.MustCall(L"BroadcastAll", {PortText(port), Var::Bytes({4, 2})});
    EXPECT_FALSE(sender.MustGet(L"Sendable").boolean());
    EXPECT_TRUE(sender.MustGet(L"Broadcast").boolean());
    ASSERT_TRUE(receiver.WaitForEvents(kReceived, c.copiesReceived));
    ASSERT_TRUE(sender.WaitForEvents(c.failure ? kWsError : kSent, 1));
    receiver.PumpFor(100);
    EXPECT_EQ(receiver.sink().Count(kReceived), c.copiesReceived);
    EXPECT_EQ(sender.sink().Count(kSent), c.failure ? 0 : 1);
    EXPECT_EQ(sender.sink().Count(kWsError), c.failure ? 1 : 0);
    if (c.failure) {
      EXPECT_EQ(sender.sink().Of(kWsError).at(0).args[0].i4(), c.failure);
    }
    EXPECT_TRUE(sender.MustGet(L"Sendable").boolean());
  }
}

TEST(MultiHomed, BroadcastAllRefusesWhatItCannotSend) {
  BroadcastInterfaces interfaces({kLoopbackBroadcast});
  Host h;
  EXPECT_EQ(h.Call(L"BroadcastAll", {L"9", Var::Bytes({1})}).scode, kScodeNotOpen);
  OpenOnAddress(h, L"");
  EXPECT_EQ(h.Call(L"BroadcastAll", {L"", Var::Bytes({1})}).scode, kScodeBadArgument);
  h.MustCall(L"SendTo", {kLoopbackText, L"9", Var::Bytes({1})});
  EXPECT_EQ(h.Call(L"BroadcastAll", {L"9", Var::Bytes({1})}).scode, kScodeNotWritable);
  ASSERT_TRUE(h.WaitForEvents(kSent, 1));
  g_broadcasts.clear();  // a host with no interface that can broadcast
  EXPECT_EQ(h.Call(L"BroadcastAll", {L"9", Var::Bytes({1})}).scode, WinsockScode(WSAEADDRNOTAVAIL));
  Host ipv6;
  OpenOnAddress(ipv6, L"::1");
  EXPECT_EQ(ipv6.Call(L"BroadcastAll", {L"9", Var::Bytes({1})}).scode,
            WinsockScode(WSAEAFNOSUPPORT));
}
