// SendTo with host and service names: the look-ups' completions resume the send.
#include <gtest/gtest.h>

#include <string>

#include "support/datagrams.h"
#include "support/host.h"
#include "support/lookups.h"

using host::Host;
using host::kWinsockMessage;
using host::Var;
using Bytes = std::vector<unsigned char>;

TEST(LookupSend, ServiceNameAsRemotePortIsLookedUp) {
  const u_short echo = host::ServicePort("echo");
  if (echo == 0) GTEST_SKIP() << "no echo/udp in the services database";
  host::SendRecorder recorder;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(host::kLoopbackText), Var(L"echo"), Var::Bytes({1, 2, 3})});
  EXPECT_FALSE(h.MustGet(L"Sendable").boolean());
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(host::kSent), 1);
  ASSERT_EQ(recorder.sent.size(), 1u);
  EXPECT_EQ(recorder.sent[0].address, host::kLoopback);
  EXPECT_EQ(recorder.sent[0].port, echo);
  EXPECT_EQ(recorder.sent[0].length, 3);
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);  // a service look-up leaves State alone
}

TEST(LookupSend, RemotePortZeroIsLookedUpAsAServiceAndFails) {
  host::SendRecorder recorder;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(host::kLoopbackText), Var(L"0"), Var::Bytes({1})});
  ASSERT_TRUE(h.WaitForEvents(host::kClosed, 1));
  const std::vector<DISPID> expected = {host::kReady, host::kWsError, host::kClosed};
  EXPECT_EQ(h.sink().Order(), expected);
  const auto& error = h.sink().events[1];
  EXPECT_NE(error.args[0].i4(), 0);
  EXPECT_EQ(error.args[1].text(), kWinsockMessage);
  EXPECT_EQ(error.args[2].text(), L"OnAsyncGetServByName()");
  EXPECT_EQ(h.MustGet(L"LastError").i4(), error.args[0].i4());
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_TRUE(recorder.sent.empty());
}

TEST(LookupSend, HostNameAndServiceNameInOneSendToSendOnce) {
  const u_short echo = host::ServicePort("echo");
  if (echo == 0) GTEST_SKIP() << "no echo/udp in the services database";
  host::SendRecorder recorder;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(L"localhost"), Var(L"echo"), Var::Bytes({9, 8})});
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(host::kSent), 1);
  ASSERT_EQ(recorder.sent.size(), 1u);
  EXPECT_EQ(recorder.sent[0].address, host::kLoopback);
  EXPECT_EQ(recorder.sent[0].port, echo);
  EXPECT_EQ(h.MustGet(L"State").i2(), 5);
}

TEST(LookupSend, HostNameReachesThePeer) {
  host::PeerSocket peer;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo",
             {Var(L"localhost"), Var(host::PortText(peer.port())), Var::Bytes({0x41, 0x42})});
  std::vector<unsigned char> got;
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, (std::vector<unsigned char>{0x41, 0x42}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 5);
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
}

TEST(LookupSend, UnknownHostNameFailsAtTheCompletion) {
  host::SendRecorder recorder;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(L"no-such-host.invalid"), Var(L"5000"), Var::Bytes({1})});
  ASSERT_TRUE(h.WaitForEvents(host::kClosed, 1, 15000));
  const std::vector<DISPID> expected = {host::kReady, host::kWsError, host::kClosed};
  EXPECT_EQ(h.sink().Order(), expected);
  const auto& error = h.sink().events[1];
  EXPECT_EQ(error.args[1].text(), kWinsockMessage);
  EXPECT_EQ(error.args[2].text(), L"OnAsyncGetHostByName()");
  EXPECT_EQ(h.MustGet(L"LastError").i4(), error.args[0].i4());
  EXPECT_TRUE(recorder.sent.empty());
}

// The host cancelled the close so that the port goes on working: the datagram whose look-up failed
// is dropped once reported, and the next one goes out.
TEST(LookupSend, CancelledCloseAfterAFailedLookUpDropsTheDatagramAndSendsTheNext) {
  Host h;
  host::PeerSocket peer;
  h.CancelCloseOnWsError();
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(host::kLoopbackText), Var(L"0"), Var::Bytes({1})});
  ASSERT_TRUE(h.WaitForEvents(host::kWsError, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(host::kClosed), 0);
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
  h.MustCall(L"SendTo",
             {Var(host::kLoopbackText), Var(host::PortText(peer.port())), Var::Bytes({2})});
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
  Bytes got;
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, Bytes{2});
  EXPECT_EQ(h.sink().Count(host::kWsError), 1);
}

TEST(LookupSend, LookUpThatCannotStartFailsTheCall) {
  for (const wchar_t* port : {L"5000", L"some-service"}) {
    const bool hostFails = std::wstring(port) == L"5000";
    SCOPED_TRACE(hostFails ? "host look-up" : "service look-up");
    host::FakeLookups fake;
    Host h;
    host::OpenAndWaitReady(h, L"");
    fake.failNextStart = WSAENOBUFS;
    auto r = h.Call(L"SendTo", {Var(L"some-host"), Var(port), Var::Bytes({1})});
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, host::WinsockScode(WSAENOBUFS));
    EXPECT_EQ(r.description, kWinsockMessage);
    EXPECT_EQ(h.MustGet(L"State").i2(), 9);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENOBUFS);
  }
}

TEST(LookupSend, HostEntryWithoutAnAddressFailsLikeAnUnknownName) {
  host::FakeLookups fake;
  host::SendRecorder recorder;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(L"some-host"), Var(L"5000"), Var::Bytes({1})});
  ASSERT_EQ(fake.requests.size(), 1u);
  fake.CompleteHost(0, "some-host", nullptr);
  ASSERT_TRUE(h.WaitForEvents(host::kClosed, 1));
  ASSERT_EQ(h.sink().Count(host::kWsError), 1);
  const auto& error = h.sink().events[1];
  EXPECT_EQ(error.args[0].i4(), WSANO_DATA);
  EXPECT_EQ(error.args[2].text(), L"OnAsyncGetHostByName()");
  EXPECT_TRUE(recorder.sent.empty());
}
