// Windows Sockets start-up as the control sees it: the facts it keeps and the failures it reports.
#include <gtest/gtest.h>

#include "support/host.h"
#include "support/inside.h"
#include "support/winsock_fault.h"

using host::Host;
using host::Inside;
using host::Var;
using host::WinsockPatch;

namespace {

// Start-up outcomes a sockets implementation might give.
int g_startupError = 0;
WORD g_version = 0x0101;
unsigned short g_maxUdp = 0;
int g_startups = 0, g_cleanups = 0;

int PASCAL FailingStartup(WORD, LPWSADATA) { return g_startupError; }
int PASCAL OtherVersionStartup(WORD v, LPWSADATA data) {
  int r = udp::SystemWinsock().WSAStartup(v, data);
  ++g_startups;
  data->wVersion = g_version;
  return r;
}
int PASCAL LimitedStartup(WORD v, LPWSADATA data) {
  int r = udp::SystemWinsock().WSAStartup(v, data);
  data->iMaxUdpDg = g_maxUdp;
  return r;
}
int PASCAL CountingCleanup() {
  ++g_cleanups;
  return udp::SystemWinsock().WSACleanup();
}
int PASCAL FailingGethostname(char*, int) { return SOCKET_ERROR; }
int PASCAL NetworkDownError() { return WSAENETDOWN; }

}  // namespace

TEST(Startup, KeepsTheImplementationFacts) {
  Host h;
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"WinsockVer").text(), L"1.1");
  EXPECT_EQ(h.MustGet(L"WinsockMaxDatagram").text(), L"65467");
  EXPECT_EQ(Inside(h).ReceiveBufferSize(), 65467);
  EXPECT_FALSE(h.MustGet(L"LocalHost").text().empty());
  EXPECT_FALSE(h.MustGet(L"WinsockDesc").text().empty());
}

TEST(Startup, FailedStartupRecordsTheErrorAndLeavesTheControlClosed) {
  WinsockPatch ws;
  g_startupError = WSASYSNOTREADY;
  ws->WSAStartup = FailingStartup;
  Host h(Host::Init::None);
  // Automation waits for the initialisation; the control's own members answer before it.
  const Inside inside(h);
  // No sink could see the WsError; the automatic close then brought State back to 0.
  EXPECT_EQ(inside.State(), 0);
  EXPECT_EQ(inside.LastError(), WSASYSNOTREADY);
  EXPECT_EQ(inside.WsaError(), WSASYSNOTREADY);
  EXPECT_TRUE(inside.endpoint().GetWinsockVer().empty());
  EXPECT_TRUE(inside.endpoint().GetWinsockDesc().empty());
  EXPECT_TRUE(inside.endpoint().GetLocalHost().empty());
  // The reset that follows gives LastError its default.
  fw::com_ptr<IPersistStreamInit> persist;
  h.dispatch()->QueryInterface(IID_IPersistStreamInit, persist.put_void());
  ASSERT_EQ(persist->InitNew(), S_OK);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
}

TEST(Startup, OtherVersionIsUndoneAndReported) {
  WinsockPatch ws;
  g_version = 0x0202;
  g_startups = g_cleanups = 0;
  ws->WSAStartup = OtherVersionStartup;
  ws->WSACleanup = CountingCleanup;
  {
    Host h(Host::Init::None);
    const Inside inside(h);
    EXPECT_EQ(g_startups, 1);
    EXPECT_EQ(g_cleanups, 1);  // undone at once
    EXPECT_TRUE(inside.endpoint().GetWinsockVer().empty());
    EXPECT_EQ(inside.State(), 0);
  }
  // Destruction does not clean up a second time.
  EXPECT_EQ(g_cleanups, 1);
}

TEST(Startup, ReceiveBufferFollowsTheReportedMaximum) {
  struct Case {
    unsigned short reported;
    LONG buffer;
    const wchar_t* text;
  } cases[] = {{0, 65467, L"0"},
               {100, 512, L"100"},
               {511, 512, L"511"},
               {512, 512, L"512"},
               {8192, 8192, L"8192"}};
  for (const auto& c : cases) {
    WinsockPatch ws;
    g_maxUdp = c.reported;
    ws->WSAStartup = LimitedStartup;
    Host h;
    EXPECT_EQ(Inside(h).ReceiveBufferSize(), c.buffer) << c.reported;
    EXPECT_EQ(h.MustGet(L"WinsockMaxDatagram").text(), c.text) << c.reported;
  }
}

TEST(Startup, HostNameFailureLeavesTheControlWorking) {
  WinsockPatch ws;
  ws->gethostname = FailingGethostname;
  ws->WSAGetLastError = NetworkDownError;
  Host h;
  ws->WSAGetLastError = udp::SystemWinsock().WSAGetLastError;
  EXPECT_TRUE(h.MustGet(L"LocalHost").text().empty());
  EXPECT_EQ(Inside(h).WsaError(), WSAENETDOWN);
  EXPECT_EQ(h.MustGet(L"WinsockVer").text(), L"1.1");
  // Everything that needs no host name still works.
  h.MustCall(L"Open", {L"0"});
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  ASSERT_TRUE(host::WaitForReady(h));
  h.MustCall(L"Close");
}

TEST(Startup, FailedStartupMakesOpenFailWithTheSocketError) {
  // Windows Sockets counts start-ups per process: without one, socket() reports WSANOTINITIALISED.
  WinsockPatch ws;
  g_startupError = WSAVERNOTSUPPORTED;
  ws->WSAStartup = FailingStartup;
  Host h;
  auto r = h.Call(L"Open", {L"0"});
  ASSERT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, host::WinsockScode(WSANOTINITIALISED));
  EXPECT_EQ(r.description, host::kWinsockMessage);
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSANOTINITIALISED);
}
