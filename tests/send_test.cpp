// Sending datagrams with SendTo to a plain loopback socket, and how failures reach the host.
#include <gtest/gtest.h>

#include "support/datagrams.h"
#include "support/host.h"
#include "support/lookups.h"
#include "support/options_seam.h"

using namespace host;

TEST(Send, DatagramReachesThePeerAndSentFollows) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  PeerSocket peer;
  bool sendableInSent = false;
  h.sink().handler = [&](const Event& e, DISPPARAMS*) {
    if (e.id == kSent) sendableInSent = h.MustGet(L"Sendable").boolean();
  };
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({1, 2, 3, 0, 255})});
  EXPECT_FALSE(h.MustGet(L"Sendable").boolean());
  EXPECT_EQ(h.sink().Count(kSent), 0);  // nothing leaves inside the call

  ASSERT_TRUE(h.WaitForEvents(kSent, 1));
  std::vector<unsigned char> got;
  u_short from = 0;
  ASSERT_TRUE(peer.Receive(got, &from));
  EXPECT_EQ(got, (std::vector<unsigned char>{1, 2, 3, 0, 255}));
  EXPECT_EQ(from, port);
  EXPECT_TRUE(sendableInSent);
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kSent}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
}

TEST(Send, SentHandlerSendsTheNextDatagram) {
  Host h;
  OpenAndWaitReady(h);
  PeerSocket peer;
  h.sink().handler = [&](const Event& e, DISPPARAMS*) {
    const int sent = h.sink().Count(kSent);
    if (e.id == kSent && sent < 5)
      h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()),
                             Var::Bytes({static_cast<unsigned char>(sent)})});
  };
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({0})});
  ASSERT_TRUE(h.WaitForEvents(kSent, 5));
  for (unsigned char i = 0; i < 5; ++i) {
    std::vector<unsigned char> got;
    ASSERT_TRUE(peer.Receive(got));
    EXPECT_EQ(got, (std::vector<unsigned char>{i}));
  }
}

TEST(Send, SendToRightAfterOpenFollowsReady) {
  Host h;
  PeerSocket peer;
  h.MustCall(L"Open", {L"0"});
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({7})});
  ASSERT_TRUE(h.WaitForEvents(kSent, 1));
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kSent}));
  std::vector<unsigned char> got;
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, (std::vector<unsigned char>{7}));
}

TEST(Send, RefusedCallsLeaveStateAlone) {
  Host h;
  auto r = h.Call(L"SendTo", {kLoopbackText, L"5000", Var::Bytes({1})});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, kScodeNotOpen);
  EXPECT_EQ(r.description, host::kNotOpenMessage);
  EXPECT_FALSE(h.MustGet(L"Sendable").boolean());

  OpenAndWaitReady(h);
  PeerSocket peer;
  for (auto args : {std::vector<Var>{L"", PortText(peer.port()), Var::Bytes({1})},
                    std::vector<Var>{kLoopbackText, L"", Var::Bytes({1})},
                    std::vector<Var>{Var::NullBstr(), PortText(peer.port()), Var::Bytes({1})}}) {
    r = h.Call(L"SendTo", args);
    EXPECT_EQ(r.scode, kScodeBadArgument);
    EXPECT_EQ(r.description, host::kBadArgumentMessage);
  }
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);

  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({1})});
  r = h.Call(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({2})});
  EXPECT_EQ(r.scode, kScodeNotWritable);
  EXPECT_EQ(r.description, host::kNotWritableMessage);
  EXPECT_FALSE(h.MustGet(L"Sendable").boolean());
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);

  // Only the first one leaves.
  ASSERT_TRUE(h.WaitForEvents(kSent, 1));
  std::vector<unsigned char> got;
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, (std::vector<unsigned char>{1}));
  EXPECT_FALSE(peer.Receive(got, nullptr, 100));
}

TEST(Send, MissingDataIsAnInvalidArgument) {
  Host h;
  OpenAndWaitReady(h);
  PeerSocket peer;
  auto r = h.Call(L"SendTo", {kLoopbackText, PortText(peer.port())});
  EXPECT_EQ(r.scode, kScodeBadArgument);
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
  r = h.Call(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Missing()});
  EXPECT_EQ(r.scode, kScodeBadArgument);
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(kSent), 0);
}

TEST(Send, EmptyDataSendsNothingButRaisesSent) {
  Host h;
  OpenAndWaitReady(h);
  PeerSocket peer;
  SendRecorder recorder;
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({})});
  ASSERT_TRUE(h.WaitForEvents(kSent, 1));
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var(L"")});
  ASSERT_TRUE(h.WaitForEvents(kSent, 2));
  for (auto& c : recorder.calls) EXPECT_FALSE(c.send);
  std::vector<unsigned char> got;
  EXPECT_FALSE(peer.Receive(got, nullptr, 100));
}

