// Work that waits (a datagram for its look-ups, its bind or its write notification, events for
// the container's thaw, notifications for a new window) is neither lost nor misdirected.
#include <gtest/gtest.h>
#include <ocidl.h>

#include "support/datagrams.h"
#include "support/lookups.h"

using host::Host;
using host::Var;

namespace {

using Bytes = std::vector<unsigned char>;

}  // namespace

// A SendTo that fails leaves no look-up of its own behind to redirect the next datagram. It
// fails on its data after starting a look-up, or on the start of its second look-up.
struct FailedSendCase {
  const char* name;
  const wchar_t* remoteIp;
  const wchar_t* remotePort;
  bool secondStartFails;
};
std::ostream& operator<<(std::ostream& os, const FailedSendCase& c) { return os << c.name; }

class FailedSendTo : public testing::TestWithParam<FailedSendCase> {};

TEST_P(FailedSendTo, NeverRedirectsALaterDatagram) {
  const FailedSendCase& c = GetParam();
  host::FakeLookups fake;
  host::SendRecorder recorder;
  host::PeerSocket peer;
  Host h;
  host::OpenAndWaitReady(h);
  fake.failNextStart = c.secondStartFails ? WSAENOBUFS : 0;
  fake.startsBeforeFailure = 1;
  const auto failed = h.Call(L"SendTo", {Var(c.remoteIp), Var(c.remotePort),
                                         c.secondStartFails ? Var::Bytes({1}) : Var(5)});
  EXPECT_EQ(failed.scode,
            c.secondStartFails ? host::WinsockScode(WSAENOBUFS) : host::kScodeBadArgument);
  // Its look-ups complete late (as Wine lets cancelled ones), while the next datagram waits.
  for (size_t i = 0; i < fake.requests.size(); ++i) {
    if (fake.requests[i].message == WM_USER + 2)
      fake.CompleteHost(i, "elsewhere", "127.0.0.2");
    else
      fake.CompleteService(i, 7);
  }
  h.MustCall(L"SendTo",
             {Var(host::kLoopbackText), Var(host::PortText(peer.port())), Var::Bytes({2})});
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  ASSERT_EQ(recorder.sent.size(), 1u);
  EXPECT_EQ(recorder.sent[0].address, host::kLoopback);
  EXPECT_EQ(recorder.sent[0].port, peer.port());
  EXPECT_EQ(h.MustGet(L"State").i2(), 9) << "a late host result would have made it 5";
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedSendTo,
    testing::Values(FailedSendCase{"DataAfterAServiceLookUp", host::kLoopbackText, L"echo", false},
                    FailedSendCase{"DataAfterAHostLookUp", L"host-a", L"5000", false},
                    FailedSendCase{"HostLookUpCannotStart", L"host-a", L"echo", true}),
    [](const auto& info) { return std::string(info.param.name); });

// A datagram queued while Open waits for its local service look-up goes out even when the bind
// never comes: the look-up fails (its WsError close cancelled) or the bind fails.
class BindNeverComes : public testing::TestWithParam<bool /*lookUpFails*/> {};

TEST_P(BindNeverComes, TheHeldDatagramGoesOutAnyway) {
  host::FakeLookups fake;
  host::PeerSocket peer, taken;
  Host h;
  h.CancelCloseOnWsError();
  h.MustCall(L"Open", {Var(L"some-service")});
  ASSERT_TRUE(h.WaitForEvents(host::kReady, 1));
  h.MustCall(L"SendTo",
             {Var(host::kLoopbackText), Var(host::PortText(peer.port())), Var::Bytes({3})});
  ASSERT_TRUE(host::PumpUntilIdle());
  ASSERT_EQ(h.sink().Count(host::kSent), 0) << "held while the bind is owed";
  if (GetParam())
    fake.Fail(0, WSANO_DATA);
  else
    fake.CompleteService(0, taken.port());  // the port is in use: the bind fails
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
  Bytes got;
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, Bytes{3});
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
}

INSTANTIATE_TEST_SUITE_P(Outcomes, BindNeverComes, testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "LookUpFails" : "BindFails");
});

