// The read-only facts: the banner, the interface version, and the five Windows Sockets texts made
// once at creation from the start-up record (empty when the start-up failed or was refused).
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "control/udp_ctrl.h"
#include "framework/text.h"
#include "support/host.h"
#include "support/options_seam.h"
#include "support/trace.h"

using host::Host;
using host::Var;

namespace {

const wchar_t* const kWinsockTexts[] = {L"WinsockVer", L"WinsockDesc", L"WinsockSysStat",
                                        L"WinsockMaxSockets", L"WinsockMaxDatagram"};

std::wstring Text(Host& h, const wchar_t* name, const host::Where& where = host::Where::current()) {
  const host::CallerTrace trace(where);
  Var v = h.MustGet(name);
  EXPECT_EQ(v.vt(), VT_BSTR) << "property " << testing::PrintToString(std::wstring(name));
  return v.text();
}

std::wstring Unsigned(unsigned value) { return std::to_wstring(value); }

// The start-up record that the next control receives; the real start-up still happens, so the
// process's start-up count stays balanced.
struct StartupFake {
  WORD version = 0x0101;
  unsigned short maxSockets = 0;
  unsigned short maxUdpDg = 0;
  const char* description = "";
  const char* status = "";
  int failWith = 0;  // when nonzero, the start-up fails with it and starts nothing
};
StartupFake g_fake;
udp::WinsockApi g_real;
int g_startups = 0;
int g_cleanups = 0;

int PASCAL FakeStartup(WORD requested, LPWSADATA data) {
  ++g_startups;
  if (g_fake.failWith) return g_fake.failWith;
  const int r = g_real.WSAStartup(requested, data);
  if (r != 0) return r;
  data->wVersion = g_fake.version;
  data->iMaxSockets = g_fake.maxSockets;
  data->iMaxUdpDg = g_fake.maxUdpDg;
  std::snprintf(data->szDescription, sizeof data->szDescription, "%s", g_fake.description);
  std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "%s", g_fake.status);
  return 0;
}

int PASCAL CountingCleanup() {
  ++g_cleanups;
  return g_real.WSACleanup();
}

class FakedStartup : public testing::Test {
 protected:
  void SetUp() override {
    g_fake = {};
    g_startups = g_cleanups = 0;
    g_real = patch_.original();
    patch_.api().WSAStartup = FakeStartup;
    patch_.api().WSACleanup = CountingCleanup;
  }
  host::WinsockPatch patch_;
};

}  // namespace

TEST(Information, WinsockTextsShowWhatTheSystemReportedAtStartUp) {
  WSADATA expected = {};
  ASSERT_EQ(::WSAStartup(0x0101, &expected), 0);
  ::WSACleanup();
  Host h;
  EXPECT_EQ(Text(h, L"WinsockVer"), L"1.1");
  EXPECT_EQ(Text(h, L"WinsockDesc"), fw::WideFromAnsi(expected.szDescription));
  EXPECT_EQ(Text(h, L"WinsockSysStat"), fw::WideFromAnsi(expected.szSystemStatus));
  EXPECT_EQ(Text(h, L"WinsockMaxSockets"), Unsigned(expected.iMaxSockets));
  EXPECT_EQ(Text(h, L"WinsockMaxDatagram"), Unsigned(expected.iMaxUdpDg));
  EXPECT_FALSE(Text(h, L"WinsockDesc").empty());
  // Fixed for the control's life: opening and closing changes none of them.
  const std::wstring before = Text(h, L"WinsockMaxDatagram");
  h.MustCall(L"Open", {Var(L"0")});
  h.MustCall(L"Close");
  EXPECT_EQ(Text(h, L"WinsockMaxDatagram"), before);
}

