// InetAddress, InetIp and InetName kept in step by look-ups of their own.
#include <gtest/gtest.h>
#include <ocidl.h>

#include <string>

#include "framework/text.h"
#include "support/host.h"
#include "support/lookups.h"

using host::Host;
using host::Var;

namespace {

std::wstring ResolverNameOfLoopback() {
  WSADATA data;
  ::WSAStartup(0x0101, &data);
  const unsigned long a = ::inet_addr(host::kLoopback);
  const hostent* entry = ::gethostbyaddr(reinterpret_cast<const char*>(&a), 4, AF_INET);
  std::wstring name = entry ? fw::WideFromAnsi(entry->h_name) : L"";
  ::WSACleanup();
  return name;
}

bool WaitForState(Host& h, short state) {
  return h.PumpUntil([&] { return h.MustGet(L"State").i2() == state; });
}

}  // namespace

TEST(InetTrio, InetIpGivesTheDottedFormAtOnceAndTheNameAfterTheCompletion) {
  const std::wstring expectedName = ResolverNameOfLoopback();
  ASSERT_FALSE(expectedName.empty());
  Host h;
  h.MustPut(L"InetIp", Var(static_cast<int>(host::kLoopbackHostOrder)));
  EXPECT_EQ(h.MustGet(L"InetAddress").text(), host::kLoopbackText);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  ASSERT_TRUE(WaitForState(h, 5));
  EXPECT_EQ(h.MustGet(L"InetName").text(), expectedName);
  EXPECT_EQ(h.MustGet(L"InetIp").i4(), host::kLoopbackHostOrder);
  EXPECT_EQ(h.MustGet(L"InetAddress").text(), host::kLoopbackText);
  EXPECT_TRUE(h.sink().events.empty());
}

TEST(InetTrio, NonDottedInetAddressGivesMinusOneAndAFailedReverseLookUpChangesNothing) {
  Host h;
  h.MustPut(L"InetAddress", Var(L"not-an-address"));
  EXPECT_EQ(h.MustGet(L"InetIp").i4(), -1);
  // The reverse look-up of 255.255.255.255 finds nothing: only State moves.
  ASSERT_TRUE(WaitForState(h, 5));
  EXPECT_EQ(h.MustGet(L"InetIp").i4(), -1);
  EXPECT_EQ(h.MustGet(L"InetAddress").text(), L"not-an-address");
  EXPECT_EQ(h.MustGet(L"InetName").text(), L"");
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
  EXPECT_TRUE(h.sink().events.empty());
}

TEST(InetTrio, NameIsResolvedToTheOfficialName) {
  Host h;
  h.MustPut(L"InetName", Var(L"LOCALHOST"));
  EXPECT_EQ(h.MustGet(L"InetAddress").text(), L"");  // the others wait for the completion
  ASSERT_TRUE(WaitForState(h, 5));
  EXPECT_EQ(h.MustGet(L"InetName").text(), L"localhost");
  EXPECT_EQ(h.MustGet(L"InetIp").i4(), host::kLoopbackHostOrder);
  EXPECT_EQ(h.MustGet(L"InetAddress").text(), host::kLoopbackText);
}

TEST(InetTrio, UnknownNameLeavesTheTrioAndLastErrorAlone) {
  Host h;
  h.MustPut(L"InetIp", Var(static_cast<int>(host::kLoopbackHostOrder)));
  ASSERT_TRUE(WaitForState(h, 5));
  h.MustPut(L"State", Var::Short(0));
  h.MustPut(L"InetName", Var(L"no-such-host.invalid"));
  ASSERT_TRUE(h.PumpUntil([&] { return h.MustGet(L"State").i2() == 5; }, 15000));
  EXPECT_EQ(h.MustGet(L"InetName").text(), L"no-such-host.invalid");
  EXPECT_EQ(h.MustGet(L"InetIp").i4(), host::kLoopbackHostOrder);
  EXPECT_EQ(h.MustGet(L"InetAddress").text(), host::kLoopbackText);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
  EXPECT_TRUE(h.sink().events.empty());
}

