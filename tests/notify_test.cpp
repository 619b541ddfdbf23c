// Socket notifications as the control's window receives them: Ready, injected errors, close
// notifications, and notifications that arrive while an event handler pumps messages.
#include <gtest/gtest.h>

#include <new>

#include "support/datagrams.h"
#include "support/host.h"

using namespace host;

namespace {

// Error numbers used as markers: each injected read error carries its position in the storm.
constexpr WORD kMarkerBase = 20000;

std::vector<int> Ecodes(const EventSink& sink) {
  std::vector<int> out;
  for (auto& e : sink.Of(kWsError)) out.push_back(e.args[0].i4());
  return out;
}

std::vector<int> Markers(int from, int count) {
  std::vector<int> out;
  for (int i = 0; i < count; ++i) out.push_back(kMarkerBase + from + i);
  return out;
}

}  // namespace

TEST(Notify, FirstWriteNotificationRaisesReadyOnce) {
  Host h;
  OpenAndWaitReady(h);
  PostSocketNotify(h, FD_WRITE);
  PostSocketNotify(h, FD_WRITE);
  ASSERT_TRUE(host::PumpUntilIdle());
  // Later write notifications go to the sending code, which has nothing to send.
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);

  h.MustCall(L"Close");
  h.MustCall(L"Open", {L"0"});
  ASSERT_TRUE(h.WaitForEvents(kReady, 2));
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kClosed, kReady}));
}

TEST(Notify, InjectedReadErrorClosesUnlessCancelled) {
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "CancelClose set" : "CancelClose left false");
    Host h;
    h.CancelCloseOnWsError(cancel);
    OpenAndWaitReady(h);
    PostSocketNotify(h, FD_READ, WSAENETDOWN);
    ASSERT_TRUE(h.WaitForEvents(kWsError, 1));
    ASSERT_TRUE(host::PumpUntilIdle());

    const auto e = h.sink().Of(kWsError)[0];
    EXPECT_EQ(e.args[0].i4(), WSAENETDOWN);
    EXPECT_EQ(e.args[1].text(), kWinsockMessage);
    EXPECT_EQ(e.args[2].text(), L"FD_READ");
    EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENETDOWN);
    if (cancel) {
      EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kWsError}));
      EXPECT_EQ(h.MustGet(L"State").i2(), 9);
      EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
    } else {
      EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kWsError, kClosed}));
      EXPECT_EQ(h.MustGet(L"State").i2(), 0);
      EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
    }
  }
}

TEST(Notify, InjectedWriteErrorNamesFdWrite) {
  Host h;
  OpenAndWaitReady(h);
  PostSocketNotify(h, FD_WRITE, WSAENOBUFS);
  ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
  const auto e = h.sink().Of(kWsError);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].args[0].i4(), WSAENOBUFS);
  EXPECT_EQ(e[0].args[2].text(), L"FD_WRITE");
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
}

TEST(Notify, CloseNotificationClosesOnceWithOrWithoutError) {
  for (WORD error : {WORD{0}, WORD{WSAECONNRESET}}) {
    Host h;
    OpenAndWaitReady(h);
    PostSocketNotify(h, FD_CLOSE, error);
    PostSocketNotify(h, FD_CLOSE, error);
    ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
    ASSERT_TRUE(host::PumpUntilIdle());
    EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kClosed})) << error;
    EXPECT_EQ(h.MustGet(L"State").i2(), 0);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
  }
}

TEST(Notify, UnknownEventShowsTheMessageBox) {
  Host h;
  OpenAndWaitReady(h);
  MessageBoxes().clear();
  PostSocketNotify(h, FD_ACCEPT);
  ASSERT_TRUE(h.PumpUntil([] { return !MessageBoxes().empty(); }, 1000));
  EXPECT_EQ(MessageBoxes()[0].text, L"INVALID SelectEvent value in OnSocketEvent2()");
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);

  // With an error it is also reported, and the socket closes.
  MessageBoxes().clear();
  PostSocketNotify(h, FD_ACCEPT, WSAENETDOWN);
  ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
  ASSERT_EQ(MessageBoxes().size(), 1u);
  EXPECT_EQ(MessageBoxes()[0].text, L"INVALID SelectEvent value in OnSocketEvent2()");
  const auto e = h.sink().Of(kWsError);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].args[0].i4(), WSAENETDOWN);
  EXPECT_EQ(e[0].args[2].text(), L"OnSocketEvent2()");
  MessageBoxes().clear();
}

TEST(Notify, NotificationsWhileClosedChangeNothing) {
  Host h;
  ::PostMessageW(h.Window(), WM_USER + 1, 0, MAKELONG(FD_READ, WSAENETDOWN));
  ::PostMessageW(h.Window(), WM_USER + 1, 0, FD_CLOSE);
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_TRUE(h.sink().events.empty());
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);

  // Dropped, not kept: opening later replays none of them.
  OpenAndWaitReady(h);
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
}

TEST(Notify, ContinueMessageStoresNothing) {
  Host h;
  OpenAndWaitReady(h);
  for (int i = 0; i < 5; ++i) PostSocketNotify(h, 0);
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
}

// Notifications posted while a handler pumps are dispatched after it returns, one per message,
// in arrival order; none runs nested inside another.
class NotifyStorm : public testing::TestWithParam<int> {};

