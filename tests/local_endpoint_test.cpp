// LocalIp, LocalPort, LocalAddress, LocalHost and HostIp.
#include <gtest/gtest.h>
#include <ocidl.h>

#include <string>

#include "control/udp_ctrl.h"
#include "framework/text.h"
#include "support/host.h"
#include "support/winsock_fault.h"

using host::Host;
using host::kScodeSetNotSupported;
using host::kWinsockMessage;
using host::Var;
using host::WinsockScode;

namespace {

bool IsDotted(const std::wstring& text) {
  return !text.empty() && ::inet_addr(fw::AnsiFromWide(text).c_str()) != INADDR_NONE;
}

int g_sockets = 0;
SOCKET PASCAL CountingSocket(int af, int type, int protocol) {
  SOCKET s = udp::SystemWinsock().socket(af, type, protocol);
  if (s != INVALID_SOCKET) ++g_sockets;
  return s;
}
int PASCAL CountingClose(SOCKET s) {
  --g_sockets;
  return udp::SystemWinsock().closesocket(s);
}
int PASCAL UnreachableConnect(SOCKET, const sockaddr*, int) {
  ::WSASetLastError(WSAENETUNREACH);
  return SOCKET_ERROR;
}
int PASCAL AnyAddressName(SOCKET s, sockaddr* address, int* length) {
  int r = udp::SystemWinsock().getsockname(s, address, length);
  reinterpret_cast<sockaddr_in*>(address)->sin_addr.s_addr = 0;
  return r;
}

}  // namespace

TEST(LocalEndpoint, BeforeAnyOpen) {
  Host h;
  EXPECT_EQ(h.MustGet(L"LocalIp").i4(), -1);
  EXPECT_EQ(h.MustGet(L"LocalPort").i2(), -1);
  EXPECT_EQ(h.MustGet(L"LocalAddress").text(), L"");
  char name[256] = {};
  WSADATA data;
  ::WSAStartup(0x0101, &data);
  ASSERT_EQ(::gethostname(name, sizeof name), 0);
  ::WSACleanup();
  EXPECT_EQ(h.MustGet(L"LocalHost").text(), fw::WideFromAnsi(name));
}

TEST(LocalEndpoint, NumericPortReadsInNetworkOrder) {
  Host h;
  auto opened = h.Call(L"Open", {Var(L"5000")});
  if (opened.scode == WinsockScode(WSAEADDRINUSE)) GTEST_SKIP() << "port 5000 is in use";
  ASSERT_EQ(opened.hr, S_OK);
  EXPECT_EQ(h.MustGet(L"LocalPort").i2(), -30701);
  EXPECT_EQ(h.MustGet(L"LocalIp").i4(), 0);
  EXPECT_EQ(h.MustGet(L"LocalAddress").text(), L"255.255.255.255");
}

TEST(LocalEndpoint, MinusOneMeansAnyLocalAddress) {
  Host h;
  h.MustPut(L"LocalAddress", Var(L"-1"));
  EXPECT_EQ(h.MustGet(L"LocalAddress").text(), L"-1");
  EXPECT_EQ(h.MustGet(L"LocalIp").i4(), -1);  // taken only at the next Open
  h.MustCall(L"Open", {Var(L"")});
  EXPECT_EQ(h.MustGet(L"LocalAddress").text(), L"255.255.255.255");
  EXPECT_EQ(h.MustGet(L"LocalIp").i4(), 0);
  EXPECT_EQ(h.MustGet(L"LocalPort").i2(), 0);  // the system chose the port
}

TEST(LocalEndpoint, DottedLocalAddressIsBoundAndRecorded) {
  Host h;
  h.MustPut(L"LocalAddress", Var(host::kLoopbackText));
  h.MustCall(L"Open", {Var(L"")});
  EXPECT_EQ(h.MustGet(L"LocalIp").i4(), 0x0100007F);
  EXPECT_EQ(h.MustGet(L"LocalAddress").text(), host::kLoopbackText);
}

