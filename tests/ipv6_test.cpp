// IPv6 and dual stack as a host sees them: the family the local address chooses, datagrams both
// ways on ::1, IPv4 peers of a dual-stack socket, destinations a socket cannot reach, names
// looked up by the address resolver (the real one for a name in the hosts file, a fake through
// the sockets seam for what only Windows does), and HostIp toward an IPv6 address.
#include <gtest/gtest.h>

#include "support/datagrams.h"
#include "support/host.h"

using namespace host;

namespace {

constexpr int kFamilyIpv4 = 2, kFamilyIpv6 = 23;
constexpr wchar_t kIpv6Loopback[] = L"::1";

// The resolver standing in for Windows': every request waits until the test completes it, and
// a cancel is recorded (Wine's resolver gives no handle to cancel with).
struct FakeResolver {
  struct Request {
    OVERLAPPED* overlapped;
    udp::AddressLookupCompletion completion;
  };
  static inline std::vector<Request> requests;
  static inline int cancels = 0;
  // A resolver without asynchronous requests (before Windows 8): it refuses the OVERLAPPED and
  // answers a plain call at once, here with "host not found".
  static inline bool synchronousOnly = false;
  WinsockPatch patch;

  explicit FakeResolver(bool synchronous = false) {
    requests.clear();
    cancels = 0;
    synchronousOnly = synchronous;
    patch->GetAddrInfoExW = Start;
    patch->GetAddrInfoExCancel = Cancel;
  }
  static int PASCAL Start(const wchar_t*, const wchar_t*, DWORD, GUID*, const addrinfoExW*,
                          addrinfoExW** results, timeval*, OVERLAPPED* overlapped,
                          udp::AddressLookupCompletion completion, HANDLE* handle) {
    *results = nullptr;
    if (synchronousOnly) return overlapped ? WSAEINVAL : WSAHOST_NOT_FOUND;
    *handle = reinterpret_cast<HANDLE>(0x5150);
    requests.push_back({overlapped, completion});
    return ERROR_IO_PENDING;
  }
  static int PASCAL Cancel(HANDLE*) {
    ++cancels;
    return 0;
  }
  // As the resolver's thread would: the routine posts the completion.
  static void Complete(size_t i, DWORD error) {
    requests.at(i).completion(error, 0, requests.at(i).overlapped);
  }
};

}  // namespace

TEST(Ipv6, TheLocalAddressChoosesTheFamily) {
  struct Case {
    const wchar_t* localAddress;
    int family;
    const wchar_t* readWhileOpen;
  } const cases[] = {
      {L"", kFamilyIpv4, L"255.255.255.255"},           {kLoopbackText, kFamilyIpv4, kLoopbackText},
      {kIpv6Loopback, kFamilyIpv6, kIpv6Loopback},      {L"::", kFamilyIpv6, L"::"},
      {L"0:0:0:0:0:0:0:1", kFamilyIpv6, kIpv6Loopback},  // read back as the system writes it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.localAddress)));
    Host h;
    EXPECT_EQ(h.MustGet(L"AddressFamily").i4(), 0);
    OpenOnAddress(h, c.localAddress);
    EXPECT_EQ(h.MustGet(L"AddressFamily").i4(), c.family);
    EXPECT_EQ(h.MustGet(L"LocalAddress").text(), c.readWhileOpen);
    if (c.family == kFamilyIpv6) {
      EXPECT_EQ(h.MustGet(L"LocalIp").i4(), 0);
    }
    h.MustCall(L"Close");
    EXPECT_EQ(h.MustGet(L"AddressFamily").i4(), 0);
  }
}

TEST(Ipv6, MalformedAddressTextsAreRefusedBeforeAnythingOpensOrSends) {
  const std::wstring overlong = L"::" + std::wstring(70, L'1');
  for (const std::wstring& text :
       {std::wstring(L"1::2::3"), std::wstring(L"1:2:3:4:5:6:7:8:9"), std::wstring(L"fe80::1%x"),
        std::wstring(L"[::1]"), std::wstring(L"[::1]:53"), std::wstring(L"::1 "), overlong}) {
    SCOPED_TRACE(testing::PrintToString(text));
    Host h;
    h.MustPut(L"LocalAddress", text);
    EXPECT_EQ(h.Call(L"Open", {L"0"}).scode, kScodeBadArgument);
    EXPECT_EQ(h.MustGet(L"AddressFamily").i4(), 0);
    h.MustPut(L"LocalAddress", kIpv6Loopback);
    OpenAndWaitReady(h);
    EXPECT_EQ(h.Call(L"SendTo", {text, L"5000", Var::Bytes({1})}).scode, kScodeBadArgument);
    EXPECT_EQ(h.Call(L"HostIp", {text}).scode, kScodeBadArgument);
    EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
  }
}