TEST_P(NotifyStorm, NotificationsDuringAHandlerKeepArrivalOrder) {
  const int count = GetParam();
  Host h;
  int depth = 0, deepest = 0, seenDuringHandler = -1;
  h.sink().handler = [&](const Event& e, DISPPARAMS* p) {
    ++depth;
    deepest = std::max(deepest, depth);
    if (e.id == kWsError) SetCancelClose(p);
    if (e.id == kReady) {
      for (int i = 0; i < count; ++i) PostSocketNotify(h, FD_READ, kMarkerBase + i);
      EXPECT_TRUE(host::PumpUntilIdle());
      seenDuringHandler = static_cast<int>(h.sink().events.size());
    }
    --depth;
  };
  OpenAndWaitReady(h);
  ASSERT_TRUE(h.WaitForEvents(kWsError, count, 10000));
  EXPECT_EQ(seenDuringHandler, 1);
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(Ecodes(h.sink()), Markers(0, count));
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
}

INSTANTIATE_TEST_SUITE_P(Counts, NotifyStorm, testing::Values(3, 31, 32, 40, 200));

TEST(Notify, StormsWithinStormsStayInArrivalOrder) {
  // Every tenth handler posts another wave while it pumps: each wave queues behind all the
  // notifications already waiting, in the ring and behind it.
  constexpr int kFirstWave = 100, kWave = 25, kWaves = 4;
  Host h;
  int posted = 0, depth = 0, deepest = 0;
  auto postWave = [&](int n) {
    for (int i = 0; i < n; ++i) PostSocketNotify(h, FD_READ, kMarkerBase + posted++);
  };
  h.sink().handler = [&](const Event& e, DISPPARAMS* p) {
    ++depth;
    deepest = std::max(deepest, depth);
    if (e.id == kWsError) {
      SetCancelClose(p);
      const int n = h.sink().Count(kWsError);
      if (n % 10 == 0 && n / 10 <= kWaves) {
        postWave(kWave);
        EXPECT_TRUE(host::PumpUntilIdle());
      }
    }
    if (e.id == kReady) {
      postWave(kFirstWave);
      EXPECT_TRUE(host::PumpUntilIdle());
    }
    --depth;
  };
  OpenAndWaitReady(h);
  const int total = kFirstWave + kWave * kWaves;
  ASSERT_TRUE(h.WaitForEvents(kWsError, total, 20000));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(Ecodes(h.sink()), Markers(0, total));
}

TEST(Notify, WaitingNotificationsSurviveCloseAndResumeAfterOpen) {
  // Entries still waiting when a handler closes are kept; they resume with the next Open,
  // before the new socket's own notifications.
  Host h;
  h.sink().handler = [&](const Event& e, DISPPARAMS* p) {
    if (e.id == kWsError) SetCancelClose(p);
    if (e.id == kReady && h.sink().Count(kReady) == 1) {
      for (int i = 0; i < 3; ++i) PostSocketNotify(h, FD_READ, kMarkerBase + i);
      EXPECT_TRUE(host::PumpUntilIdle());
      h.MustCall(L"Close");
    }
  };
  h.MustCall(L"Open", {L"0"});
  ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kClosed}));
  h.MustCall(L"Open", {L"0"});
  ASSERT_TRUE(h.WaitForEvents(kReady, 2));
  EXPECT_EQ(Ecodes(h.sink()), Markers(0, 3));
  EXPECT_EQ(h.sink().Order(),
            (std::vector<DISPID>{kReady, kClosed, kWsError, kWsError, kWsError, kReady}));
}

TEST(Notify, WsErrorHandlerThatClosesRaisesClosedOnce) {
  Host h;
  h.sink().handler = [&](const Event& e, DISPPARAMS*) {
    if (e.id == kWsError) h.MustCall(L"Close");
  };
  OpenAndWaitReady(h);
  PostSocketNotify(h, FD_READ, WSAENETDOWN);
  ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kWsError, kClosed}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
}

TEST(Notify, WsErrorHandlerThatReopensKeepsTheNewSocket) {
  Host h;
  h.sink().handler = [&](const Event& e, DISPPARAMS*) {
    if (e.id != kWsError) return;
    h.MustCall(L"Close");
    h.MustCall(L"Open", {L"0"});
  };
  OpenAndWaitReady(h);
  PostSocketNotify(h, FD_READ, WSAENETDOWN);
  ASSERT_TRUE(h.WaitForEvents(kReady, 2));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kWsError, kClosed, kReady}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);

  // The new socket works.
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(BoundPort(h), {5}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 1));
}

namespace {
int PASCAL ThrowingRecvFrom(SOCKET, char*, int, int, sockaddr*, int*) { throw std::bad_alloc(); }
int PASCAL ThrowingRecvMsg(SOCKET, _WSAMSG*, DWORD*, OVERLAPPED*, void*) { throw std::bad_alloc(); }
}  // namespace

TEST(Notify, AHandlerThatFailsDoesNotStopLaterNotifications) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  PeerSocket peer;
  h.CancelCloseOnWsError();
  {
    WinsockPatch patch;
    patch.api().recvfrom = ThrowingRecvFrom;
    patch.api().WSARecvMsg = ThrowingRecvMsg;
    PostSocketNotify(h, FD_READ);
    PostSocketNotify(h, FD_READ, kMarkerBase);  // waits in the ring behind the failing one
    ASSERT_TRUE(host::PumpUntilIdle());
  }
  ASSERT_TRUE(h.WaitForEvents(kWsError, 1, 1000));
  EXPECT_EQ(h.sink().Of(kWsError)[0].args[0].i4(), kMarkerBase);
  ASSERT_TRUE(peer.SendTo(port, {3}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 1));
  EXPECT_EQ(ReceivedData(h.sink())[0], (std::vector<unsigned char>{3}));
}
