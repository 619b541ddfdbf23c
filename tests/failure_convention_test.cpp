// A failure outside a call: WsError, then the automatic close unless the handler cancelled it or
// reopened the port.
#include <gtest/gtest.h>

#include "endpoint/lookup_relay.h"
#include "support/datagrams.h"
#include "support/failing_allocation.h"
#include "support/lookups.h"

using host::Host;
using host::kWinsockMessage;
using host::OpenAndWaitReady;
using host::Var;

namespace {

// A read notification that carries an error, as the sockets layer posts it.
void PostReadError(Host& h, WORD error) { host::PostSocketNotify(h, FD_READ, error); }

}  // namespace

TEST(FailureConvention, LeftAloneTheSocketIsClosed) {
  Host h;
  OpenAndWaitReady(h);
  PostReadError(h, WSAENETRESET);
  ASSERT_TRUE(h.WaitForEvents(host::kClosed, 1));
  const auto& e = h.sink().events;
  ASSERT_EQ(h.sink().Count(host::kWsError), 1);
  auto it = std::find_if(e.begin(), e.end(), [](auto& x) { return x.id == host::kWsError; });
  EXPECT_EQ(it->args[0].i4(), WSAENETRESET);
  EXPECT_EQ(it->args[1].text(), kWinsockMessage);
  EXPECT_EQ(it->args[2].text(), L"FD_READ");
  EXPECT_FALSE(it->args[3].boolean());
  EXPECT_EQ(h.sink().Order().back(), host::kClosed);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENETRESET);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
}