// While the container holds events frozen nothing is raised and nothing is lost: after the last
// thaw every event comes, and a WsError can still be cancelled.
TEST(FrozenEvents, AreAllRaisedAfterTheLastThaw) {
  host::FakeLookups fake;
  host::PeerSocket peer;
  Host h;
  h.CancelCloseOnWsError();
  fw::com_ptr<IOleControl> control;
  ASSERT_EQ(h.dispatch()->QueryInterface(IID_IOleControl, control.put_void()), S_OK);
  control->FreezeEvents(TRUE);
  control->FreezeEvents(TRUE);
  h.MustCall(L"Open", {Var(L"0")});
  ASSERT_TRUE(peer.SendTo(host::BoundPort(h), {9}));
  h.MustCall(L"SendTo", {Var(L"host-a"), Var(L"5000"), Var::Bytes({1})});
  fake.Fail(0, WSAHOST_NOT_FOUND);
  // Frozen, nothing shows when the notifications have come: a while in which they do.
  h.PumpFor(300);
  control->FreezeEvents(FALSE);
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_TRUE(h.sink().events.empty()) << "still frozen once";

  control->FreezeEvents(FALSE);
  ASSERT_TRUE(h.WaitForEvents(host::kReceived, 1));
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{host::kWsError, host::kReady, host::kReceived}));
  EXPECT_EQ(host::ReceivedData(h.sink()), (std::vector<Bytes>{{9}}));
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1) << "the handler cancelled the close";

  h.sink().Clear();
  control->FreezeEvents(TRUE);
  h.MustCall(L"Close");
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_TRUE(h.sink().events.empty());
  control->FreezeEvents(FALSE);
  ASSERT_TRUE(h.WaitForEvents(host::kClosed, 1));
}

// When the container sites the control again its window is recreated: what was posted to the old
// window is posted again to the new one. Here that is Ready's write notification and the
// datagram's, both posted before the container re-sites the control.
TEST(Resite, KeepsTheWritesPostedToTheOldWindow) {
  host::PeerSocket peer;
  Host h;
  h.MustCall(L"Open", {Var(L"0")});
  h.MustCall(L"SendTo",
             {Var(host::kLoopbackText), Var(host::PortText(peer.port())), Var::Bytes({6})});
  fw::com_ptr<IOleObject> ole;
  ASSERT_EQ(h.unknown()->QueryInterface(IID_IOleObject, ole.put_void()), S_OK);
  const HWND before = h.Window();
  ASSERT_EQ(ole->SetClientSite(host::TestClientSite()), S_OK);
  ASSERT_NE(h.Window(), before);
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{host::kReady, host::kSent}));
  Bytes got;
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, Bytes{6});
}

// A failure held while events are frozen belongs to its endpoint: its automatic close does not
// close the endpoint the host opened since, whose own events follow the held ones.
TEST(FrozenEvents, HeldFailureClosesOnlyItsOwnEndpoint) {
  host::FakeLookups fake;
  host::PeerSocket peer;
  Host h;
  fw::com_ptr<IOleControl> control;
  ASSERT_EQ(h.dispatch()->QueryInterface(IID_IOleControl, control.put_void()), S_OK);
  host::OpenAndWaitReady(h, L"");
  control->FreezeEvents(TRUE);
  h.MustCall(L"SendTo", {Var(L"host-a"), Var(L"5000"), Var::Bytes({1})});
  fake.Fail(0, WSAHOST_NOT_FOUND);
  h.PumpFor(100);
  h.MustCall(L"Close");
  h.MustCall(L"Open", {Var(L"0")});
  h.PumpFor(100);
  control->FreezeEvents(FALSE);
  ASSERT_TRUE(h.WaitForEvents(host::kReady, 2));
  ASSERT_TRUE(peer.SendTo(host::BoundPort(h), {7}));
  ASSERT_TRUE(h.WaitForEvents(host::kReceived, 1));
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{host::kReady, host::kWsError, host::kClosed,
                                                   host::kReady, host::kReceived}));
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
}
