// Destruction, and events reaching every connected sink.
#include <gtest/gtest.h>
#include <olectl.h>

#include "control/udp_ctrl.h"
#include "support/host.h"
#include "support/winsock_fault.h"

using host::EventSink;
using host::Host;
using host::WinsockPatch;

namespace {

int g_cleanups = 0;
int PASCAL FailingCleanup() {
  ++g_cleanups;
  udp::SystemWinsock().WSACleanup();  // keep the process's start-up count right
  return SOCKET_ERROR;
}
int PASCAL NotInitialised() { return WSANOTINITIALISED; }

// A control whose sink stays connected until the control itself goes.
struct Bare {
  fw::com_ptr<IDispatch> control;
  EventSink sink;
  Bare() {
    udp::CreateUdpCtrl(IID_IDispatch, control.put_void());
    fw::com_ptr<IOleObject> ole;
    control->QueryInterface(IID_IOleObject, ole.put_void());
    ole->SetClientSite(host::TestClientSite());
    fw::com_ptr<IPersistStreamInit> persist;
    control->QueryInterface(IID_IPersistStreamInit, persist.put_void());
    persist->InitNew();
    fw::com_ptr<IConnectionPointContainer> cpc;
    control->QueryInterface(IID_IConnectionPointContainer, cpc.put_void());
    fw::com_ptr<IConnectionPoint> point;
    cpc->FindConnectionPoint(*udp::CUdpCtrl::ClassInfoOfUdp().eventsIid, point.put());
    DWORD cookie = 0;
    point->Advise(static_cast<IDispatch*>(&sink), &cookie);
  }
};

}  // namespace

TEST(Lifecycle, NewControlStartsClosedWithDefaults) {
  Host h;
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
  EXPECT_TRUE(h.sink().events.empty());
}

TEST(Lifecycle, DestructionReleasesTheEndpointWithoutClosed) {
  Bare b;
  fw::com_ptr<IOleObject> ole;
  b.control->QueryInterface(IID_IOleObject, ole.put_void());
  ASSERT_EQ(host::InvokeOn(b.control.get(), UDP_DISPID(Open), DISPATCH_METHOD, {L"0"}, false).hr,
            S_OK);
  ole->SetClientSite(nullptr);
  ole.reset();
  b.control.reset();  // the last reference
  EXPECT_EQ(b.sink.Count(host::kClosed), 0);
  EXPECT_TRUE(b.sink.events.empty());
}

TEST(Lifecycle, FailedCleanUpIsReportedWhileTheControlGoes) {
  WinsockPatch ws;
  ws->WSACleanup = FailingCleanup;
  ws->WSAGetLastError = NotInitialised;
  g_cleanups = 0;
  Bare b;
  b.control.reset();
  EXPECT_EQ(g_cleanups, 1);
  ASSERT_EQ(b.sink.Count(host::kWsError), 1);
  const auto& e = b.sink.events.front();
  EXPECT_EQ(e.args[0].i4(), WSANOTINITIALISED);
  EXPECT_EQ(e.args[1].text(), host::kWinsockMessage);
  EXPECT_EQ(e.args[2].text(), L"WSACleanup() in ~CUdpCtrl()");
  EXPECT_EQ(b.sink.Count(host::kClosed), 0);
}

TEST(Lifecycle, EveryConnectedSinkReceivesEachEvent) {
  Host h;
  EventSink second;
  fw::com_ptr<IConnectionPointContainer> cpc;
  h.dispatch()->QueryInterface(IID_IConnectionPointContainer, cpc.put_void());
  fw::com_ptr<IConnectionPoint> point;
  ASSERT_EQ(cpc->FindConnectionPoint(*udp::CUdpCtrl::ClassInfoOfUdp().eventsIid, point.put()),
            S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(static_cast<IDispatch*>(&second), &cookie), S_OK);
  h.MustCall(L"Open", {L"0"});
  ASSERT_TRUE(host::WaitForReady(h));
  h.MustCall(L"Close");
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{host::kReady, host::kClosed}));
  EXPECT_EQ(second.Order(), h.sink().Order());
  ASSERT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
}

TEST(Lifecycle, WindowExistsOnceTheClientSiteIsSet) {
  Host h;
  HWND w = h.Window();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(::GetWindowThreadProcessId(w, nullptr), ::GetCurrentThreadId());
}

TEST(Lifecycle, AnOpenSocketFollowsTheWindowWhenTheSiteIsSetAgain) {
  Host h;
  h.MustCall(L"Open", {L"0"});
  ASSERT_TRUE(h.WaitForEvents(host::kReady, 1));
  sockaddr_in bound = {};
  int length = sizeof bound;
  ::getsockname(static_cast<SOCKET>(h.MustGet(L"Socket").i4()), reinterpret_cast<sockaddr*>(&bound),
                &length);
  HWND before = h.Window();
  fw::com_ptr<IOleObject> ole;
  h.dispatch()->QueryInterface(IID_IOleObject, ole.put_void());
  ASSERT_EQ(ole->SetClientSite(host::TestClientSite()), S_OK);
  EXPECT_NE(h.Window(), before);
  host::PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(::ntohs(bound.sin_port), {7, 8, 9}));
  ASSERT_TRUE(h.WaitForEvents(host::kReceived, 1));
  EXPECT_EQ(h.sink().Count(host::kReady), 1);
}
