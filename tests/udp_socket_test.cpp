// UdpSocket driven as a host without a form drives it: created by its ProgID after registration,
// never sited, its events taken from the connection point that IProvideClassInfo2 names, its
// messages pumped by its own Wait and Receive.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "control/surface.h"
#include "control/udp_ctrl.h"
#include "server/udp_socket.h"
#include "support/container.h"
#include "support/datagrams.h"
#include "support/failing_allocation.h"
#include "support/lookups.h"
#include "support/trace.h"
#include "support/typelib.h"
#include "typelib/udp_guids.h"

using namespace host;

namespace {

using Bytes = std::vector<unsigned char>;

// A callable object as scripts hand them over: its default member takes the event's arguments.
class Callback : public host::StaticDispatch {
 public:
  std::vector<std::vector<Var>> calls;  // each call's arguments, in declared order
  HRESULT status = S_OK;
  Var result;
  std::function<void()> onCall;

  Var AsVar() { return Var::Object(this); }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* out, EXCEPINFO*,
                      UINT*) override {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    calls.push_back(ArgumentsOf(params));
    if (onCall) onCall();
    if (out) ::VariantCopy(out, result.get());
    return status;
  }
};

class UdpSocketTest : public testing::Test {
 protected:
  void SetUp() override {
    server_ = container::TheServer();
    ASSERT_NE(server_, nullptr) << "UDP_OCX must name the built DLL";
    ASSERT_EQ(server_->RegisterServer(), S_OK);
    socket_ = Create(L"UDP.UdpSocket");
    ASSERT_TRUE(socket_);
    events_ = host::AdviseEvents(socket_.get(), &sink_);
  }
  void TearDown() override {
    events_.reset();
    socket_.reset();
    if (server_) server_->UnregisterServer();
  }

  static fw::com_ptr<IDispatch> Create(const wchar_t* progId) {
    fw::com_ptr<IDispatch> object;
    CLSID clsid = {};
    if (SUCCEEDED(::CLSIDFromProgID(progId, &clsid)))
      ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.put_void());
    return object;
  }
  CallResult Call(const wchar_t* name, std::vector<Var> args = {}) {
    return host::Invoke(socket_.get(), name, DISPATCH_METHOD, std::move(args));
  }
  Var MustCall(const wchar_t* name, std::vector<Var> args = {},
               const Where& where = Where::current()) {
    return host::MustCall(socket_.get(), name, std::move(args), where);
  }
  Var Get(const wchar_t* name, const Where& where = Where::current()) {
    return host::MustGet(socket_.get(), name, where);
  }
  void Put(const wchar_t* name, Var value, const Where& where = Where::current()) {
    host::MustPut(socket_.get(), name, value, where);
  }
  bool Wait(int ms, const Where& where = Where::current()) {
    return MustCall(L"Wait", {ms}, where).boolean();
  }

  // Opens a port of the system's choice, waits for Ready, and returns the port.
  u_short OpenAndWaitReady(const Where& where = Where::current()) {
    const CallerTrace trace(where);
    MustCall(L"Open", {L"0"}, where);
    EXPECT_TRUE(Wait(3000, where));
    EXPECT_EQ(sink_.Order(), std::vector<DISPID>{kReady});
    return BoundPortOf(socket_.get(), where);
  }
  // The port an object's socket is bound to (LocalPort reads 0 for a port the system chose).
  static u_short BoundPortOf(IDispatch* object, const Where& where = Where::current()) {
    const auto s = static_cast<SOCKET>(static_cast<ULONG>(host::MustGet(object, L"Socket", where).i4()));
    sockaddr_in a = {};
    int len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    return ::ntohs(a.sin_port);
  }

  const container::Server* server_ = nullptr;
  EventSink sink_;
  // Callbacks outlive the object that holds them.
  std::deque<Callback> callbacks_;
  fw::com_ptr<IDispatch> socket_;
  fw::unique_advise_cookie events_;
};

TEST_F(UdpSocketTest, EitherProgIdGivesAReadyObjectThatNamesItsClassAndEvents) {
  for (const wchar_t* progId : {L"UDP.UdpSocket", L"UDP.UdpSocket.1"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(progId)));
    auto object = Create(progId);
    ASSERT_TRUE(object);
    // Unlike a control created the same way, it answers at once.
    EXPECT_EQ(host::MustGet(object.get(), L"Version").i2(), 100);
    auto info = object.query<IProvideClassInfo2>(IID_IProvideClassInfo2);
    ASSERT_TRUE(info);
    GUID events = {};
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_TRUE(IsEqualGUID(events, DIID_DUdpEvents));
    fw::com_ptr<ITypeInfo> coclass;
    ASSERT_EQ(info->GetClassInfo(coclass.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_UdpSocket));
    coclass->ReleaseTypeAttr(attr);
  }
}