TEST(LocalEndpoint, SettingLocalAddressWhileOpenLeavesTheEndpointAndMarksModified) {
  Host h;
  h.MustCall(L"Open", {Var(L"")});
  fw::com_ptr<IPersistStreamInit> persist;
  h.unknown()->QueryInterface(IID_IPersistStreamInit, persist.put_void());
  fw::com_ptr<IStream> stream;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
  ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
  h.MustPut(L"LocalAddress", Var(host::kLoopbackText));
  EXPECT_EQ(persist->IsDirty(), S_OK);
  EXPECT_EQ(h.MustGet(L"LocalIp").i4(), 0);
  EXPECT_EQ(h.MustGet(L"LocalAddress").text(), host::kLoopbackText);
  h.MustPut(L"LocalAddress", Var(L""));
  EXPECT_EQ(h.MustGet(L"LocalAddress").text(), L"");
}

TEST(LocalEndpoint, ReadOnlyPropertiesRefuseAPut) {
  Host h;
  for (const wchar_t* name : {L"LocalIp", L"LocalPort", L"LocalHost"}) {
    SCOPED_TRACE(testing::Message() << fw::AnsiFromWide(name));
    const Var before = h.MustGet(name);
    auto r = h.Put(name, name == std::wstring(L"LocalHost") ? Var(L"x") : Var(5));
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, kScodeSetNotSupported);
    EXPECT_EQ(r.description, L"");
  }
  EXPECT_EQ(h.MustGet(L"LocalIp").i4(), -1);
}

TEST(LocalEndpoint, HostIpOfLoopbackTargets) {
  Host h;
  EXPECT_EQ(h.MustCall(L"HostIp", {Var(host::kLoopbackText)}).text(), host::kLoopbackText);
  EXPECT_EQ(h.MustCall(L"HostIp", {Var(L"localhost")}).text(), host::kLoopbackText);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
}

TEST(LocalEndpoint, HostIpWithoutATargetProbesTheDefaultRoute) {
  g_sockets = 0;
  host::WinsockPatch seam;
  seam->socket = CountingSocket;
  seam->closesocket = CountingClose;
  Host h;
  auto r = h.Call(L"HostIp", {Var(L"")});
  if (r.scode == WinsockScode(WSAENETUNREACH)) GTEST_SKIP() << "no default route here";
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_TRUE(IsDotted(r.value.text())) << fw::AnsiFromWide(r.value.text());
  EXPECT_NE(r.value.text(), L"0.0.0.0");
  EXPECT_EQ(g_sockets, 0);  // the probe socket is closed again
}

TEST(LocalEndpoint, HostIpFailuresAreThrownWithLastError) {
  Host h;
  auto unknown = h.Call(L"HostIp", {Var(L"no-such-host.invalid")});
  EXPECT_EQ(unknown.hr, DISP_E_EXCEPTION);
  EXPECT_NE(h.MustGet(L"LastError").i4(), 0);
  EXPECT_EQ(unknown.scode, WinsockScode(h.MustGet(L"LastError").i4()));
  EXPECT_EQ(unknown.description, kWinsockMessage);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);

  g_sockets = 0;
  host::WinsockPatch seam;
  seam->socket = CountingSocket;
  seam->closesocket = CountingClose;
  seam->connect = UnreachableConnect;
  auto unreachable = h.Call(L"HostIp", {Var(host::kLoopbackText)});
  EXPECT_EQ(unreachable.scode, WinsockScode(WSAENETUNREACH));
  EXPECT_EQ(unreachable.description, kWinsockMessage);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENETUNREACH);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(g_sockets, 0);
  EXPECT_TRUE(h.sink().events.empty());
}

TEST(LocalEndpoint, HostIpFallsBackToTheHostsOwnAddress) {
  WSADATA data;
  ::WSAStartup(0x0101, &data);
  char name[200] = {};
  ASSERT_EQ(::gethostname(name, sizeof name), 0);
  const hostent* own = ::gethostbyname(name);
  ASSERT_NE(own, nullptr);
  const std::wstring expected =
      fw::WideFromAnsi(::inet_ntoa(*reinterpret_cast<in_addr*>(own->h_addr_list[0])));
  ::WSACleanup();
  host::WinsockPatch seam;
  seam->getsockname = AnyAddressName;
  Host h;
  EXPECT_EQ(h.MustCall(L"HostIp", {Var(host::kLoopbackText)}).text(), expected);
}
