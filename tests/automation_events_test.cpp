// The arguments that event sinks receive: their types as they arrive, the way a sink bound through
// the type library reads them.
#include <gtest/gtest.h>
#include <winsock.h>

#include <string>
#include <vector>

#include "support/datagrams.h"
#include "support/host.h"

namespace {

using host::Host;
using host::Var;

using host::kClosed;
using host::kReady;
using host::kReceived;
using host::kSent;
using host::kWsError;

struct Seen {
  DISPID id;
  std::vector<VARTYPE> types;  // in declared order
};

// Records the types of every event's arguments, as they stand in the DISPPARAMS.
void RecordTypes(Host& h, std::vector<Seen>& seen) {
  h.sink().handler = [&seen](const host::Event& e, DISPPARAMS* p) {
    Seen s{e.id, {}};
    for (UINT i = p->cArgs; i-- > 0;) s.types.push_back(V_VT(&p->rgvarg[i]));
    EXPECT_EQ(p->cNamedArgs, 0u);
    seen.push_back(s);
  };
}

TEST(AutomationEvents, ReceivedHandsOverTextsAndTheBytesAsAnArray) {
  std::vector<Seen> seen;
  Host h;
  RecordTypes(h, seen);
  const u_short port = host::FreeUdpPort();
  h.MustCall(L"Open", {Var(std::to_wstring(port))});
  host::PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {0x00, 0xFF, 0x41}));
  ASSERT_TRUE(h.WaitForEvents(kReceived, 1));
  const host::Event& e = h.sink().events.back();
  ASSERT_EQ(e.args.size(), 3u);
  EXPECT_EQ(e.args[0].text(), host::kLoopbackText);
  // The port is the decimal text of the signed 16-bit value.
  EXPECT_EQ(e.args[1].text(), std::to_wstring(static_cast<short>(peer.port())));
  EXPECT_EQ(e.args[2].bytes(), (std::vector<unsigned char>{0x00, 0xFF, 0x41}));
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR, VT_ARRAY | VT_UI1}));
}

TEST(AutomationEvents, WsErrorPresetsCancelCloseFalseAndTakesAnyNonzeroAsCancelled) {
  std::vector<Seen> seen;
  Host h;
  RecordTypes(h, seen);
  h.MustCall(L"Open", {Var(L"0")});
  ASSERT_TRUE(h.WaitForEvents(kReady, 1));
  VARIANT_BOOL preset = 123;
  auto record = h.sink().handler;
  h.sink().handler = [&](const host::Event& e, DISPPARAMS* p) {
    record(e, p);
    if (e.id != kWsError) return;
    VARIANT& flag = p->rgvarg[0];
    ASSERT_EQ(V_VT(&flag), VT_BOOL | VT_BYREF);
    preset = *V_BOOLREF(&flag);
    // Not VARIANT_TRUE, but nonzero: still a cancel.
    *V_BOOLREF(&flag) = 1;
  };
  host::PostSocketNotify(h, FD_READ, WSAENETDOWN);
  ASSERT_TRUE(h.WaitForEvents(kWsError, 1));
  EXPECT_EQ(preset, VARIANT_FALSE);
  const host::Event& e = h.sink().events.back();
  ASSERT_EQ(e.args.size(), 4u);
  EXPECT_EQ(e.args[0].i4(), WSAENETDOWN);
  EXPECT_EQ(e.args[1].text(), host::kWinsockMessage);
  EXPECT_EQ(e.args[2].text(), L"FD_READ");
  EXPECT_EQ(seen.back().types, (std::vector<VARTYPE>{VT_I4, VT_BSTR, VT_BSTR, VT_BOOL | VT_BYREF}));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(kClosed), 0);
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
}

TEST(AutomationEvents, ReadySentAndClosedCarryNoArguments) {
  std::vector<Seen> seen;
  Host h;
  RecordTypes(h, seen);
  host::PeerSocket peer;
  h.MustCall(L"Open", {Var(L"0")});
  ASSERT_TRUE(h.WaitForEvents(kReady, 1));
  h.MustCall(L"SendTo", {Var(host::kLoopbackText), Var(static_cast<int>(peer.port())), Var(L"hi")});
  ASSERT_TRUE(h.WaitForEvents(kSent, 1));
  h.MustCall(L"Close");
  ASSERT_EQ(h.sink().Count(kClosed), 1);
  ASSERT_EQ(seen.size(), 3u);
  for (const Seen& s : seen) EXPECT_TRUE(s.types.empty()) << s.id;
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{kReady, kSent, kClosed}));
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(peer.Receive(bytes));
  // A string's stored bytes go out unchanged: two UTF-16 code units.
  EXPECT_EQ(bytes, (std::vector<unsigned char>{'h', 0, 'i', 0}));
}

}  // namespace