TEST_F(UdpSocketTest, NamesAndDispatchIdsAreThoseOfItsTypeInfoWithoutAboutBox) {
  fw::com_ptr<ITypeInfo> info;
  ASSERT_EQ(socket_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, DIID_DUdpSocket));
  std::vector<MEMBERID> ids;
  for (UINT i = 0; i < attr->cVars; ++i) {
    VARDESC* var = nullptr;
    ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
    ids.push_back(var->memid);
    info->ReleaseVarDesc(var);
  }
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
    ids.push_back(func->memid);
    info->ReleaseFuncDesc(func);
  }
  info->ReleaseTypeAttr(attr);
  // The members it shares with the control, and its own.
  EXPECT_EQ(ids.size(), udp::kUdpDispatch.size() + server::kUdpSocketDispatch.size());
  // Locale 0: the object's own tables answer, not the type library.
  for (MEMBERID id : ids) {
    std::wstring name = NameOf(info.get(), id);
    LPOLESTR names[] = {name.data()};
    DISPID found = DISPID_UNKNOWN;
    EXPECT_EQ(socket_->GetIDsOfNames(IID_NULL, names, 1, 0, &found), S_OK);
    EXPECT_EQ(found, id) << testing::PrintToString(name);
  }
  // What the list keeps to the control (AboutBox) it answers as no member at all.
  for (const udp::SurfaceMember* m : udp::kSurface) {
    if (m->OfferedBySocket() || m->event) continue;
    LPOLESTR names[] = {const_cast<LPOLESTR>(m->name)};
    DISPID found = 0;
    EXPECT_EQ(socket_->GetIDsOfNames(IID_NULL, names, 1, 0, &found), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(InvokeOn(socket_.get(), m->dispid, DISPATCH_METHOD, {}).hr, DISP_E_MEMBERNOTFOUND);
  }
}

TEST_F(UdpSocketTest, ExchangesDatagramsWithEventsAndRemembersTheSender) {
  const u_short port = OpenAndWaitReady();
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {0x01, 0x00, 0xFF}));
  ASSERT_TRUE(Wait(3000));
  ASSERT_EQ(sink_.Order(), (std::vector<DISPID>{kReady, kReceived}));
  const Event& received = sink_.events[1];
  EXPECT_EQ(received.args[0].text(), host::kLoopbackText);
  EXPECT_EQ(received.args[1].text(), SignedPortText(peer.port()));
  EXPECT_EQ(received.args[2].bytes(), (Bytes{0x01, 0x00, 0xFF}));
  EXPECT_EQ(Get(L"FromAddress").text(), host::kLoopbackText);
  EXPECT_EQ(Get(L"FromPort").text(), SignedPortText(peer.port()));

  MustCall(L"SendTo",
           {host::kLoopbackText, std::to_wstring(peer.port()), Var::Bytes({0x42, 0x43})});
  ASSERT_TRUE(Wait(3000));
  EXPECT_EQ(sink_.Order(), (std::vector<DISPID>{kReady, kReceived, kSent}));
  Bytes echoed;
  ASSERT_TRUE(peer.Receive(echoed));
  EXPECT_EQ(echoed, (Bytes{0x42, 0x43}));
  // A host that takes its datagrams as events keeps none; nothing more happens.
  EXPECT_EQ(Get(L"Queued").i4(), 0);
  EXPECT_FALSE(Wait(0));
  EXPECT_FALSE(Wait(50));
}

TEST_F(UdpSocketTest, ReceiveGivesTheNextDatagramOrEmptyWhenTheTimeRunsOut) {
  const u_short port = OpenAndWaitReady();
  EXPECT_EQ(MustCall(L"Receive", {50}).vt(), VT_EMPTY);
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {0x09, 0x08}));
  EXPECT_EQ(MustCall(L"Receive", {3000}).bytes(), (Bytes{0x09, 0x08}));
  EXPECT_EQ(Get(L"FromPort").text(), SignedPortText(peer.port()));
  // A datagram a Receive waits for is that Receive's alone.
  EXPECT_EQ(sink_.Count(kReceived), 0);
}

