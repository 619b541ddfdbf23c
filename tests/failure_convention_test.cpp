// A failure outside a call: WsError, then the automatic close unless the handler cancelled it or
// reopened the port.
#include <gtest/gtest.h>

#include "support/datagrams.h"

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