TEST(Send, PortTextsInEitherForm) {
  Host h;
  OpenAndWaitReady(h);
  PeerSocket peer;
  const u_short p = peer.port();
  const std::wstring forms[] = {PortText(p) + L"abc", L"  " + PortText(p),
                                std::to_wstring(static_cast<short>(p)), std::to_wstring(p + 65536)};
  unsigned char marker = 0;
  for (auto& form : forms) {
    h.MustCall(L"SendTo", {kLoopbackText, form, Var::Bytes({++marker})});
    ASSERT_TRUE(h.WaitForEvents(kSent, marker));
    std::vector<unsigned char> got;
    ASSERT_TRUE(peer.Receive(got)) << std::string(form.begin(), form.end());
    EXPECT_EQ(got, (std::vector<unsigned char>{marker}));
  }
}

TEST(Send, BroadcastTextsSetTheOptionForLaterSendsToo) {
  Host h;
  OpenAndWaitReady(h);
  PeerSocket peer;
  SendRecorder recorder;
  const SOCKET socket = static_cast<SOCKET>(h.MustGet(L"Socket").i4());
  for (const wchar_t* text : {L"255.255.255.255", L"-1"}) {
    h.MustPut(L"Broadcast", false);
    recorder.calls.clear();
    h.MustCall(L"SendTo", {text, L"9", Var::Bytes({1})});
    EXPECT_TRUE(h.MustGet(L"Broadcast").boolean());
    ASSERT_TRUE(h.WaitForEvents(kSent, h.sink().Count(kSent) + 1));
    // The option is on before the datagram leaves; it is set only when the socket lacks it.
    ASSERT_FALSE(recorder.calls.empty());
    for (size_t i = 0; i + 1 < recorder.calls.size(); ++i) EXPECT_EQ(recorder.calls[i].broadcast, 1);
    EXPECT_TRUE(recorder.calls.back().send);
    EXPECT_EQ(recorder.calls.back().to.sin_addr.s_addr, INADDR_BROADCAST);
    EXPECT_EQ(::ntohs(recorder.calls.back().to.sin_port), 9);
    EXPECT_NE(host::SystemSocketOption(socket, SO_BROADCAST), 0);
  }
  // A single host afterwards: the option stays on.
  recorder.calls.clear();
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({2})});
  ASSERT_TRUE(h.WaitForEvents(kSent, 3));
  ASSERT_FALSE(recorder.calls.empty());
  for (const auto& call : recorder.calls) EXPECT_TRUE(call.send || call.broadcast == 1);
  EXPECT_NE(host::SystemSocketOption(socket, SO_BROADCAST), 0);
  EXPECT_TRUE(h.MustGet(L"Broadcast").boolean());
  std::vector<unsigned char> got;
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, (std::vector<unsigned char>{2}));
}

TEST(Send, WouldBlockKeepsTheDatagramForTheNextWriteNotification) {
  Host h;
  OpenAndWaitReady(h);
  PeerSocket peer;
  SendRecorder recorder;
  recorder.sendError = WSAEWOULDBLOCK;
  recorder.sendFailures = 1;
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({4, 2})});
  ASSERT_TRUE(
      h.PumpUntil([&] { return !recorder.calls.empty() && recorder.calls.back().send; }, 2000));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady}));
  EXPECT_FALSE(h.MustGet(L"Sendable").boolean());
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);

  // The sockets layer's next write notification sends it, and Sent follows once.
  PostSocketNotify(h, FD_WRITE);
  ASSERT_TRUE(h.WaitForEvents(kSent, 1));
  PostSocketNotify(h, FD_WRITE);
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(kSent), 1);
  std::vector<unsigned char> got;
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, (std::vector<unsigned char>{4, 2}));
}

TEST(Send, SendErrorClosesUnlessCancelled) {
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "CancelClose set" : "CancelClose left false");
    Host h;
    h.CancelCloseOnWsError(cancel);
    OpenAndWaitReady(h);
    PeerSocket peer;
    SendRecorder recorder;
    recorder.sendError = WSAENETUNREACH;
    recorder.sendFailures = 1;
    h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({1})});
    ASSERT_TRUE(h.WaitForEvents(kWsError, 1));
    ASSERT_TRUE(host::PumpUntilIdle());
    const auto e = h.sink().Of(kWsError)[0];
    EXPECT_EQ(e.args[0].i4(), WSAENETUNREACH);
    EXPECT_EQ(e.args[1].text(), kWinsockMessage);
    EXPECT_EQ(e.args[2].text(), L"udp_send() in HandleWrite()");
    EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENETUNREACH);
    EXPECT_EQ(h.sink().Count(kSent), 0);
    if (cancel) {
      // The failed datagram went once reported; the port goes on working.
      EXPECT_EQ(h.MustGet(L"State").i2(), 9);
      EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
      h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({2})});
      ASSERT_TRUE(h.WaitForEvents(kSent, 1));
      EXPECT_EQ(h.sink().Count(kWsError), 1);
    } else {
      EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kWsError, kClosed}));
      EXPECT_EQ(h.MustGet(L"State").i2(), 0);
    }
  }
}

