// IPv6 groups, an IPv6-only name and a broadcast on every network, inside the tests' private
// network (scripts/private_network.sh): loopback carries multicast there, the first veth pair has
// IPv6 addresses from the documentation range, a second pair is a second IPv4 network, and
// /etc/hosts names mcast0's IPv6 address "ipv6-peer.test" (an IPv6 address only).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "framework/text.h"
#include "support/datagrams.h"

using namespace host;

namespace {

constexpr wchar_t kGroup6[] = L"ff15::10:12";         // the IPv6 member of run_with_group_peer.sh
constexpr wchar_t kVethAddress[] = L"2001:db8:1::1";  // mcast0's

std::vector<unsigned char> BytesOf(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

TEST(MulticastIpv6, GroupsAndOptionsFollowTheSocketsFamily) {
  Host dual, ipv6Only, ipv4;
  OpenOnAddress(dual, L"::");
  OpenOnAddress(ipv6Only, L"::", true);
  OpenOnAddress(ipv4, L"");
  // Joined on every interface with IPv6 (loopback included), by index, by an interface's address;
  // a second join of a pair is no error.
  for (const Var& iface : {Var::Missing(), Var(L"1"), Var(kVethAddress), Var(L"1")})
    dual.MustCall(L"JoinGroup", {kGroup6, iface});
  dual.MustCall(L"JoinGroup", {L"239.255.10.13", kLoopbackText});  // dual stack: IPv4 groups too
  dual.MustCall(L"LeaveGroup", {kGroup6});
  EXPECT_EQ(dual.Call(L"LeaveGroup", {kGroup6, L"1"}).scode & 0xFFFF0000u, 0x800A0000u);
  dual.MustPut(L"MulticastTtl", 2);
  dual.MustPut(L"MulticastLoopback", false);
  const CallResult iface = dual.Put(L"MulticastInterface", L"1");
  if (iface.scode == WinsockScode(WSAEINVAL))
    std::cout << "[   NOTE   ] this platform refuses IPV6_MULTICAST_IF (32-bit Wine)\n";
  else
    EXPECT_EQ(iface.hr, S_OK);

  struct Refusal {
    Host& host;
    const wchar_t* member;
    std::vector<Var> args;
    SCODE scode;
  } const refusals[] = {
      {ipv6Only, L"JoinGroup", {L"239.255.10.13", kLoopbackText}, WinsockScode(WSAEAFNOSUPPORT)},
      {ipv4, L"JoinGroup", {kGroup6, L"1"}, WinsockScode(WSAEAFNOSUPPORT)},
      {dual, L"JoinGroup", {L"2001:db8::1"}, kScodeBadArgument},  // not a group
      {dual, L"JoinGroup", {kGroup6, L"fe80::zz"}, kScodeBadArgument},
      {dual, L"JoinGroup", {kGroup6, L"2001:db8:9::9"}, WinsockScode(WSAEADDRNOTAVAIL)},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(testing::PrintToString(r.args[0].text()));
    EXPECT_EQ(const_cast<Host&>(r.host).Call(r.member, r.args).scode, r.scode);
  }
  EXPECT_EQ(ipv4.Put(L"MulticastInterface", L"1").scode, WinsockScode(WSAEAFNOSUPPORT));
  EXPECT_EQ(ipv4.MustGet(L"MulticastInterface").text(), L"");
}

TEST(Ipv6Names, AHostsFileNameReachesAnIpv6PeerAndHostIpAnswersForIt) {
  Host server, client;
  const u_short port = OpenOnAddress(server, kVethAddress);
  OpenOnAddress(client, L"::", true);
  client.MustCall(L"SendTo", {L"ipv6-peer.test", PortText(port), Var::Bytes({6})});
  ASSERT_TRUE(server.WaitForEvents(kReceived, 1));
  EXPECT_EQ(server.sink().Of(kReceived).at(0).args[0].text(), kVethAddress);  // its own address
  EXPECT_EQ(client.MustGet(L"State").i2(), 5);
  EXPECT_EQ(client.MustCall(L"HostIp", {L"ipv6-peer.test"}).text(), kVethAddress);
}

// Run by tests/script/run_with_group_peer.sh with its IPv6 member's port.
TEST(MulticastNativePeer, AnIpv6Python3MemberReceivesWhatTheControlSendsAndAnswers) {
  const char* peerPort = std::getenv("UDP_GROUP6_PEER_PORT");
  ASSERT_NE(peerPort, nullptr) << "run through tests/script/run_with_group_peer.sh";
  Host h;
  OpenOnAddress(h, L"::");
  // A group's datagram was sent to the group: ToAddress says so inside Received.
  const SeenDestinations seen(h);
  h.MustCall(L"JoinGroup", {kGroup6});
  h.MustCall(L"SendTo", {kGroup6, fw::WideFromAnsi(peerPort), Var::Bytes(BytesOf("hi6"))});
  const auto answer = BytesOf("peer:hi6");
  ASSERT_TRUE(h.PumpUntil([&] { return !ReceivedIndicesOf(h.sink(), answer).empty(); }));
  const std::vector<Event> received = h.sink().Of(kReceived);
  ASSERT_EQ(received.size(), seen.addresses.size());
  for (const size_t i : ReceivedIndicesOf(h.sink(), answer)) {
    EXPECT_NE(received[i].args[0].text().find(L':'), std::wstring::npos);  // an IPv6 sender
    EXPECT_EQ(seen.addresses[i], kGroup6);
  }
  h.MustCall(L"LeaveGroup", {kGroup6});
}

// Two networks (the veth pairs, 192.0.2.0/24 and 198.51.100.0/24): BroadcastAll reaches both, and
// a listener bound to every address reads each network's broadcast address as ToAddress.
TEST(MultiHomedNetworks, BroadcastAllReachesTheBroadcastAddressOfEveryNetwork) {
  Host listener, sender;
  const u_short port = OpenOnAddress(listener, L"");
  const SeenDestinations seen(listener);
  OpenOnAddress(sender, L"");
  sender.MustCall(L"BroadcastAll", {PortText(port), Var::Bytes({7})});
  ASSERT_TRUE(sender.WaitForEvents(kSent, 1));
  auto heard = [&](const wchar_t* address) {
    return std::ranges::find(seen.addresses, address) != seen.addresses.end();
  };
  ASSERT_TRUE(
      listener.PumpUntil([&] { return heard(L"192.0.2.255") && heard(L"198.51.100.255"); }));
  EXPECT_EQ(sender.sink().Count(kWsError), 0);
}

// Run by tests/script/run_with_group_peer.sh with the port of its listener on the second network,
// in a namespace of its own: a device there hears BroadcastAll and answers.
TEST(MulticastNativePeer, AListenerOnAnotherNetworkHearsBroadcastAllAndAnswers) {
  const char* peerPort = std::getenv("UDP_BROADCAST_PEER_PORT");
  ASSERT_NE(peerPort, nullptr) << "run through tests/script/run_with_group_peer.sh";
  Host h;
  OpenOnAddress(h, L"");
  h.MustCall(L"BroadcastAll", {fw::WideFromAnsi(peerPort), Var::Bytes(BytesOf("hib"))});
  const auto answer = BytesOf("peer:hib");
  ASSERT_TRUE(h.PumpUntil([&] { return !ReceivedIndicesOf(h.sink(), answer).empty(); }));
  for (const size_t i : ReceivedIndicesOf(h.sink(), answer))
    EXPECT_EQ(h.sink().Of(kReceived)[i].args[0].text(), L"198.51.100.2");
}
