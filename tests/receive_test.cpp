// Receiving datagrams from a plain loopback socket, as a host sees them through Received.
#include <gtest/gtest.h>

#include "support/datagrams.h"
#include "support/host.h"

using namespace host;

namespace {

std::vector<unsigned char> Pattern(size_t n) {
  std::vector<unsigned char> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
  return bytes;
}

// A recvfrom that fails once with a chosen error, then reads as usual.
int g_failError = 0;
int PASCAL FailingRecvFrom(SOCKET, char*, int, int, sockaddr*, int*) {
  ::WSASetLastError(g_failError);
  return SOCKET_ERROR;
}
// The same for the read that also gives the destination.
int PASCAL FailingRecvMsg(SOCKET, _WSAMSG*, DWORD*, OVERLAPPED*, void*) {
  ::WSASetLastError(g_failError);
  return SOCKET_ERROR;
}

}  // namespace

TEST(Receive, ReadyThenReceivedWithBytesAddressAndPort) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {0x01, 0x00, 0xFF, 0x7F}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 1));

  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kReceived}));
  const Event& e = h.sink().events[1];
  ASSERT_EQ(e.args.size(), 3u);
  EXPECT_EQ(e.args[0].text(), host::kLoopbackText);
  EXPECT_EQ(e.args[1].text(), SignedPortText(peer.port()));
  EXPECT_EQ(e.args[2].bytes(), (std::vector<unsigned char>{0x01, 0x00, 0xFF, 0x7F}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
}

TEST(Receive, PortTextIsSignedSixteenBit) {
  const struct {
    u_short port;
    const wchar_t* text;
  } cases[] = {{40000, L"-25536"}, {32767, L"32767"}, {65535, L"-1"}, {32768, L"-32768"}};
  Host h;
  const u_short port = OpenAndWaitReady(h);
  int expected = 0;
  for (auto& c : cases) {
    PeerSocket peer(c.port);
    if (!peer.bound()) continue;  // taken on this machine: the other cases still count
    ASSERT_TRUE(peer.SendTo(port, {0x42}));
    ASSERT_TRUE(h.WaitForEvents(kReceived, ++expected));
    EXPECT_EQ(h.sink().Of(kReceived).back().args[1].text(), c.text) << c.port;
  }
  if (expected == 0) GTEST_SKIP() << "none of the chosen peer ports could be bound";
}

TEST(Receive, DatagramOfTheBufferSizeArrivesWhole) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  PeerSocket peer;
  const auto bytes = Pattern(static_cast<size_t>(ExpectedMaxDatagram()));
  ASSERT_TRUE(peer.SendTo(port, bytes));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 1));
  const auto got = ReceivedData(h.sink());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], bytes);  // bytes() also checks one dimension with lower bound 0
  EXPECT_EQ(h.sink().Count(kWsError), 0);
}

TEST(Receive, LongerDatagramFailsWithMsgSizeAndCloses) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, Pattern(static_cast<size_t>(ExpectedMaxDatagram()) + 1)));
  ASSERT_TRUE(h.WaitForEvents(kClosed, 1));

  const auto errors = h.sink().Of(kWsError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].args[0].i4(), WSAEMSGSIZE);
  EXPECT_EQ(errors[0].args[1].text(), kWinsockMessage);
  EXPECT_EQ(errors[0].args[2].text(), L"udp_recv() in HandleRead()");
  EXPECT_FALSE(errors[0].args[3].boolean());
  EXPECT_EQ(h.sink().Count(kReceived), 0);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAEMSGSIZE);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
}

TEST(Receive, LongerDatagramWithCancelCloseKeepsReceiving) {
  Host h;
  h.CancelCloseOnWsError();
  const u_short port = OpenAndWaitReady(h);
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, Pattern(static_cast<size_t>(ExpectedMaxDatagram()) + 40)));
  ASSERT_TRUE(h.WaitForEvents(kWsError, 1));
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);

  ASSERT_TRUE(peer.SendTo(port, {9, 8, 7}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 1));
  EXPECT_EQ(ReceivedData(h.sink())[0], (std::vector<unsigned char>{9, 8, 7}));
  EXPECT_EQ(h.sink().Count(kClosed), 0);
}