TEST(Send, BroadcastOptionFailureIsReported) {
  Host h;
  OpenAndWaitReady(h);
  PeerSocket peer;
  SendRecorder recorder;
  recorder.setsockoptError = WSAENOPROTOOPT;
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({1})});
  ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
  const auto e = h.sink().Of(kWsError);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].args[0].i4(), WSAENOPROTOOPT);
  EXPECT_EQ(e[0].args[2].text(), L"setsocket()");
  EXPECT_EQ(h.sink().Count(kSent), 0);
  for (auto& c : recorder.calls) EXPECT_FALSE(c.send);
}

TEST(Send, DatagramTooLargeForTheSocketsLayerFailsWithMsgSize) {
  Host h;
  OpenAndWaitReady(h);
  PeerSocket peer;
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()),
                         Var::Bytes(std::vector<unsigned char>(70000, 1))});
  ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
  const auto e = h.sink().Of(kWsError);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].args[0].i4(), WSAEMSGSIZE);
  EXPECT_EQ(e[0].args[2].text(), L"udp_send() in HandleWrite()");
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAEMSGSIZE);
  EXPECT_EQ(h.sink().Count(kSent), 0);
}

// With the close cancelled the oversized datagram is reported once, not at every write
// notification that follows.
TEST(Send, DatagramTooLargeIsReportedOnceWhenTheCloseIsCancelled) {
  Host h;
  h.CancelCloseOnWsError();
  OpenAndWaitReady(h);
  PeerSocket peer;
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()),
                         Var::Bytes(std::vector<unsigned char>(70000, 1))});
  ASSERT_TRUE(h.WaitForEvents(kWsError, 1));
  h.PumpFor(300);
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kWsError}));
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
}

TEST(Send, SentHandlerThatClosesOrReopens) {
  for (bool reopen : {false, true}) {
    SCOPED_TRACE(reopen ? "close and reopen" : "close");
    Host h;
    OpenAndWaitReady(h);
    PeerSocket peer;
    h.sink().handler = [&](const Event& e, DISPPARAMS*) {
      if (e.id != kSent || h.sink().Count(kSent) > 1) return;
      h.MustCall(L"Close");
      if (reopen) {
        h.MustCall(L"Open", {L"0"});
        h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({2})});
      }
    };
    h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({1})});
    if (reopen) {
      ASSERT_TRUE(h.WaitForEvents(kSent, 2));
      EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kSent, kClosed, kReady, kSent}));
      EXPECT_EQ(h.MustGet(L"State").i2(), 1);
    } else {
      ASSERT_TRUE(h.WaitForEvents(kClosed, 1));
      ASSERT_TRUE(host::PumpUntilIdle());
      EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kSent, kClosed}));
      EXPECT_EQ(h.MustGet(L"State").i2(), 0);
    }
    std::vector<unsigned char> got;
    ASSERT_TRUE(peer.Receive(got));
    EXPECT_EQ(got, (std::vector<unsigned char>{1}));
    if (reopen) {
      ASSERT_TRUE(peer.Receive(got));
      EXPECT_EQ(got, (std::vector<unsigned char>{2}));
    }
  }
}

TEST(Send, CloseDropsThePendingDatagramWithoutSent) {
  Host h;
  OpenAndWaitReady(h);
  PeerSocket peer;
  h.MustCall(L"SendTo", {kLoopbackText, PortText(peer.port()), Var::Bytes({1})});
  h.MustCall(L"Close");
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kClosed}));
  std::vector<unsigned char> got;
  EXPECT_FALSE(peer.Receive(got, nullptr, 100));
}

TEST(Send, TwoControlsTalk) {
  Host a, b;
  const u_short portA = OpenAndWaitReady(a);
  const u_short portB = OpenAndWaitReady(b);
  b.sink().handler = [&](const Event& e, DISPPARAMS*) {
    if (e.id != kReceived) return;
    // Answer the sender at the address and port the event names.
    auto reply = e.args[2].bytes();
    reply.push_back(0xEE);
    b.MustCall(L"SendTo", {e.args[0].text(), e.args[1].text(), Var::Bytes(reply)});
  };
  a.MustCall(L"SendTo", {kLoopbackText, PortText(portB), Var(L"AB")});
  ASSERT_TRUE(a.WaitForEvents(kReceived, 1));
  ASSERT_TRUE(b.WaitForEvents(kSent, 1));

  const auto atB = b.sink().Of(kReceived);
  ASSERT_EQ(atB.size(), 1u);
  EXPECT_EQ(atB[0].args[0].text(), host::kLoopbackText);
  EXPECT_EQ(atB[0].args[1].text(), SignedPortText(portA));
  EXPECT_EQ(atB[0].args[2].bytes(), (std::vector<unsigned char>{0x41, 0, 0x42, 0}));
  const auto atA = a.sink().Of(kReceived);
  ASSERT_EQ(atA.size(), 1u);
  EXPECT_EQ(atA[0].args[1].text(), SignedPortText(portB));
  EXPECT_EQ(atA[0].args[2].bytes(), (std::vector<unsigned char>{0x41, 0, 0x42, 0, 0xEE}));
  EXPECT_EQ(a.sink().Order(), (std::vector<DISPID>{kReady, kSent, kReceived}));
  EXPECT_EQ(b.sink().Order(), (std::vector<DISPID>{kReady, kReceived, kSent}));
}
