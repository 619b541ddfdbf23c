// Broadcast: a write only stores the permission and marks the control modified; the socket gets
// the option from the write handler, just before each datagram goes out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/host.h"
#include "support/options_seam.h"

using host::Host;
using host::Var;

using host::kReady;
using host::kSent;

TEST(Broadcast, WriteMarksModifiedAndReachesTheSocketOnlyWithTheNextDatagram) {
  Host h;
  host::PeerSocket peer;
  h.MustCall(L"Open", {Var(L"0")});
  ASSERT_TRUE(h.WaitForEvents(kReady, 1));
  const SOCKET socket = static_cast<SOCKET>(h.MustGet(L"Socket").i4());
  host::SockoptSpy spy;

  struct Step {
    bool value;
    int expectedOnSocket;  // SO_BROADCAST after the datagram has gone out
    int sets;              // the option is set only when the socket does not have the value yet
  } const steps[] = {{true, 1, 1}, {true, 1, 0}, {false, 0, 1}, {true, 1, 1}};
  int sent = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(std::to_string(sent));
    const int onSocket = host::SystemSocketOption(socket, SO_BROADCAST) != 0;
    ASSERT_TRUE(h.SaveAndClearModified());
    spy.Clear();

    // Every write runs the change notification, also one that keeps the value.
    h.MustPut(L"Broadcast", Var(step.value));
    EXPECT_TRUE(h.IsModified());
    EXPECT_EQ(h.MustGet(L"Broadcast").boolean(), step.value);
    EXPECT_TRUE(spy.sets().empty());
    EXPECT_EQ(host::SystemSocketOption(socket, SO_BROADCAST) != 0, onSocket);

    const std::vector<unsigned char> payload = {0x42, static_cast<unsigned char>(sent)};
    h.MustCall(L"SendTo",
               {Var(host::kLoopbackText), Var(std::to_wstring(peer.port())), Var::Bytes(payload)});
    ASSERT_TRUE(h.WaitForEvents(kSent, ++sent));
    ASSERT_EQ(spy.SetsOf(SO_BROADCAST), step.sets);
    if (step.sets) {
      EXPECT_EQ(spy.sets().back().value, step.expectedOnSocket);
    }
    EXPECT_EQ(host::SystemSocketOption(socket, SO_BROADCAST) != 0, step.expectedOnSocket != 0);
    std::vector<unsigned char> got;
    ASSERT_TRUE(peer.Receive(got));
    EXPECT_EQ(got, payload);
  }
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
}

TEST(Broadcast, WriteWhileClosedIsKeptAcrossOpenAndClose) {
  Host h;
  host::SockoptSpy spy;
  h.MustPut(L"Broadcast", Var(true));
  EXPECT_TRUE(h.IsModified());
  h.MustCall(L"Open", {Var(L"0")});
  ASSERT_TRUE(h.WaitForEvents(kReady, 1));
  EXPECT_EQ(spy.SetsOf(SO_BROADCAST), 0);
  EXPECT_TRUE(h.MustGet(L"Broadcast").boolean());
  spy.Clear();  // Open's port-sharing option is not this test's subject
  h.MustCall(L"Close");
  EXPECT_TRUE(h.MustGet(L"Broadcast").boolean());
  EXPECT_TRUE(spy.sets().empty());
}
