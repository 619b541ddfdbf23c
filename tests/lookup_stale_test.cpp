// Completions of cancelled, superseded and orphaned look-ups: never taken for the current
// request, and their buffers stay valid until the sockets layer has finished with them.
#include <gtest/gtest.h>
#include <ocidl.h>

#include <cstdlib>
#include <string>

#include "support/datagrams.h"
#include "support/host.h"
#include "support/lookups.h"

using host::Host;
using host::Var;

// Array deletes are watched here: the control's result buffers are arrays of char.
namespace {
constexpr int kWatchSlots = 4;
void* g_watched[kWatchSlots] = {};
bool g_freed[kWatchSlots] = {};

void NoteDelete(void* p) {
  for (int i = 0; i < kWatchSlots; ++i)
    if (p && g_watched[i] == p) g_freed[i] = true;
}
void Watch(int slot, void* p) {
  g_watched[slot] = p;
  g_freed[slot] = false;
}
void Unwatch() {
  for (int i = 0; i < kWatchSlots; ++i) g_watched[i] = nullptr;
}
}  // namespace

void operator delete[](void* p) noexcept {
  NoteDelete(p);
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  NoteDelete(p);
  std::free(p);
}

TEST(LookupStale, CloseWhileALookUpIsOutstandingLeavesNoStaleResult) {
  host::PeerSocket peer;
  host::SendRecorder recorder;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(L"localhost"), Var(host::PortText(peer.port())), Var::Bytes({1})});
  h.MustCall(L"Close");
  h.PumpFor(300);  // the sockets layer still completes the cancelled request
  EXPECT_EQ(h.sink().Count(host::kSent), 0);
  EXPECT_EQ(h.sink().Count(host::kClosed), 1);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  h.MustCall(L"Open", {Var(L"")});
  h.PumpFor(200);                          // and would complete into the new endpoint now
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);  // a stale host result would have made it 5
  EXPECT_EQ(h.sink().Count(host::kSent), 0);
  EXPECT_TRUE(recorder.sent.empty());
  std::vector<unsigned char> got;
  EXPECT_FALSE(peer.Receive(got, nullptr, 50));
}

TEST(LookupStale, LateCompletionOfACancelledRequestIsNotTakenForTheNewOne) {
  host::PeerSocket peer;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(L"localhost"), Var(host::PortText(peer.port())), Var::Bytes({1})});
  h.MustCall(L"Close");
  h.MustCall(L"Open", {Var(L"")});
  // Both requests run at once; the cancelled one resolves, the new one cannot.
  h.MustCall(L"SendTo",
             {Var(L"no-such-host.invalid"), Var(host::PortText(peer.port())), Var::Bytes({2})});
  ASSERT_TRUE(h.WaitForEvents(host::kClosed, 2, 15000));
  EXPECT_EQ(h.sink().Count(host::kSent), 0);
  ASSERT_EQ(h.sink().Count(host::kWsError), 1);
  for (const auto& e : h.sink().events) {
    if (e.id == host::kWsError) {
      EXPECT_EQ(e.args[2].text(), L"OnAsyncGetHostByName()");
    }
  }
  std::vector<unsigned char> got;
  EXPECT_FALSE(peer.Receive(got, nullptr, 50));
}

TEST(LookupStale, SupersededRequestNeverSharesOrFeedsTheNewOne) {
  host::FakeLookups fake;
  host::PeerSocket peer;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(L"host-a"), Var(host::PortText(peer.port())), Var::Bytes({1})});
  h.MustCall(L"Close");
  ASSERT_EQ(fake.cancelled.size(), 1u);
  EXPECT_EQ(fake.cancelled[0], fake.requests[0].task);
  h.MustCall(L"Open", {Var(L"")});
  h.MustCall(L"SendTo", {Var(L"host-b"), Var(host::PortText(peer.port())), Var::Bytes({2})});
  ASSERT_EQ(fake.requests.size(), 2u);
  EXPECT_NE(fake.requests[1].buffer, fake.requests[0].buffer);

  // The cancelled request completes late, with an address the new one must not take.
  fake.CompleteHost(0, "host-a", host::kLoopback);
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(host::kSent), 0);
  EXPECT_NE(h.MustGet(L"State").i2(), 5);
  std::vector<unsigned char> got;
  EXPECT_FALSE(peer.Receive(got, nullptr, 50));

  fake.CompleteHost(1, "host-b", host::kLoopback);
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, std::vector<unsigned char>{2});
  EXPECT_EQ(h.MustGet(L"State").i2(), 5);
}

TEST(LookupStale, DestroyedControlsBuffersLiveUntilTheirCompletions) {
  host::FakeLookups fake;
  {
    Host h;
    host::OpenAndWaitReady(h, L"");
    h.MustCall(L"SendTo", {Var(L"host-a"), Var(L"5000"), Var::Bytes({1})});
    h.MustPut(L"InetName", Var(L"host-b"));
    h.MustPut(L"InetName", Var(L"host-c"));  // supersedes host-b without cancelling it
    ASSERT_EQ(fake.requests.size(), 3u);
    for (int i = 0; i < 3; ++i) Watch(i, fake.requests[i].buffer);
    h.Release();
  }
  // The control is gone; the sockets layer has not finished with any of the three.
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(g_freed[i]) << "buffer " << i << " freed early";
  fake.CompleteHost(0, "host-a", host::kLoopback);
  fake.CompleteHost(1, "host-b", "127.0.0.2");
  fake.Fail(2, WSAHOST_NOT_FOUND);
  host::Pump([] { return g_freed[0] && g_freed[1] && g_freed[2]; }, 2000);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(g_freed[i]) << "buffer " << i << " never freed";
  Unwatch();
}

TEST(LookupStale, RealLookUpOutstandingAtDestructionCompletesHarmlessly) {
  for (int round = 0; round < 5; ++round) {
    Host h;
    host::OpenAndWaitReady(h, L"");
    h.MustCall(L"SendTo", {Var(L"localhost"), Var(L"5000"), Var::Bytes({1})});
    h.MustPut(L"InetIp", Var(static_cast<int>(host::kLoopbackHostOrder)));
    h.Release();
  }
  // The real look-ups finish on the sockets layer's thread, unseen: a while in which they do.
  host::Pump(nullptr, 300);
  // Still alive and working afterwards.
  host::PeerSocket peer;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(L"localhost"), Var(host::PortText(peer.port())), Var::Bytes({4})});
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
}

TEST(LookupStale, CompletionReachesTheControlAfterItsWindowIsRecreated) {
  host::PeerSocket peer;
  Host h;
  host::OpenAndWaitReady(h, L"");
  h.MustCall(L"SendTo", {Var(L"localhost"), Var(host::PortText(peer.port())), Var::Bytes({6})});
  // The container sites the control again before the look-up completes: a new window.
  fw::com_ptr<IOleObject> ole;
  ASSERT_EQ(h.unknown()->QueryInterface(IID_IOleObject, ole.put_void()), S_OK);
  IOleClientSite* site = nullptr;
  ole->GetClientSite(&site);
  ole->SetClientSite(site);
  if (site) site->Release();
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1));
  std::vector<unsigned char> got;
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, std::vector<unsigned char>{6});
}
