// Faults that hostile hosts found (random calls, corrupted forms, re-entrant sinks), one scenario
// each; the comment names the seed of the run that found it.
#include <gtest/gtest.h>

#include <string>

#include "control/udp_ctrl.h"
#include "support/host.h"
#include "support/lookups.h"

using host::Host;
using host::Var;

namespace {

void OpenReady(Host& h) {
  h.MustCall(L"Open", {Var(L"")});
  ASSERT_TRUE(h.WaitForEvents(udp::kEventReady, 1));
}

}  // namespace

// Seed 3 (100 000 calls): the write notification of a datagram that Close dropped was still
// queued; after Open it reached the next datagram while that one's service look-up was
// outstanding, and sent it to port 0.
TEST(HostileInput, NoDatagramLeavesBeforeItsLookUpsComplete) {
  host::PeerSocket peer;
  host::SendRecorder recorder;
  host::FakeLookups lookups;
  Host h;
  OpenReady(h);
  h.MustCall(L"SendTo", {Var(L"127.0.0.1"), Var(std::to_wstring(peer.port())), Var::Bytes({1})});
  h.MustCall(L"Close");
  h.MustCall(L"Open", {Var(L"")});
  h.MustCall(L"SendTo", {Var(L"127.0.0.1"), Var(L"someservice"), Var::Bytes({2})});
  h.PumpFor(200);
  EXPECT_TRUE(recorder.sent.empty());
  ASSERT_EQ(lookups.requests.size(), 1u);
  lookups.CompleteService(0, peer.port());
  ASSERT_TRUE(h.WaitForEvents(udp::kEventSent, 1));
  ASSERT_EQ(recorder.sent.size(), 1u);
  EXPECT_EQ(recorder.sent[0].port, peer.port());
}