// Nothing is lost to Receive: what arrives while anything pumps the thread (here another
// object's Wait) is kept, oldest first with its sender, within the limits; beyond them it is
// dropped and counted; it outlives Close. A host that takes events keeps nothing.
TEST_F(UdpSocketTest, DatagramsNoHandlerTookAreKeptInOrderWithinTheLimits) {
  OpenAndWaitReady();
  auto quiet = Create(L"UDP.UdpSocket");  // no sink, no callback
  ASSERT_TRUE(quiet);
  host::MustPut(quiet.get(), L"QueueLimit", 3);
  host::MustCall(quiet.get(), L"Open", {L"0"});
  const u_short quietPort = BoundPortOf(quiet.get());
  PeerSocket a, b;
  for (unsigned char i = 1; i <= 4; ++i) ASSERT_TRUE((i % 2 ? a : b).SendTo(quietPort, {i}));
  // This object's Wait pumps the thread: the quiet one's notifications with its own.
  EXPECT_FALSE(Wait(300));
  EXPECT_EQ(host::MustGet(quiet.get(), L"Queued").i4(), 3);
  EXPECT_EQ(host::MustGet(quiet.get(), L"Dropped").i4(), 1);
  host::MustCall(quiet.get(), L"Close");
  for (unsigned char i = 1; i <= 3; ++i) {
    EXPECT_EQ(host::MustCall(quiet.get(), L"Receive", {0}).bytes(), Bytes{i});
    EXPECT_EQ(host::MustGet(quiet.get(), L"FromPort").text(),
              SignedPortText((i % 2 ? a : b).port()));
  }
  EXPECT_EQ(host::Invoke(quiet.get(), L"Receive", DISPATCH_METHOD, {0}).scode, kScodeNotOpen);
  for (const wchar_t* limit : {L"QueueLimit", L"QueueByteLimit"})
    EXPECT_EQ(host::Invoke(quiet.get(), limit, DISPATCH_PROPERTYPUT, {-1}).scode,
              kScodeBadArgument);
  EXPECT_EQ(host::MustGet(quiet.get(), L"QueueByteLimit").i4(), 1 << 20);
}

// Which datagram a waiting Receive takes is decided as it arrives: the first one is its own
// whatever the limits, and those that arrive while a handler runs inside it (OnSent, waiting)
// are raised once the handler returns, as any datagram is: none is left queued unannounced.
TEST_F(UdpSocketTest, AWaitingReceiveTakesTheFirstArrivalAndTheOthersAreRaised) {
  const struct {
    const wchar_t* limit;
    LONG value;
    size_t size;
    unsigned char answers;
  } cases[] = {{L"QueueLimit", 0, 10, 1}, {L"QueueByteLimit", 100, 200, 1},
               {L"QueueLimit", server::kDefaultQueueLimit, 4, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.limit)) + " " + std::to_string(c.value));
    MustCall(L"Close");
    sink_.Clear();
    Put(L"QueueLimit", static_cast<int>(server::kDefaultQueueLimit));
    Put(L"QueueByteLimit", static_cast<int>(server::kDefaultQueueByteLimit));
    Put(c.limit, static_cast<int>(c.value));
    PeerSocket peer;
    Callback& onSent = callbacks_.emplace_back();
    Callback& onReceived = callbacks_.emplace_back();
    Put(L"OnSent", onSent.AsVar());
    Put(L"OnReceived", onReceived.AsVar());
    const u_short port = OpenAndWaitReady();
    onSent.onCall = [&] {
      for (unsigned char i = 1; i <= c.answers; ++i) {
        ASSERT_TRUE(peer.SendTo(port, Bytes(c.size, i)));
        Wait(150);
      }
    };
    MustCall(L"SendTo", {host::kLoopbackText, std::to_wstring(peer.port()), Var::Bytes({0})});
    EXPECT_EQ(MustCall(L"Receive", {3000}).bytes(), Bytes(c.size, 1));
    ASSERT_TRUE(host::Pump([&] { return onReceived.calls.size() + 1 >= c.answers; }, 3000));
    for (size_t i = 0; i < onReceived.calls.size(); ++i)
      EXPECT_EQ(onReceived.calls[i][2].bytes(), Bytes(c.size, static_cast<unsigned char>(i + 2)));
    EXPECT_EQ(onReceived.calls.size(), c.answers - 1u);
    EXPECT_EQ(Get(L"Queued").i4(), 0);
    EXPECT_EQ(Get(L"Dropped").i4(), 0);
  }
}