TEST(Ipv6, DatagramsGoBothWaysOnTheIpv6Loopback) {
  Host server, client;
  const u_short serverPort = OpenOnAddress(server, kIpv6Loopback);
  const u_short clientPort = OpenOnAddress(client, kIpv6Loopback);
  server.sink().handler = [&](const Event& e, DISPPARAMS*) {
    // The reply goes to the sender's texts as the event gives them.
    if (e.id == kReceived) server.MustCall(L"SendTo", {e.args[0], e.args[1], e.args[2]});
  };
  client.MustCall(L"SendTo", {kIpv6Loopback, PortText(serverPort), Var::Bytes({6, 0, 6})});
  ASSERT_TRUE(client.WaitForEvents(kReceived, 1));
  const Event received = server.sink().Of(kReceived).at(0);
  EXPECT_EQ(received.args[0].text(), kIpv6Loopback);
  EXPECT_EQ(received.args[1].text(), SignedPortText(clientPort));
  const Event reply = client.sink().Of(kReceived).at(0);
  EXPECT_EQ(reply.args[0].text(), kIpv6Loopback);
  EXPECT_EQ(reply.args[1].text(), SignedPortText(serverPort));
  EXPECT_EQ(reply.args[2].bytes(), (std::vector<unsigned char>{6, 0, 6}));
  EXPECT_EQ(server.sink().Count(kSent), 1);
  EXPECT_EQ(server.MustCall(L"HostIp", {kIpv6Loopback}).text(), kIpv6Loopback);
}

TEST(Ipv6, ADualStackSocketServesIpv4PeersByTheirDottedAddress) {
  Host h;
  const u_short port = OpenOnAddress(h, L"::");
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {4}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 1));
  const Event e = h.sink().Of(kReceived).at(0);
  EXPECT_EQ(e.args[0].text(), kLoopbackText);  // never ::ffff:127.0.0.1
  EXPECT_EQ(e.args[1].text(), SignedPortText(peer.port()));
  // Replies to that text, and to a name the resolver finds in the hosts file, reach the peer.
  for (const wchar_t* destination : {kLoopbackText, L"localhost"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(destination)));
    const int sent = h.sink().Count(kSent);
    h.MustCall(L"SendTo", {destination, PortText(peer.port()), Var::Bytes({4, 4})});
    ASSERT_TRUE(h.WaitForEvents(kSent, sent + 1));
    std::vector<unsigned char> got;
    u_short from = 0;
    ASSERT_TRUE(peer.Receive(got, &from));
    EXPECT_EQ(got, (std::vector<unsigned char>{4, 4}));
    EXPECT_EQ(from, port);
  }
  EXPECT_EQ(h.MustGet(L"State").i2(), 5);  // the name was looked up
}

TEST(Ipv6, DestinationsTheSocketsFamilyCannotReachFailInsideTheCall) {
  struct Case {
    const wchar_t* localAddress;
    bool ipv6Only;
    const wchar_t* destination;
  } const cases[] = {
      {L"", false, kIpv6Loopback},                 // IPv6 on an IPv4 socket
      {kIpv6Loopback, true, kLoopbackText},        // IPv4 on an IPv6-only socket
      {kIpv6Loopback, true, L"::ffff:127.0.0.1"},  // ... also when written as mapped
      {L"::", false, L"255.255.255.255"},          // IPv6 has no broadcast
      {L"::", false, L"-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.destination)));
    Host h;
    OpenOnAddress(h, c.localAddress, c.ipv6Only);
    const CallResult r = h.Call(L"SendTo", {c.destination, L"5000", Var::Bytes({1})});
    EXPECT_EQ(r.scode, WinsockScode(WSAEAFNOSUPPORT));
    EXPECT_EQ(r.description, kWinsockMessage);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAEAFNOSUPPORT);
    EXPECT_EQ(h.MustGet(L"State").i2(), 9);
    EXPECT_TRUE(h.MustGet(L"Sendable").boolean());  // nothing pending
    h.PumpFor(50);
    EXPECT_EQ(h.sink().Order(), std::vector<DISPID>{kReady});
  }
}

TEST(Ipv6, ANameTheResolverCannotFindFailsAtItsCompletion) {
  for (const bool synchronous : {false, true}) {
    SCOPED_TRACE(synchronous ? "resolver without asynchronous requests" : "asynchronous resolver");
    FakeResolver resolver(synchronous);
    Host h;
    OpenOnAddress(h, kIpv6Loopback);
    h.MustCall(L"SendTo", {L"some-host", L"5000", Var::Bytes({1})});
    EXPECT_FALSE(h.MustGet(L"Sendable").boolean());
    if (!synchronous) {
      ASSERT_EQ(resolver.requests.size(), 1u);
      FakeResolver::Complete(0, WSAHOST_NOT_FOUND);
    }
    ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
    EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kWsError, kClosed}));
    const Event error = h.sink().Of(kWsError).at(0);
    EXPECT_EQ(error.args[0].i4(), WSAHOST_NOT_FOUND);
    EXPECT_EQ(error.args[1].text(), kWinsockMessage);
    EXPECT_EQ(error.args[2].text(), L"OnGetAddrInfoEx()");
  }
}

TEST(Ipv6, CloseCancelsTheLookUpAndItsLateCompletionIsNobodys) {
  FakeResolver resolver;
  Host h;
  OpenOnAddress(h, kIpv6Loopback);
  h.MustCall(L"SendTo", {L"some-host", L"5000", Var::Bytes({1})});
  h.MustCall(L"Close");
  EXPECT_EQ(resolver.cancels, 1);
  // Windows still completes a cancelled request, with WSA_E_CANCELLED.
  FakeResolver::Complete(0, 10111);
  OpenAndWaitReady(h);
  h.PumpFor(100);
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kClosed, kReady}));
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
}
