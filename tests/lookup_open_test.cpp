// Open with a service name: the bind waits for the service look-up, and a datagram queued
// meanwhile leaves only after that bind, from the port Open named.
#include <gtest/gtest.h>

#include <string>

#include "support/host.h"
#include "support/lookups.h"
#include "support/winsock_fault.h"

using host::Host;
using host::Var;

namespace {

struct Service {
  const wchar_t* wideName;
  const char* name;
  u_short port;  // host order
};

// A socket bound to any address on one port; it holds the port while it lives.
class PortHolder {
 public:
  explicit PortHolder(u_short port) {
    ::WSAStartup(0x0101, &data_);
    s_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = ::htons(port);
    bound_ = ::bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~PortHolder() {
    ::closesocket(s_);
    ::WSACleanup();
  }
  bool bound() const { return bound_; }

 private:
  WSADATA data_;
  SOCKET s_ = INVALID_SOCKET;
  bool bound_ = false;
};

// A udp service of the services database above 1024 whose port nothing holds now.
bool FreeService(Service& out) {
  static const Service candidates[] = {{L"close-combat", "close-combat", 0},
                                       {L"ms-theater", "ms-theater", 0},
                                       {L"msiccp", "msiccp", 0},
                                       {L"pptconference", "pptconference", 0}};
  for (Service s : candidates) {
    s.port = host::ServicePort(s.name);
    if (s.port <= 1024) continue;
    if (!PortHolder(s.port).bound()) continue;
    out = s;
    return true;
  }
  return false;
}

int PASCAL RefusingSelect(SOCKET, HWND, u_int, long) {
  ::WSASetLastError(WSAENOBUFS);
  return SOCKET_ERROR;
}

short NetworkOrderPort(u_short port) {
  return static_cast<short>(static_cast<u_short>((port >> 8) | (port << 8)));
}

}  // namespace

TEST(LookupOpen, ServiceNameBindsWhenTheLookUpCompletes) {
  Service service{};
  if (!FreeService(service)) GTEST_SKIP() << "no free udp service port in the services database";
  Host h;
  h.MustCall(L"Open", {Var(service.wideName)});
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_EQ(h.MustGet(L"LocalPort").i2(), -1);  // not bound yet
  ASSERT_TRUE(h.PumpUntil([&] { return h.MustGet(L"LocalPort").i2() != -1; }));
  EXPECT_EQ(h.MustGet(L"LocalPort").i2(), NetworkOrderPort(service.port));
  EXPECT_EQ(h.MustGet(L"LocalAddress").text(), L"255.255.255.255");
  EXPECT_EQ(h.MustGet(L"LocalIp").i4(), 0);

  host::PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(service.port, {7, 7, 7}));
  ASSERT_TRUE(h.WaitForEvents(host::kReceived, 1));
  const auto& received = h.sink().events.back();
  EXPECT_EQ(received.args[2].bytes(), (std::vector<unsigned char>{7, 7, 7}));
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST(LookupOpen, FailingDeferredBindShowsAStopMessageBox) {
  Service service{};
  if (!FreeService(service)) GTEST_SKIP() << "no free udp service port in the services database";
  PortHolder holder(service.port);
  ASSERT_TRUE(holder.bound());
  host::MessageBoxes().clear();
  Host h;
  h.MustCall(L"Open", {Var(service.wideName)});
  ASSERT_TRUE(h.PumpUntil([] { return !host::MessageBoxes().empty(); }));
  const auto box = host::MessageBoxes().front();
  host::MessageBoxes().clear();
  EXPECT_EQ(box.text, host::kWinsockMessage);
  EXPECT_EQ(box.type & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAEADDRINUSE);
  EXPECT_EQ(h.sink().Count(host::kWsError), 0);
  EXPECT_EQ(h.MustGet(L"LocalAddress").text(), L"255.255.255.255");
}

TEST(LookupOpen, UnknownLocalServiceFailsAtTheCompletion) {
  Host h;
  h.MustCall(L"Open", {Var(L"no-such-service")});
  ASSERT_TRUE(h.WaitForEvents(host::kClosed, 1));
  ASSERT_EQ(h.sink().Count(host::kWsError), 1);
  for (const auto& e : h.sink().events) {
    if (e.id == host::kWsError) {
      EXPECT_EQ(e.args[2].text(), L"OnAsyncGetLocalServByName()");
    }
  }
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_NE(h.MustGet(L"LastError").i4(), 0);
}

// A datagram that SendTo queues while the bind is owed waits for the bind, then leaves from the
// bound port to the destination SendTo named; the bind's address never becomes the destination.
class SendWhileBindOwed : public testing::TestWithParam<const wchar_t*> {};

TEST_P(SendWhileBindOwed, LeavesAfterTheBindFromTheNamedPort) {
  Service service{};
  if (!FreeService(service)) GTEST_SKIP() << "no free udp service port in the services database";
  host::MessageBoxes().clear();
  host::PeerSocket peer;
  Host h;
  h.MustCall(L"Open", {Var(service.wideName)});
  h.MustCall(L"SendTo", {Var(GetParam()), Var(std::to_wstring(peer.port())), Var::Bytes({5, 6})});
  std::vector<unsigned char> got;
  u_short from = 0;
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
  ASSERT_TRUE(peer.Receive(got, &from));
  EXPECT_EQ(got, (std::vector<unsigned char>{5, 6}));
  EXPECT_EQ(from, service.port);
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(host::kSent), 1);
  EXPECT_EQ(h.sink().Count(host::kWsError), 0);
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
  EXPECT_EQ(h.MustGet(L"LocalPort").i2(), NetworkOrderPort(service.port));
}