TEST(FailureConvention, CancelCloseKeepsTheSocketAndStateNine) {
  Host h;
  OpenAndWaitReady(h);
  short stateInHandler = -1;
  h.sink().handler = [&](const host::Event& e, DISPPARAMS* p) {
    if (e.id != host::kWsError) return;
    stateInHandler = h.MustGet(L"State").i2();
    host::SetCancelClose(p);
  };
  PostReadError(h, WSAECONNRESET);
  ASSERT_TRUE(h.WaitForEvents(host::kWsError, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(stateInHandler, 9);
  EXPECT_EQ(h.sink().Count(host::kClosed), 0);
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
}

TEST(FailureConvention, CloseAndOpenInTheHandlerKeepsTheNewSocket) {
  Host h;
  OpenAndWaitReady(h);
  h.sink().handler = [&](const host::Event& e, DISPPARAMS*) {
    if (e.id != host::kWsError) return;
    h.MustCall(L"Close");
    h.MustCall(L"Open", {L"0"});
  };
  PostReadError(h, WSAENETDOWN);
  ASSERT_TRUE(h.WaitForEvents(host::kWsError, 1));
  h.sink().handler = nullptr;
  // The new endpoint raises its own Ready.
  ASSERT_TRUE(h.WaitForEvents(host::kReady, 2));
  EXPECT_EQ(h.sink().Count(host::kClosed), 1);
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
}

TEST(FailureConvention, CloseAloneInTheHandlerRaisesNoSecondClosed) {
  Host h;
  OpenAndWaitReady(h);
  h.sink().handler = [&](const host::Event& e, DISPPARAMS*) {
    if (e.id == host::kWsError) h.MustCall(L"Close");
  };
  PostReadError(h, WSAENETDOWN);
  ASSERT_TRUE(h.WaitForEvents(host::kWsError, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(host::kClosed), 1);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
}

TEST(FailureConvention, HandlerMayReenterTheControlWhileAnEventIsRaised) {
  Host h;
  std::vector<short> states;
  h.sink().handler = [&](const host::Event& e, DISPPARAMS*) {
    if (e.id == host::kReady) {
      // Inside Ready: read, write and close.
      states.push_back(h.MustGet(L"State").i2());
      h.MustPut(L"UserData1", L"set inside Ready");
      h.MustCall(L"Close");
    } else if (e.id == host::kClosed) {
      states.push_back(h.MustGet(L"State").i2());
    }
  };
  h.MustCall(L"Open", {L"0"});
  ASSERT_TRUE(h.WaitForEvents(host::kClosed, 1));
  EXPECT_EQ(states, (std::vector<short>{1, 0}));
  EXPECT_EQ(h.MustGet(L"UserData1").text(), L"set inside Ready");
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
}

// A failed datagram is reported once and settled however its report ends: its other look-up
// does not report it again, a write notification's error is its failure, and a report that
// cannot even be raised (no memory to hold it) still settles it, so nothing stays pending.
TEST(FailureConvention, AFailedDatagramIsReportedOnceAndNeverOutlivesItsReport) {
  const struct {
    const char* name;
    bool windowsCancel;
    bool hostFailsFirst;  // else the service's look-up fails first
  } cases[] = {{"Wine's cancel, host first", false, true},
               {"Wine's cancel, service first", false, false},
               {"Windows' cancel, host first", true, true},
               {"Windows' cancel, service first", true, false}};
  // A request cancelled as Windows cancels it never completes: the relay keeps its buffer for the
  // retention time, which is shortened here so that nothing outlives the test.
  const DWORD savedRetention = udp::lookup_relay::SetRetentionTime(20);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host::FakeLookups fake;
    fake.windowsCancel = c.windowsCancel;
    host::PeerSocket peer;
    Host h;
    OpenAndWaitReady(h);
    h.MustCall(L"SendTo", {Var(L"nowhere.invalid"), Var(L"no-such-service"), Var::Bytes({1})});
    ASSERT_EQ(fake.requests.size(), 2u);
    const size_t host = fake.requests[0].name == "nowhere.invalid" ? 0 : 1;
    const size_t first = c.hostFailsFirst ? host : 1 - host;
    // The handler keeps the port, lets the other look-up fail meanwhile, and sends again as
    // soon as the port is sendable.
    h.sink().handler = [&](const host::Event& e, DISPPARAMS* p) {
      if (e.id != host::kWsError) return;
      host::SetCancelClose(p);
      fake.Fail(1 - first, WSAHOST_NOT_FOUND);
      host::Pump([] { return false; }, 100);
      if (h.MustGet(L"Sendable").boolean())
        h.MustCall(L"SendTo", {Var(host::kLoopbackText), Var(host::PortText(peer.port())),
                               Var::Bytes({2})});
    };
    fake.Fail(first, WSAHOST_NOT_FOUND);
    ASSERT_TRUE(h.WaitForEvents(host::kWsError, 1));
    ASSERT_TRUE(host::PumpUntilIdle());
    if (h.sink().Count(host::kSent) == 0)
      h.MustCall(L"SendTo",
                 {Var(host::kLoopbackText), Var(host::PortText(peer.port())), Var::Bytes({2})});
    ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
    std::vector<unsigned char> got;
    ASSERT_TRUE(peer.Receive(got));
    EXPECT_EQ(got, std::vector<unsigned char>{2});
    EXPECT_EQ(h.sink().Count(host::kWsError), 1);
  }
  host::Pump([] { return false; }, 100);
  udp::lookup_relay::SetRetentionTime(savedRetention);
}

TEST(FailureConvention, AWriteErrorWhileADatagramWaitsIsThatDatagramsFailure) {
  host::FakeLookups fake;
  host::PeerSocket peer;
  Host h;
  OpenAndWaitReady(h);
  h.CancelCloseOnWsError();
  h.MustCall(L"SendTo", {Var(L"peer.invalid"), Var(host::PortText(peer.port())), Var::Bytes({1})});
  ASSERT_EQ(fake.requests.size(), 1u);
  host::PostSocketNotify(h, FD_WRITE, WSAENETDOWN);
  ASSERT_TRUE(h.WaitForEvents(host::kWsError, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Of(host::kWsError)[0].args[2].text(), L"FD_WRITE");
  // The close was cancelled: the datagram went, and its look-up with it.
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
  fake.CompleteHost(0, "peer.invalid", "127.0.0.1");
  ASSERT_TRUE(host::PumpUntilIdle());
  std::vector<unsigned char> got;
  EXPECT_FALSE(peer.Receive(got, nullptr, 200));
  EXPECT_EQ(h.sink().Count(host::kWsError), 1);
  EXPECT_EQ(h.sink().Count(host::kSent), 0);
}

namespace {
int PASCAL SendFailsOutOfMemory(SOCKET, const char*, int, int, const sockaddr*, int) {
  // The report of this failure is the next thing to allocate.
  host::FailNextAllocation();
  ::WSASetLastError(WSAENETUNREACH);
  return SOCKET_ERROR;
}
}  // namespace

TEST(FailureConvention, AFailureThatCannotBeRaisedIsSettledAsOneNobodyCancelled) {
  Host h;
  OpenAndWaitReady(h);
  {
    host::WinsockPatch patch;
    patch->sendto = SendFailsOutOfMemory;
    h.MustCall(L"SendTo", {Var(host::kLoopbackText), Var(L"9"), Var::Bytes({1})});
    ASSERT_TRUE(h.WaitForEvents(host::kClosed, 1));
  }
  EXPECT_EQ(h.sink().Count(host::kWsError), 0);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENETUNREACH);
  // Nothing stayed pending: the port reopens and sends.
  OpenAndWaitReady(h);
  host::PeerSocket peer;
  h.MustCall(L"SendTo", {Var(host::kLoopbackText), Var(host::PortText(peer.port())), Var::Bytes({3})});
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
}