TEST(Receive, EmptyDatagramRaisesNothing) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {}));
  ASSERT_TRUE(peer.SendTo(port, {0x55}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  const auto got = ReceivedData(h.sink());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], (std::vector<unsigned char>{0x55}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
}

TEST(Receive, ReadNotificationWithNothingWaitingRecordsWouldBlock) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  PostSocketNotify(h, FD_READ);
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAEWOULDBLOCK);

  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {1}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 1));
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
}

TEST(Receive, OtherReadErrorIsReportedAndCloses) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  {
    WinsockPatch patch;
    g_failError = WSAENETDOWN;
    patch.api().recvfrom = FailingRecvFrom;
    patch.api().WSARecvMsg = FailingRecvMsg;
    PeerSocket peer;
    ASSERT_TRUE(peer.SendTo(port, {1, 2}));
    ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
  }
  const auto errors = h.sink().Of(kWsError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].args[0].i4(), WSAENETDOWN);
  EXPECT_EQ(errors[0].args[2].text(), L"udp_recv() in HandleRead()");
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kWsError, kClosed}));
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENETDOWN);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
}

TEST(Receive, HandlerThatClosesReturnsSafely) {
  Host h;
  h.sink().handler = [&](const Event& e, DISPPARAMS*) {
    if (e.id == kReceived) h.MustCall(L"Close");
  };
  const u_short port = OpenAndWaitReady(h);
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {1}));
  ASSERT_TRUE(peer.SendTo(port, {2}));
  ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kReceived, kClosed}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
}

TEST(Receive, HandlerThatClosesAndReopensReceivesOnTheNewSocket) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  bool reopened = false;
  h.sink().handler = [&](const Event& e, DISPPARAMS*) {
    if (e.id != kReceived || reopened) return;
    reopened = true;
    h.MustCall(L"Close");
    h.MustCall(L"Open", {std::to_wstring(port)});
  };
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {1}));
  ASSERT_TRUE(h.WaitForEvents(kReady, 2));
  ASSERT_TRUE(peer.SendTo(port, {2}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 2));
  EXPECT_EQ(ReceivedData(h.sink()), (std::vector<std::vector<unsigned char>>{{1}, {2}}));
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kReceived, kClosed, kReady, kReceived}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
}

TEST(Receive, HandlerThatPumpsGetsTheNextDatagramAfterItReturns) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  PeerSocket peer;
  int depth = 0, deepest = 0, receivedDuringFirst = -1;
  h.sink().handler = [&](const Event& e, DISPPARAMS*) {
    if (e.id != kReceived) return;
    ++depth;
    deepest = std::max(deepest, depth);
    if (h.sink().Count(kReceived) == 1) {
      // A host showing a modal box: its loop dispatches the control's messages meanwhile.
      peer.SendTo(port, {2});
      peer.SendTo(port, {3});
      // The sockets layer posts their notifications when they arrive: a while in which they do.
      h.PumpFor(300);
      receivedDuringFirst = h.sink().Count(kReceived);
    }
    --depth;
  };
  ASSERT_TRUE(peer.SendTo(port, {1}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 3));
  EXPECT_EQ(receivedDuringFirst, 1);
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(ReceivedData(h.sink()), (std::vector<std::vector<unsigned char>>{{1}, {2}, {3}}));
}

TEST(Receive, NothingArrivesWhileClosed) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  h.MustCall(L"Close");
  PeerSocket peer;
  peer.SendTo(port, {1});
  h.PumpFor(100);  // a while in which a notification would come
  EXPECT_EQ(h.sink().Count(kReceived), 0);
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kClosed}));
}