INSTANTIATE_TEST_SUITE_P(Destinations, SendWhileBindOwed,
                         testing::Values(host::kLoopbackText, L"localhost"));

// The same ordering with the completions arriving in either order.
TEST(LookupOpen, HeldDatagramWaitsForTheBindWhicheverCompletionComesFirst) {
  for (bool hostFirst : {true, false}) {
    SCOPED_TRACE(hostFirst ? "host look-up first" : "service look-up first");
    host::FakeLookups fake;
    host::PeerSocket peer;
    const u_short localPort = host::FreeUdpPort();
    Host h;
    h.MustCall(L"Open", {Var(L"some-service")});
    h.MustCall(L"SendTo", {Var(L"some-host"), Var(std::to_wstring(peer.port())), Var::Bytes({3})});
    ASSERT_EQ(fake.requests.size(), 2u);
    ASSERT_EQ(fake.requests[0].name, "some-service");
    ASSERT_EQ(fake.requests[1].name, "some-host");
    std::vector<unsigned char> got;
    u_short from = 0;
    if (hostFirst) {
      fake.CompleteHost(1, "some-host", host::kLoopback);
      ASSERT_TRUE(host::PumpUntilIdle());
      EXPECT_EQ(h.sink().Count(host::kSent), 0);  // held: the bind is still owed
      EXPECT_FALSE(peer.Receive(got, &from, 50));
      fake.CompleteService(0, localPort);
    } else {
      fake.CompleteService(0, localPort);
      ASSERT_TRUE(host::PumpUntilIdle());
      EXPECT_EQ(h.sink().Count(host::kSent), 0);  // bound, the destination still unknown
      EXPECT_FALSE(peer.Receive(got, &from, 50));
      fake.CompleteHost(1, "some-host", host::kLoopback);
    }
    ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
    ASSERT_TRUE(peer.Receive(got, &from));
    EXPECT_EQ(got, std::vector<unsigned char>{3});
    EXPECT_EQ(from, localPort);
    ASSERT_TRUE(host::PumpUntilIdle());
    EXPECT_EQ(h.sink().Count(host::kSent), 1);
    EXPECT_EQ(h.MustGet(L"State").i2(), 5);
  }
}

TEST(LookupOpen, LocalServiceLookUpThatCannotStartFailsOpen) {
  host::FakeLookups fake;
  Host h;
  fake.failNextStart = WSAENOBUFS;
  auto r = h.Call(L"Open", {Var(L"some-service")});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, host::WinsockScode(WSAENOBUFS));
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENOBUFS);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
  EXPECT_EQ(h.Call(L"Open", {Var(L"")}).hr, S_OK);  // a second Open may be tried at once
}

// An Open that fails after starting its service look-up cancels it: the look-up must not bind,
// nor close, the endpoint a later Open makes.
TEST(LookupOpen, OpenThatFailsLaterCancelsItsLookUp) {
  host::FakeLookups fake;
  Host h;
  {
    host::WinsockPatch patch;
    patch->WSAAsyncSelect = RefusingSelect;
    EXPECT_EQ(h.Call(L"Open", {Var(L"some-service")}).scode, host::WinsockScode(WSAENOBUFS));
  }
  ASSERT_EQ(fake.requests.size(), 1u);
  EXPECT_EQ(fake.cancelled, std::vector<HANDLE>{fake.requests[0].task});
  h.MustCall(L"Open", {Var(L"")});
  fake.Fail(0, WSANO_DATA);
  h.PumpFor(100);
  EXPECT_EQ(h.sink().Count(host::kWsError), 0);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
}