// A sink with no Received handler (a script's sink with only WsError written answers that it
// lacks the member) takes no datagram: they are kept for Receive as if no sink were connected.
TEST_F(UdpSocketTest, ASinkWithoutAReceivedHandlerLeavesTheDatagramsToReceive) {
  struct ErrorsOnlySink : EventSink {
    HRESULT lacks;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* info, UINT* argErr) override {
      if (id == kReceived) return lacks;
      return EventSink::Invoke(id, iid, lcid, flags, params, result, info, argErr);
    }
  };
  for (const HRESULT lacks : {DISP_E_MEMBERNOTFOUND, DISP_E_UNKNOWNNAME}) {
    SCOPED_TRACE(lacks);
    ErrorsOnlySink errorsOnly;
    errorsOnly.lacks = lacks;
    events_.reset();
    MustCall(L"Close");
    events_ = host::AdviseEvents(socket_.get(), &errorsOnly);
    MustCall(L"Open", {L"0"});
    const u_short port = BoundPortOf(socket_.get());
    PeerSocket peer;
    for (unsigned char i = 1; i <= 3; ++i) ASSERT_TRUE(peer.SendTo(port, {i}));
    ASSERT_TRUE(host::Pump([&] { return Get(L"Queued").i4() == 3; }, 3000));
    for (unsigned char i = 1; i <= 3; ++i) EXPECT_EQ(MustCall(L"Receive", {0}).bytes(), Bytes{i});
    EXPECT_EQ(Get(L"Dropped").i4(), 0);
    events_.reset();
  }
}

// Type information that cannot be loaded (no memory for the module's path, the library not
// registered) is an error the caller gets, never an exception that ends the host's process.
TEST(UdpSocketAbi, TypeInformationThatCannotBeLoadedIsAnErrorForTheCaller) {
  ::UnRegisterTypeLib(LIBID_UDPLib, 1, 0, LOCALE_NEUTRAL, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  fw::com_ptr<IDispatch> socket;
  ASSERT_EQ(server::CreateUdpSocket(IID_IDispatch, socket.put_void()), S_OK);
  fw::com_ptr<ITypeInfo> info;
  host::FailNextAllocation();
  EXPECT_EQ(socket->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), E_OUTOFMEMORY);
  auto classInfo = socket.query<IProvideClassInfo2>(IID_IProvideClassInfo2);
  ASSERT_TRUE(classInfo);
  host::FailNextAllocation();
  EXPECT_EQ(classInfo->GetClassInfo(info.put()), E_OUTOFMEMORY);
  // A named locale falls back to the object's own names.
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Receive")};
  DISPID id = DISPID_UNKNOWN;
  host::FailNextAllocation();
  EXPECT_EQ(socket->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, UDP_DISPID(Receive));
}

WNDPROC g_staticProc = nullptr;
LRESULT CALLBACK NeverIdleProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP) ::PostMessageW(w, WM_APP, 0, 0);
  return ::CallWindowProcW(g_staticProc, w, m, wp, lp);
}

// Wait and Receive keep their time whatever else the thread receives, and leave the messages
// posted to the thread itself for the host's own loop.
TEST_F(UdpSocketTest, DeadlinesHoldAndThreadMessagesAreLeftForTheHost) {
  OpenAndWaitReady();
  constexpr UINT kMarker = WM_APP + 7;
  // A window that is never idle: each message it handles posts the next.
  const HWND busy = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
  ASSERT_NE(busy, nullptr);
  g_staticProc = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(busy, GWLP_WNDPROC));
  ::SetWindowLongPtrW(busy, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NeverIdleProc));
  for (const wchar_t* member : {L"Wait", L"Receive"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(member)));
    ::PostThreadMessageW(::GetCurrentThreadId(), kMarker, 42, 0);
    ::PostMessageW(busy, WM_APP, 0, 0);
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(Call(member, {200}).hr, S_OK);
    EXPECT_LT(::GetTickCount64() - start, 2000u);
    MSG msg;
    EXPECT_TRUE(::PeekMessageW(&msg, nullptr, kMarker, kMarker, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 42u);
  }
  ::DestroyWindow(busy);
}

