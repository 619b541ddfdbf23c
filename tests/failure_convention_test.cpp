// A failure outside a call: WsError, then the automatic close unless the handler cancelled it or
// reopened the port.
#include <gtest/gtest.h>

#include "control/udp_ctrl.h"
#include "support/host.h"

using host::Host;
using host::Var;

namespace {

constexpr wchar_t kWinsockMessage[] = L"Winsockでエラーが発生しました。";

// A read notification that carries an error, as the sockets layer posts it.
void PostReadError(Host& h, int error) {
  LONG socket = h.MustGet(L"Socket").i4();
  ::PostMessageW(h.Window(), udp::kMsgSocketNotify, static_cast<WPARAM>(socket),
                 WSAMAKESELECTREPLY(FD_READ, error));
}

void OpenAndWaitReady(Host& h) {
  h.MustCall(L"Open", {L"0"});
  ASSERT_TRUE(h.WaitForEvents(udp::kEventReady, 1));
}

}  // namespace

TEST(FailureConvention, LeftAloneTheSocketIsClosed) {
  Host h;
  OpenAndWaitReady(h);
  PostReadError(h, WSAENETRESET);
  ASSERT_TRUE(h.WaitForEvents(udp::kEventClosed, 1));
  const auto& e = h.sink().events;
  ASSERT_EQ(h.sink().Count(udp::kEventWsError), 1);
  auto it = std::find_if(e.begin(), e.end(), [](auto& x) { return x.id == udp::kEventWsError; });
  EXPECT_EQ(it->args[0].i4(), WSAENETRESET);
  EXPECT_EQ(it->args[1].text(), kWinsockMessage);
  EXPECT_EQ(it->args[2].text(), L"FD_READ");
  EXPECT_FALSE(it->args[3].boolean());
  EXPECT_EQ(h.sink().Order().back(), udp::kEventClosed);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENETRESET);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
}

TEST(FailureConvention, CancelCloseKeepsTheSocketAndStateNine) {
  Host h;
  OpenAndWaitReady(h);
  short stateInHandler = -1;
  h.sink().handler = [&](const host::Event& e, DISPPARAMS* p) {
    if (e.id != udp::kEventWsError) return;
    stateInHandler = h.MustGet(L"State").i2();
    host::SetCancelClose(p);
  };
  PostReadError(h, WSAECONNRESET);
  ASSERT_TRUE(h.WaitForEvents(udp::kEventWsError, 1));
  h.PumpFor(50);
  EXPECT_EQ(stateInHandler, 9);
  EXPECT_EQ(h.sink().Count(udp::kEventClosed), 0);
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
}

TEST(FailureConvention, CloseAndOpenInTheHandlerKeepsTheNewSocket) {
  Host h;
  OpenAndWaitReady(h);
  h.sink().handler = [&](const host::Event& e, DISPPARAMS*) {
    if (e.id != udp::kEventWsError) return;
    h.MustCall(L"Close");
    h.MustCall(L"Open", {L"0"});
  };
  PostReadError(h, WSAENETDOWN);
  ASSERT_TRUE(h.WaitForEvents(udp::kEventWsError, 1));
  h.sink().handler = nullptr;
  // The new endpoint raises its own Ready.
  ASSERT_TRUE(h.WaitForEvents(udp::kEventReady, 2));
  EXPECT_EQ(h.sink().Count(udp::kEventClosed), 1);
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
}

TEST(FailureConvention, CloseAloneInTheHandlerRaisesNoSecondClosed) {
  Host h;
  OpenAndWaitReady(h);
  h.sink().handler = [&](const host::Event& e, DISPPARAMS*) {
    if (e.id == udp::kEventWsError) h.MustCall(L"Close");
  };
  PostReadError(h, WSAENETDOWN);
  ASSERT_TRUE(h.WaitForEvents(udp::kEventWsError, 1));
  h.PumpFor(50);
  EXPECT_EQ(h.sink().Count(udp::kEventClosed), 1);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
}

TEST(FailureConvention, HandlerMayReenterTheControlWhileAnEventIsRaised) {
  Host h;
  std::vector<short> states;
  h.sink().handler = [&](const host::Event& e, DISPPARAMS*) {
    if (e.id == udp::kEventReady) {
      // Inside Ready: read, write and close.
      states.push_back(h.MustGet(L"State").i2());
      h.MustPut(L"UserData1", L"set inside Ready");
      h.MustCall(L"Close");
    } else if (e.id == udp::kEventClosed) {
      states.push_back(h.MustGet(L"State").i2());
    }
  };
  h.MustCall(L"Open", {L"0"});
  ASSERT_TRUE(h.WaitForEvents(udp::kEventClosed, 1));
  EXPECT_EQ(states, (std::vector<short>{1, 0}));
  EXPECT_EQ(h.MustGet(L"UserData1").text(), L"set inside Ready");
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
}