TEST(InetTrio, SupersededRequestsEachApplyTheirOwnResult) {
  host::FakeLookups fake;
  Host h;
  h.MustPut(L"InetName", Var(L"first"));
  h.MustPut(L"InetName", Var(L"second"));
  ASSERT_EQ(fake.requests.size(), 2u);
  EXPECT_TRUE(fake.cancelled.empty());
  EXPECT_NE(fake.requests[0].buffer, fake.requests[1].buffer);

  fake.CompleteHost(1, "second-official", "127.0.0.2");
  ASSERT_TRUE(h.PumpUntil([&] { return h.MustGet(L"InetName").text() == L"second-official"; }));
  EXPECT_EQ(h.MustGet(L"InetAddress").text(), L"127.0.0.2");
  // The older request completes last: its own result, from its own buffer, is what remains.
  fake.CompleteHost(0, "first-official", "127.0.0.3");
  ASSERT_TRUE(h.PumpUntil([&] { return h.MustGet(L"InetName").text() == L"first-official"; }));
  EXPECT_EQ(h.MustGet(L"InetAddress").text(), L"127.0.0.3");
  EXPECT_EQ(h.MustGet(L"InetIp").i4(), 0x7F000003);
  EXPECT_EQ(h.MustGet(L"State").i2(), 5);
}

TEST(InetTrio, CompletionDoesNotMarkTheControlModified) {
  host::FakeLookups fake;
  Host h;
  ASSERT_TRUE(h.SaveAndClearModified());
  ASSERT_FALSE(h.IsModified());
  h.MustPut(L"InetIp", Var(static_cast<int>(host::kLoopbackHostOrder)));
  EXPECT_TRUE(h.IsModified());
  ASSERT_EQ(fake.requests.size(), 1u);
  EXPECT_EQ(fake.requests[0].name, host::kLoopback);
  ASSERT_TRUE(h.SaveAndClearModified());
  fake.CompleteHost(0, "loopback-name", host::kLoopback);
  ASSERT_TRUE(WaitForState(h, 5));
  EXPECT_EQ(h.MustGet(L"InetName").text(), L"loopback-name");
  EXPECT_FALSE(h.IsModified());
}

TEST(InetTrio, LookUpThatCannotStartRaisesWsErrorAndClosesAnOpenEndpoint) {
  host::FakeLookups fake;
  Host h;
  h.MustCall(L"Open", {Var(L"")});
  fake.failNextStart = WSAENOBUFS;
  h.MustPut(L"InetName", Var(L"anything"));
  const std::vector<DISPID> expected = {host::kWsError, host::kClosed};
  EXPECT_EQ(h.sink().Order(), expected);
  ASSERT_FALSE(h.sink().events.empty());
  const auto& error = h.sink().events[0];
  EXPECT_EQ(error.args[0].i4(), WSAENOBUFS);
  EXPECT_EQ(error.args[1].text(), host::kWinsockMessage);
  EXPECT_EQ(error.args[2].text(), L"OnInetAddressChanged");
  EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENOBUFS);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
}

TEST(InetTrio, CancelledCloseKeepsTheEndpointAfterAFailedStart) {
  host::FakeLookups fake;
  Host h;
  h.CancelCloseOnWsError();
  h.MustCall(L"Open", {Var(L"")});
  fake.failNextStart = WSAENOBUFS;
  h.MustPut(L"InetAddress", Var(host::kLoopbackText));
  EXPECT_EQ(h.sink().Count(host::kWsError), 1);
  EXPECT_EQ(h.sink().Count(host::kClosed), 0);
  EXPECT_NE(h.MustGet(L"Socket").i4(), -1);
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_EQ(h.MustGet(L"InetIp").i4(),
            host::kLoopbackHostOrder);  // the conversion itself still happened
}

TEST(InetTrio, HostEntryWithoutAnAddressChangesNothing) {
  host::FakeLookups fake;
  Host h;
  h.MustPut(L"InetName", Var(L"some-host"));
  fake.CompleteHost(0, "some-official", nullptr);
  ASSERT_TRUE(WaitForState(h, 5));
  EXPECT_EQ(h.MustGet(L"InetName").text(), L"some-host");
  EXPECT_EQ(h.MustGet(L"InetAddress").text(), L"");
  EXPECT_EQ(h.MustGet(L"InetIp").i4(), 0);
  EXPECT_TRUE(h.sink().events.empty());
}

TEST(InetTrio, CloseDoesNotCancelTheInetLookUp) {
  host::FakeLookups fake;
  Host h;
  h.MustCall(L"Open", {Var(L"")});
  h.MustPut(L"InetIp", Var(static_cast<int>(host::kLoopbackHostOrder)));
  h.MustCall(L"Close");
  EXPECT_TRUE(fake.cancelled.empty());
  ASSERT_EQ(fake.requests.size(), 1u);
  fake.CompleteHost(0, "loopback-name", host::kLoopback);
  ASSERT_TRUE(WaitForState(h, 5));
  EXPECT_EQ(h.MustGet(L"InetName").text(), L"loopback-name");
}