TEST_F(UdpSocketTest, TextHelpersConvertInEachCodePageAndBack) {
  const std::wstring mixed = L"h\u00e9 \u65e5\u672c \U0001F600";  // beyond any ANSI code page
  const Bytes utf8 = {'h',  0xC3, 0xA9, ' ',  0xE6, 0x97, 0xA5, 0xE6,
                      0x9C, 0xAC, ' ',  0xF0, 0x9F, 0x98, 0x80};
  const Bytes utf16 = {'h',  0,    0xE9, 0, ' ',  0,    0xE5, 0x65,
                       0x2C, 0x67, ' ',  0, 0x3D, 0xD8, 0x00, 0xDE};
  // The system's ANSI code page may lack the accent; what it makes of it is its own affair.
  char ansi[8] = {};
  const int ansiLength =
      ::WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9", 4, ansi, 8, nullptr, nullptr);
  const struct {
    std::wstring text;
    Var codePage;
    Bytes bytes;
    bool roundTrips;
  } cases[] = {
      {mixed, Var::Missing(), utf8, true},
      {mixed, 65001, utf8, true},
      {mixed, 1200, utf16, true},
      {L"caf\u00e9", 0, Bytes(ansi, ansi + ansiLength), ansi[3] != '?'},
      {L"", 65001, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(MustCall(L"TextToBytes", {c.text, c.codePage}).bytes(), c.bytes);
    if (c.roundTrips) {
      EXPECT_EQ(MustCall(L"BytesToText", {Var::Bytes(c.bytes), c.codePage}).text(), c.text);
    }
  }
  // Data as SendTo takes it: any lower bound, or the bytes a string holds.
  EXPECT_EQ(MustCall(L"BytesToText", {Var::Bytes({'h', 'i'}, 1)}).text(), L"hi");
  EXPECT_EQ(MustCall(L"BytesToText", {L"hi", 1200}).text(), L"hi");
}

TEST_F(UdpSocketTest, CallbacksRunAfterTheSinksAndAFailingOneIsIgnored) {
  std::vector<std::string> order;
  Callback& ready = callbacks_.emplace_back();
  Callback& received = callbacks_.emplace_back();
  ready.status = E_FAIL;
  received.onCall = [&] { order.push_back("callback"); };
  sink_.handler = [&](const Event& e, DISPPARAMS*) {
    if (e.id == kReceived) order.push_back("sink");
  };
  Put(L"OnReady", ready.AsVar());
  Put(L"OnReceived", received.AsVar());
  EXPECT_EQ(Get(L"OnReceived").vt(), VT_DISPATCH);

  const u_short port = OpenAndWaitReady();
  EXPECT_EQ(ready.calls.size(), 1u);
  EXPECT_TRUE(ready.calls[0].empty());
  PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {0x07}));
  ASSERT_TRUE(Wait(3000));
  ASSERT_EQ(received.calls.size(), 1u);
  EXPECT_EQ(received.calls[0][0].text(), host::kLoopbackText);
  EXPECT_EQ(received.calls[0][1].text(), SignedPortText(peer.port()));
  EXPECT_EQ(received.calls[0][2].bytes(), Bytes{0x07});
  EXPECT_EQ(order, (std::vector<std::string>{"sink", "callback"}));

  // Nothing removes it.
  VARIANT nothing;
  V_VT(&nothing) = VT_DISPATCH;
  V_DISPATCH(&nothing) = nullptr;
  Put(L"OnReceived", Var(nothing));
  ASSERT_TRUE(peer.SendTo(port, {0x08}));
  ASSERT_TRUE(Wait(3000));
  EXPECT_EQ(received.calls.size(), 1u);
  EXPECT_EQ(sink_.Count(kReceived), 2);
}

TEST_F(UdpSocketTest, ATrueResultOfOnWsErrorCancelsTheClose) {
  const struct {
    Var result;
    bool staysOpen;
  } cases[] = {{Var(true), true}, {Var(false), false}, {Var(), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.staysOpen);
    sink_.Clear();
    Callback& onError = callbacks_.emplace_back();
    onError.result = c.result;
    MustCall(L"Close");  // which releases the callbacks
    Put(L"OnWsError", onError.AsVar());
    sink_.Clear();
    OpenAndWaitReady();
    // An unknown service fails in its look-up's completion: a failure outside any call.
    MustCall(L"SendTo", {host::kLoopbackText, L"no-such-service", Var::Bytes({1})});
    ASSERT_TRUE(Wait(3000));
    ASSERT_EQ(onError.calls.size(), 1u);
    EXPECT_EQ(onError.calls[0][1].text(), kWinsockMessage);
    EXPECT_EQ(onError.calls[0][2].text(), L"OnAsyncGetServByName()");
    EXPECT_EQ(Get(L"Socket").i4() != -1, c.staysOpen);
    EXPECT_EQ(sink_.Count(kClosed), c.staysOpen ? 0 : 1);
  }
}

