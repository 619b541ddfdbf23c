// What the host's values become on their way into the control's members, seen from the host.
#include <gtest/gtest.h>

#include <vector>

#include "support/host.h"
#include "support/winsock_fault.h"

namespace {

using host::CallResult;
using host::Host;
using host::Var;

using Bytes = std::vector<unsigned char>;

// Records the port of every bind the control makes, and binds for real.
struct BindRecorder {
  BindRecorder() {
    ports().clear();
    seam->bind = RecordingBind;
  }
  static int PASCAL RecordingBind(SOCKET s, const sockaddr* a, int n) {
    ports().push_back(::ntohs(reinterpret_cast<const sockaddr_in*>(a)->sin_port));
    return udp::SystemWinsock().bind(s, a, n);
  }
  static std::vector<u_short>& ports() {
    static std::vector<u_short> p;
    return p;
  }
  host::WinsockPatch seam;
};

TEST(AutomationConversion, OpenTakesANumberAsItsDecimalText) {
  const u_short port = host::FreeUdpPort();
  BindRecorder binds;
  {
    Host h;
    h.MustCall(L"Open", {Var(static_cast<int>(port))});
    EXPECT_EQ(h.MustGet(L"State").i2(), 1);
    host::PeerSocket peer;
    ASSERT_TRUE(peer.SendTo(port, {1, 2, 3}));
    ASSERT_TRUE(h.WaitForEvents(host::kReceived, 1));
    EXPECT_EQ(h.sink().events.back().args[2].bytes(), (Bytes{1, 2, 3}));
  }
  {
    Host h;
    h.MustCall(L"Open", {Var(static_cast<double>(port))});
  }
  EXPECT_EQ(BindRecorder::ports(), (std::vector<u_short>{port, port}));
}

TEST(AutomationConversion, OpenWithAnEmptyOrANullTextLetsTheSystemChooseThePort) {
  BindRecorder binds;
  for (Var text : {Var(L""), Var::NullBstr()}) {
    Host h;
    h.MustCall(L"Open", {text});
    EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  }
  EXPECT_EQ(BindRecorder::ports(), (std::vector<u_short>{0, 0}));
}

TEST(AutomationConversion, SendToWithoutDataEntersTheControlWithTheMissingValue) {
  Host h;
  h.MustCall(L"Open", {Var(L"0")});
  // One argument: refused at the boundary, the control is untouched.
  CallResult r = h.Call(L"SendTo", {Var(host::kLoopbackText)});
  EXPECT_EQ(r.hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
  EXPECT_EQ(h.MustGet(L"Sendable").boolean(), true);
  // Two arguments: the control receives the missing value as Data, which holds no bytes.
  r = h.Call(L"SendTo", {Var(host::kLoopbackText), Var(L"9")});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, host::kScodeBadArgument);
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_EQ(h.MustGet(L"Sendable").boolean(), true);
}

TEST(AutomationConversion, NtohlAndNtohsWithoutArgumentReceiveTheMissingValue) {
  Host h;
  for (const wchar_t* name : {L"ntohl", L"ntohs"}) {
    CallResult r = h.Call(name, {});
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, host::kScodeBadArgument);
  }
}

TEST(AutomationConversion, ByteOrderArgumentsAndResultsUseTheDispatcherTypes) {
  Host h;
  EXPECT_EQ(h.MustCall(L"htonl", {Var(4294967295.0)}).bytes(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(h.MustCall(L"htonl", {Var(L"4294967295")}).bytes(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(h.MustCall(L"htonl", {Var(L"3232235777")}).bytes(), (Bytes{0xC0, 0xA8, 0x01, 0x01}));
  // 70000 is 0x11170: it reaches the member whole, which keeps its low 16 bits.
  EXPECT_EQ(h.MustCall(L"htons", {Var(70000)}).bytes(), (Bytes{0x11, 0x70}));
  CallResult r = h.Call(L"htons", {Var(L"abc")});
  EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(r.argErr, 0u);

  Var high = h.MustCall(L"ntohl", {Var::Bytes({0x80, 0, 0, 0})});
  EXPECT_EQ(high.vt(), VT_R8);
  EXPECT_EQ(high.r8(), 2147483648.0);
  Var port = h.MustCall(L"ntohs", {Var::Bytes({0xFF, 0xFE})});
  EXPECT_EQ(port.vt(), VT_I4);
  EXPECT_EQ(port.i4(), 65534);
}

TEST(AutomationConversion, BroadcastStoresABooleanAndNotifiesOnEveryWrite) {
  Host h;
  auto persist =
      fw::com_ptr<IUnknown>(h.unknown(), true).query<IPersistStreamInit>(IID_IPersistStreamInit);
  auto clearModified = [&] {
    fw::com_ptr<IStream> stream;
    ASSERT_HRESULT_SUCCEEDED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    ASSERT_HRESULT_SUCCEEDED(persist->Save(stream.get(), TRUE));
    ASSERT_EQ(persist->IsDirty(), S_FALSE);
  };

  clearModified();
  h.MustPut(L"Broadcast", Var(5));
  Var stored = h.MustGet(L"Broadcast");
  EXPECT_EQ(V_BOOL(stored.get()), VARIANT_TRUE);
  EXPECT_EQ(persist->IsDirty(), S_OK);

  clearModified();
  CallResult r = h.Put(L"Broadcast", Var(L"abc"));
  EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(h.MustGet(L"Broadcast").boolean(), true);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);

  // The same value again still runs the notification.
  h.MustPut(L"Broadcast", Var(true));
  EXPECT_EQ(persist->IsDirty(), S_OK);
  h.MustPut(L"Broadcast", Var(0));
  EXPECT_EQ(h.MustGet(L"Broadcast").boolean(), false);
}

TEST(AutomationConversion, StateTakesAnyShortAndNothingElse) {
  Host h;
  h.MustCall(L"Open", {Var(L"0")});
  const LONG socket = h.MustGet(L"Socket").i4();
  CallResult r = h.Put(L"State", Var(40000));
  EXPECT_EQ(r.hr, DISP_E_OVERFLOW);
  EXPECT_EQ(r.argErr, 0u);
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  h.MustPut(L"State", Var(3));
  EXPECT_EQ(h.MustGet(L"State").i2(), 3);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), socket);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
  ASSERT_TRUE(host::PumpUntilIdle());
  // Only the port's own Ready came in; writing State raised nothing.
  EXPECT_EQ(h.sink().Count(host::kWsError) + h.sink().Count(host::kClosed), 0);
}

TEST(AutomationConversion, TextPropertiesKeepTheHostsTextAndTakeNumbersAsText) {
  Host h;
  const std::wstring text = L"受信データ ÅØ € \U0001F600";
  h.MustPut(L"UserData1", Var(text));
  EXPECT_EQ(h.MustGet(L"UserData1").text(), text);
  h.MustPut(L"UserFlag", Var(12));
  EXPECT_EQ(h.MustGet(L"UserFlag").text(), L"12");
  h.MustPut(L"UserData2", Var::NullBstr());
  EXPECT_EQ(h.MustGet(L"UserData2").text(), L"");
  h.MustPut(L"LastError", Var(L"-7"));
  EXPECT_EQ(h.MustGet(L"LastError").i4(), -7);
}

}  // namespace