TEST_F(FakedStartup, WinsockTextsAreFormattedFromTheStartUpRecord) {
  const struct Case {
    unsigned short maxSockets, maxUdpDg;
    const char* description;
    const char* status;
  } cases[] = {
      {65535, 0, "Sockets of a test", "Ready."},  // unsigned; 0 is shown unadjusted
      {1, 100, "", ""},
      {32767, 8192, "Fake WinSock 1.1 \xE9", "Running on loopback"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maxUdpDg);
    g_fake.maxSockets = c.maxSockets;
    g_fake.maxUdpDg = c.maxUdpDg;
    g_fake.description = c.description;
    g_fake.status = c.status;
    Host h;
    EXPECT_EQ(Text(h, L"WinsockVer"), L"1.1");
    EXPECT_EQ(Text(h, L"WinsockDesc"), fw::WideFromAnsi(c.description));
    EXPECT_EQ(Text(h, L"WinsockSysStat"), fw::WideFromAnsi(c.status));
    EXPECT_EQ(Text(h, L"WinsockMaxSockets"), Unsigned(c.maxSockets));
    EXPECT_EQ(Text(h, L"WinsockMaxDatagram"), Unsigned(c.maxUdpDg));
    EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  }
}

TEST_F(FakedStartup, WinsockTextsAreEmptyAfterAFailedOrRefusedStartUp) {
  const struct Case {
    const char* label;
    int failWith;
    WORD version;
    int cleanupsAtCreation;
  } cases[] = {
      {"start-up fails", WSASYSNOTREADY, 0x0101, 0},
      {"version 2.2 offered", 0, 0x0202, 1},
      {"version 1.0 offered", 0, 0x0001, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    g_fake.failWith = c.failWith;
    g_fake.version = c.version;
    g_fake.description = "should not be shown";
    g_fake.status = "should not be shown";
    g_fake.maxSockets = 100;
    g_fake.maxUdpDg = 100;
    g_startups = g_cleanups = 0;
    {
      Host h;
      EXPECT_EQ(g_startups, 1);
      EXPECT_EQ(g_cleanups, c.cleanupsAtCreation);
      for (const wchar_t* name : kWinsockTexts)
        EXPECT_EQ(Text(h, name), L"") << testing::PrintToString(std::wstring(name));
      // What needs no socket still works.
      EXPECT_EQ(h.MustGet(L"Version").i2(), 100);
      EXPECT_FALSE(Text(h, L"Copyright").empty());
      EXPECT_EQ(h.MustCall(L"htons", {Var(80)}).bytes(), (std::vector<unsigned char>{0, 80}));
    }
    // The refused or failed start-up is not cleaned up a second time.
    EXPECT_EQ(g_cleanups, c.cleanupsAtCreation);
  }
}

TEST(Information, VersionIsTheShort100AlsoWhenCalledAsAMethod) {
  Host h;
  Var got = h.MustGet(L"Version");
  ASSERT_EQ(got.vt(), VT_I2);
  EXPECT_EQ(got.i2(), 100);
  Var called = h.MustCall(L"Version");
  ASSERT_EQ(called.vt(), VT_I2);
  EXPECT_EQ(called.i2(), 100);
}

TEST(Information, CopyrightIsOneLineWithNameVersionYearsAndMaker) {
  Host h;
  const std::wstring banner = Text(h, L"Copyright");
  EXPECT_EQ(banner.find_first_of(L"\r\n"), std::wstring::npos);
  EXPECT_NE(banner.find(L"Karvo Dgramix"), std::wstring::npos) << testing::PrintToString(banner);
  EXPECT_TRUE(std::regex_search(banner, std::wregex(L"(^|[^0-9.])1\\.11([^0-9]|$)")));
  // A copyright notice: the word or sign, the years, then the maker's name.
  EXPECT_TRUE(std::regex_search(
      banner,
      std::wregex(L"(Copyright|\\(C\\)|\u00A9).*(19|20)[0-9]{2}(-(19|20)[0-9]{2})? +[A-Za-z]")))
      << testing::PrintToString(banner);
  h.MustCall(L"Open", {Var(L"0")});
  EXPECT_EQ(Text(h, L"Copyright"), banner);
}