// Inside one of its own handlers Wait and Receive wait for real: the datagrams keep arriving, a
// Receive takes the next one, and the object's other events wait until the handler returns.
TEST_F(UdpSocketTest, InsideItsOwnHandlerWaitAndReceiveWaitWhileItsEventsWait) {
  const u_short port = OpenAndWaitReady();
  PeerSocket peer;
  CallResult received;
  bool waited = true;
  ULONGLONG waitedMs = 0;
  int depth = 0, deepest = 0;
  sink_.handler = [&](const Event& e, DISPPARAMS*) {
    deepest = std::max(deepest, ++depth);
    if (e.id == kReceived && sink_.Count(kReceived) == 1) {
      ASSERT_TRUE(peer.SendTo(port, {0x02}));
      received = Call(L"Receive", {3000});
      MustCall(L"SendTo", {host::kLoopbackText, std::to_wstring(peer.port()), Var::Bytes({5})});
      const ULONGLONG start = ::GetTickCount64();
      waited = Wait(100);  // Sent is held for this handler: nothing new comes to it
      waitedMs = ::GetTickCount64() - start;
    }
    --depth;
  };
  ASSERT_TRUE(peer.SendTo(port, {0x01}));
  ASSERT_TRUE(host::Pump([&] { return sink_.Count(kSent) == 1; }, 3000));
  EXPECT_EQ(received.hr, S_OK);
  EXPECT_EQ(received.value.bytes(), Bytes{0x02});
  EXPECT_TRUE(waited) << "the sent datagram is news even while its event waits";
  EXPECT_LT(waitedMs, 100u);
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(sink_.Order(), (std::vector<DISPID>{kReady, kReceived, kSent}));
}

// Failures outside a call never show a box: they reach WsError with their place and close the
// port. Here the deferred bind of a service whose port is taken, and a notification the sockets
// layer does not define.
TEST_F(UdpSocketTest, FailuresOutsideACallReachWsErrorWithoutAMessageBox) {
  const u_short servicePort = host::ServicePort("remote-winsock");
  ASSERT_NE(servicePort, 0);
  PeerSocket taken(servicePort);
  MustCall(L"Open", {L"remote-winsock"});
  ASSERT_TRUE(host::Pump([&] { return sink_.Count(kClosed) == 1; }, 3000));
  auto errors = sink_.Of(kWsError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].args[0].i4(), WSAEADDRINUSE);
  EXPECT_EQ(errors[0].args[2].text(), L"OnAsyncGetLocalServByName()");

  sink_.Clear();
  OpenAndWaitReady();
  const HWND window = host::SocketWindowOfThisThread();
  ASSERT_NE(window, nullptr);
  ::PostMessageW(window, WM_USER + 1, static_cast<WPARAM>(Get(L"Socket").i4()), 0x40);
  ASSERT_TRUE(host::Pump([&] { return sink_.Count(kClosed) == 1; }, 3000));
  errors = sink_.Of(kWsError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].args[2].text(), L"OnSocketEvent2()");
}

// A callback that refers to the object makes a cycle no script collector sees: the port's close
// breaks it, once OnClosed has run.
TEST_F(UdpSocketTest, CallbacksAreReleasedWhenThePortCloses) {
  struct SelfReferring final : Callback {
    fw::com_ptr<IDispatch> object;
    ULONG refs = 1;
    bool* gone;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override {
      if (--refs) return refs;
      *gone = true;
      delete this;
      return 0;
    }
  };
  bool gone = false;
  auto* closed = new SelfReferring;
  closed->gone = &gone;
  closed->object = socket_;
  Put(L"OnClosed", Var::Object(closed));
  closed->Release();
  OpenAndWaitReady();
  MustCall(L"Close");
  EXPECT_TRUE(gone);
  EXPECT_EQ(V_DISPATCH(Get(L"OnClosed").get()), nullptr);
}

