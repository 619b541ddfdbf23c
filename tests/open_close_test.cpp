// Opening and closing the endpoint, and what Socket shows.
#include <gtest/gtest.h>

#include <string>

#include "control/udp_ctrl.h"
#include "support/host.h"
#include "support/inside.h"
#include "support/winsock_fault.h"

using host::Host;
using host::kReady;
using host::kWinsockMessage;
using host::Var;
using host::WinsockPatch;
using host::WinsockScode;

namespace {

// The address the open socket is bound to, asked of the sockets layer itself.
bool BoundAddress(Host& h, sockaddr_in& out) {
  int length = sizeof out;
  out = {};
  return ::getsockname(static_cast<SOCKET>(h.MustGet(L"Socket").i4()),
                       reinterpret_cast<sockaddr*>(&out), &length) == 0;
}

int PASCAL FailingBind(SOCKET, const sockaddr*, int) { return SOCKET_ERROR; }
int PASCAL AddressInUse() { return WSAEADDRINUSE; }

}  // namespace

TEST(OpenClose, SocketReadsMinusOneUntilOpenAndAfterClose) {
  Host h;
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
  h.MustCall(L"Open", {L""});
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  h.MustCall(L"Close");
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
}

TEST(OpenClose, EmptyOrZeroPortLetsTheSystemChoose) {
  for (const wchar_t* text : {L"", L"0"}) {
    Host h;
    h.MustCall(L"Open", {text});
    sockaddr_in bound;
    ASSERT_TRUE(BoundAddress(h, bound)) << "unbound for '" << text << "'";
    EXPECT_NE(bound.sin_port, 0);
    EXPECT_EQ(bound.sin_addr.s_addr, INADDR_ANY);
    ASSERT_TRUE(h.WaitForEvents(host::kReady, 1));
    EXPECT_EQ(h.sink().Count(host::kReady), 1);
  }
}

TEST(OpenClose, NumericPortTextsBindAtOnce) {
  const u_short port = host::FreeUdpPort();
  const std::wstring n = std::to_wstring(port);
  // A leading number is enough, and a long zero-padded text is read whole, not cut short.
  for (const std::wstring& text : {n, n + L"ab", std::wstring(20, L'0') + n}) {
    Host h;
    h.MustCall(L"Open", {text});
    sockaddr_in bound;
    ASSERT_TRUE(BoundAddress(h, bound));
    EXPECT_EQ(::ntohs(bound.sin_port), port) << std::string(text.begin(), text.end());
    h.MustCall(L"Close");
  }
}

TEST(OpenClose, ServiceNameLeavesTheBindToTheLookUp) {
  Host h;
  h.MustCall(L"Open", {L"echo"});
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  const host::Inside inside(h);
  EXPECT_TRUE(inside.BindPending());
  EXPECT_TRUE(inside.LocalServiceLookupOutstanding());
  h.MustCall(L"Close");
  EXPECT_FALSE(inside.LocalServiceLookupOutstanding());
}

TEST(OpenClose, SecondOpenIsRefusedAndKeepsTheFirstEndpoint) {
  Host h;
  h.MustCall(L"Open", {L"0"});
  const LONG socket = h.MustGet(L"Socket").i4();
  auto r = h.Call(L"Open", {L"0"});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, host::kScodeAlreadyOpen);
  EXPECT_EQ(r.description, host::kAlreadyOpenMessage);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), socket);
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
}

TEST(OpenClose, FailedBindIsThrownAndAnotherOpenMayFollow) {
  Host h;
  {
    WinsockPatch ws;
    ws->bind = FailingBind;
    ws->WSAGetLastError = AddressInUse;
    auto r = h.Call(L"Open", {L"0"});
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, host::WinsockScode(WSAEADDRINUSE));
    EXPECT_EQ(r.description, kWinsockMessage);
  }
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAEADDRINUSE);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
  h.MustCall(L"Open", {L"0"});
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
}

TEST(OpenClose, PortInUseFailsTheOpen) {
  host::PeerSocket holder;  // bound to 127.0.0.1
  Host h;
  auto r = h.Call(L"Open", {std::to_wstring(holder.port())});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, host::WinsockScode(WSAEADDRINUSE));
  EXPECT_EQ(r.description, kWinsockMessage);
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAEADDRINUSE);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
}

TEST(OpenClose, CloseTwiceRaisesOneClosed) {
  Host h;
  h.MustCall(L"Open", {L"0"});
  h.MustCall(L"Close");
  h.MustCall(L"Close");
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(host::kClosed), 1);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
}

TEST(OpenClose, ClosedHandlerMayOpenAgain) {
  Host h;
  h.sink().handler = [&](const host::Event& e, DISPPARAMS*) {
    if (e.id == host::kClosed && h.sink().Count(host::kClosed) == 1) h.MustCall(L"Open", {L"0"});
  };
  h.MustCall(L"Open", {L"0"});
  h.MustCall(L"Close");
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
  // Each endpoint raises Ready once.
  ASSERT_TRUE(h.WaitForEvents(host::kReady, 1));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(host::kReady), 1);
}

TEST(OpenClose, NotificationsWhileClosedChangeNothing) {
  Host h;
  ::PostMessageW(h.Window(), udp::kMsgSocketNotify, 0, FD_READ);
  ::PostMessageW(h.Window(), udp::kMsgSocketNotify, 0, WSAMAKESELECTREPLY(FD_WRITE, WSAENETDOWN));
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_TRUE(h.sink().events.empty());
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
}

// Windows refuses to bind an address that is not one of the machine's (WSAEADDRNOTAVAIL); Wine's
// sockets layer binds any address, so the refusal is the stack's part played by the seam here.
unsigned long g_boundAddress = 0;
int PASCAL BindOnlyLocalAddresses(SOCKET s, const sockaddr* address, int length) {
  g_boundAddress = reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
  if (g_boundAddress != INADDR_ANY && g_boundAddress != ::inet_addr(host::kLoopback)) {
    ::WSASetLastError(WSAEADDRNOTAVAIL);
    return SOCKET_ERROR;
  }
  return udp::SystemWinsock().bind(s, address, length);
}

TEST(OpenClose, LocalAddressOfAnotherHostFailsTheBind) {
  struct Case {
    const wchar_t* address;
    unsigned long bound;  // what reaches bind
  } cases[] = {{L"203.0.113.77", ::inet_addr("203.0.113.77")}, {L"not-an-address", INADDR_NONE}};
  for (const auto& c : cases) {
    host::WinsockPatch ws;
    ws->bind = BindOnlyLocalAddresses;
    Host h;
    h.MustPut(L"LocalAddress", c.address);
    auto r = h.Call(L"Open", {L"0"});
    EXPECT_EQ(g_boundAddress, c.bound);
    ASSERT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, host::WinsockScode(WSAEADDRNOTAVAIL));
    EXPECT_EQ(r.description, kWinsockMessage);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAEADDRNOTAVAIL);
    EXPECT_EQ(h.MustGet(L"State").i2(), 9);
    EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
    // Another Open may follow at once.
    h.MustPut(L"LocalAddress", host::kLoopbackText);
    h.MustCall(L"Open", {L"0"});
    EXPECT_EQ(h.MustGet(L"State").i2(), 1);
    EXPECT_EQ(g_boundAddress, ::inet_addr(host::kLoopback));
  }
}