TEST_F(UdpSocketTest, BadInputsAreRefusedWithTheControlsCodes) {
  const struct {
    const wchar_t* name;
    WORD flags;
    std::vector<Var> args;
    SCODE scode;
  } cases[] = {
      {L"Wait", DISPATCH_METHOD, {-1}, kScodeBadArgument},
      {L"Receive", DISPATCH_METHOD, {-5}, kScodeBadArgument},
      {L"Receive", DISPATCH_METHOD, {}, kScodeNotOpen},
      {L"TextToBytes", DISPATCH_METHOD, {L"a", 1234}, kScodeBadArgument},
      {L"BytesToText", DISPATCH_METHOD, {5}, kScodeBadArgument},
      {L"BytesToText", DISPATCH_METHOD, {Var::Bytes({'a'}), 932}, kScodeBadArgument},
      {L"BytesToText", DISPATCH_METHOD, {Var::Bytes({'a'}), 1200}, kScodeBadArgument},
      {L"OnReady", DISPATCH_PROPERTYPUT, {L"not callable"}, kScodeBadArgument},
      // The control's own members keep their errors.
      {L"SendTo", DISPATCH_METHOD, {host::kLoopbackText, L"7", Var::Bytes({1})}, kScodeNotOpen},
      {L"Socket", DISPATCH_PROPERTYPUT, {5}, kScodeSetNotSupported},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    const CallResult r = host::Invoke(socket_.get(), c.name, c.flags, c.args);
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, c.scode);
    if (c.scode == kScodeBadArgument) {
      EXPECT_EQ(r.description, host::kBadArgumentMessage);
    }
  }
}

TEST_F(UdpSocketTest, RegistrationWritesBothProgIdsAndUnregistrationRemovesThem) {
  using container::ReadRegString;
  const HKEY root = HKEY_CLASSES_ROOT;
  wchar_t text[40];
  ::StringFromGUID2(CLSID_UdpSocket, text, 40);
  const std::wstring clsid = text, cls = L"CLSID\\" + clsid;
  ::StringFromGUID2(LIBID_UDPLib, text, 40);
  const std::wstring libId = text;
  wchar_t shortPath[MAX_PATH] = {};
  ASSERT_NE(::GetShortPathNameW(server_->path.c_str(), shortPath, MAX_PATH), 0u);
  const struct {
    std::wstring key;
    const wchar_t* value;
    std::wstring expected;
  } values[] = {
      {L"UDP.UdpSocket.1\\CLSID", nullptr, clsid},
      {L"UDP.UdpSocket\\CLSID", nullptr, clsid},
      {L"UDP.UdpSocket\\CurVer", nullptr, L"UDP.UdpSocket.1"},
      {cls + L"\\ProgID", nullptr, L"UDP.UdpSocket.1"},
      {cls + L"\\VersionIndependentProgID", nullptr, L"UDP.UdpSocket"},
      {cls + L"\\InprocServer32", nullptr, shortPath},
      {cls + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {cls + L"\\TypeLib", nullptr, libId},
      {cls + L"\\Version", nullptr, L"1.0"},
  };
  for (const auto& v : values)
    EXPECT_EQ(ReadRegString(root, v.key, v.value), v.expected) << testing::PrintToString(v.key);
  socket_.reset();
  events_.reset();
  ASSERT_EQ(server_->UnregisterServer(), S_OK);
  for (const auto& key : {cls, std::wstring(L"UDP.UdpSocket"), std::wstring(L"UDP.UdpSocket.1")})
    EXPECT_FALSE(container::KeyExists(root, key)) << testing::PrintToString(key);
}

}  // namespace

TEST_F(UdpSocketTest, ToAddressIsThatOfTheDatagramReceiveLastReturned) {
  EXPECT_EQ(Get(L"ToAddress").text(), L"");
  const u_short port = OpenAndWaitReady();
  Host sender;
  host::OpenAndWaitReady(sender);
  for (const wchar_t* destination : {L"127.0.0.2", L"127.0.0.1"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(destination)));
    sender.MustCall(L"SendTo", {destination, PortText(port), Var::Bytes({3})});
    EXPECT_EQ(MustCall(L"Receive", {3000}).bytes(), Bytes{3});
    EXPECT_EQ(Get(L"ToAddress").text(), destination);
    EXPECT_GT(Get(L"ToInterface").i4(), 0);
  }
}
