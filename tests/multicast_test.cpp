// Multicast and port sharing, driven as a host drives them. Group traffic flows only inside the
// private network namespace that scripts/private_network.sh makes for the tests labelled
// "multicast": loopback (with a route for 224.0.0.0/4) and a veth pair with both ends inside.
#include <gtest/gtest.h>

#include <iostream>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "endpoint/local_interfaces.h"
#include "support/container.h"
#include "framework/text.h"
#include "support/datagrams.h"

using namespace host;

namespace {

constexpr wchar_t kGroup[] = L"239.255.10.11";
constexpr char kGroupAnsi[] = "239.255.10.11";
// One end of the veth pair scripts/private_network.sh makes: an interface other than loopback.
constexpr wchar_t kVethAddress[] = L"192.0.2.1";
constexpr int kSilenceMs = 400;  // the window in which a datagram that must not come would

using Bytes = std::vector<unsigned char>;
Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A plain Windows Sockets sender bound to loopback whose multicast datagrams leave from there.
class GroupSender {
 public:
  GroupSender() : s_(::socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    int length = sizeof local;
    ::bind(s_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    ::getsockname(s_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ::ntohs(local.sin_port);
    in_addr loopback{};
    loopback.s_addr = ::inet_addr("127.0.0.1");
    ::setsockopt(s_, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&loopback),
                 sizeof loopback);
  }
  ~GroupSender() { ::closesocket(s_); }
  u_short port() const { return port_; }
  bool Send(u_short port, const std::string& text) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = ::inet_addr(kGroupAnsi);
    to.sin_port = ::htons(port);
    return ::sendto(s_, text.data(), static_cast<int>(text.size()), 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(text.size());
  }

 private:
  SOCKET s_;
  u_short port_ = 0;
};

// An option as ws2_32 reads it, with ws2tcpip.h's numbers: what the control set through
// wsock32's Windows Sockets 1.1 numbers must arrive as the option of the same name.
constexpr int kWs2MulticastIf = 9, kWs2MulticastTtl = 10, kWs2MulticastLoop = 11;
int Ws2IntOption(SOCKET s, int level, int option) {
  using GetSockOpt = int(PASCAL*)(SOCKET, int, int, char*, int*);
  static const auto getsockopt = reinterpret_cast<GetSockOpt>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::LoadLibraryW(L"ws2_32.dll"), "getsockopt")));
  int value = -1;
  int length = sizeof value;
  return getsockopt && getsockopt(s, level, option, reinterpret_cast<char*>(&value), &length) == 0
             ? value
             : -1;
}

// Whether getsockopt reads the option of a fresh socket at all. qemu's user-mode emulator, which
// runs 32-bit programs on a kernel without 32-bit support, fails it for IP_MULTICAST_IF.
bool Ws2ReadsOption(int level, int option) {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  const bool reads = Ws2IntOption(s, level, option) != -1;
  ::closesocket(s);
  return reads;
}

class MulticastTest : public testing::Test {
 protected:
  // A UdpSocket of the built DLL, created by its ProgID as a script would.
  std::unique_ptr<Host> CreateUdpSocket() {
    const container::Server* server = container::TheServer();
    if (!server || server->RegisterServer() != S_OK) return nullptr;
    registered_ = true;
    CLSID clsid{};
    fw::com_ptr<IUnknown> object;
    if (FAILED(::CLSIDFromProgID(L"UDP.UdpSocket", &clsid)) ||
        FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  object.put_void())))
      return nullptr;
    return std::make_unique<Host>(object.get());
  }
  void TearDown() override {
    if (registered_) container::TheServer()->UnregisterServer();
  }
  bool registered_ = false;
};

// Linux hands a group's datagram to every socket bound to the port while any socket of the host
// is a member there. So each step leaves one membership alone, and each delivery proves it.
TEST_F(MulticastTest, AControlAndAUdpSocketSharingAPortBothReceiveWhileAMemberIsLeft) {
  Host control;
  std::unique_ptr<Host> socket = CreateUdpSocket();
  ASSERT_TRUE(socket);
  control.MustPut(L"ReuseAddress", Var(true));
  socket->MustPut(L"ReuseAddress", Var(true));
  const u_short port = OpenAndWaitReady(control);
  OpenAndWaitReady(*socket, PortText(port));
  GroupSender sender;
  const struct Step {
    const char* text;
    std::function<void()> change;
    int received;  // by each object, in all
  } steps[] = {
      {"control joined on loopback",
       [&] {
         control.MustCall(L"JoinGroup", {Var(kGroup), Var(kLoopbackText)});
         control.MustCall(L"JoinGroup", {Var(kGroup), Var(kLoopbackText)});  // no error
       },
       1},
      {"socket joined on every interface",
       [&] {
         socket->MustCall(L"JoinGroup", {Var(kGroup)});
         control.MustCall(L"LeaveGroup", {Var(kGroup), Var(kLoopbackText)});
       },
       2},
      {"nobody joined", [&] { socket->MustCall(L"LeaveGroup", {Var(kGroup)}); }, 2},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.text);
    step.change();
    ASSERT_TRUE(sender.Send(port, step.text));
    for (Host* h : {&control, socket.get()}) h->WaitForEvents(kReceived, step.received);
    control.PumpFor(kSilenceMs);
    for (Host* h : {&control, socket.get()}) {
      ASSERT_EQ(h->sink().Count(kReceived), step.received);
      const Event received = h->sink().Of(kReceived).back();
      EXPECT_EQ(received.args[0].text(), kLoopbackText);
      EXPECT_EQ(received.args[1].text(), SignedPortText(sender.port()));
    }
  }
}

// On the veth interface: a datagram sent out of lo would come back through lo whatever the option.
TEST_F(MulticastTest, MulticastLoopbackDecidesWhetherTheSenderHearsItself) {
  for (const bool loopback : {true, false}) {
    SCOPED_TRACE(loopback);
    Host h;
    h.MustPut(L"MulticastLoopback", Var(loopback));
    h.MustPut(L"MulticastInterface", Var(kVethAddress));
    const u_short port = OpenAndWaitReady(h);
    h.MustCall(L"JoinGroup", {Var(kGroup), Var(kVethAddress)});
    h.MustCall(L"SendTo", {Var(kGroup), Var(PortText(port)), Var::Bytes({1, 2, 3})});
    ASSERT_TRUE(h.WaitForEvents(kSent, 1));
    h.PumpUntil([&] { return h.sink().Count(kReceived) > 0; }, 2 * kSilenceMs);
    EXPECT_EQ(h.sink().Count(kReceived), loopback ? 1 : 0);
  }
}

TEST_F(MulticastTest, OptionsReachTheSocketAtOpenAndAtOnceWhileOpen) {
  struct Case {
    const wchar_t* member;
    Var value;
    int level, option, expected;
  } const cases[] = {
      {L"MulticastTtl", Var(7), IPPROTO_IP, kWs2MulticastTtl, 7},
      {L"MulticastLoopback", Var(false), IPPROTO_IP, kWs2MulticastLoop, 0},
      {L"MulticastInterface", Var(kLoopbackText), IPPROTO_IP, kWs2MulticastIf,
       static_cast<int>(::inet_addr("127.0.0.1"))},
      // The text ends at its first NUL, as Wine's WScript.Shell hands out an expanded variable.
      {L"MulticastInterface", Var(std::wstring(kLoopbackText) + L'\0'), IPPROTO_IP, kWs2MulticastIf,
       static_cast<int>(::inet_addr("127.0.0.1"))},
  };
  for (const Case& c : cases) {
    for (const bool whileOpen : {false, true}) {
      SCOPED_TRACE(testing::PrintToString(std::wstring(c.member)) + (whileOpen ? " open" : ""));
      Host h;
      if (whileOpen) OpenAndWaitReady(h);
      h.MustPut(c.member, c.value);
      if (!whileOpen) OpenAndWaitReady(h);
      if (Ws2ReadsOption(c.level, c.option))
        EXPECT_EQ(Ws2IntOption(SocketOf(h), c.level, c.option), c.expected);
      else
        std::cout << "[   NOTE   ] this platform cannot read the socket's option back\n";
      Var got = h.MustGet(c.member);
      EXPECT_EQ(::VarCmp(got.get(), const_cast<VARIANT*>(c.value.get()), 0, 0), VARCMP_EQ);
    }
  }
}

TEST_F(MulticastTest, BadInputIsRefusedAndChangesNothing) {
  const SCODE notOpen = kScodeNotOpen, bad = kScodeBadArgument;
  struct Case {
    bool open;
    const wchar_t* member;
    std::vector<Var> args;  // a put when the member is a property
    SCODE expected;
  } const cases[] = {
      {false, L"JoinGroup", {Var(kGroup)}, notOpen},
      {false, L"LeaveGroup", {Var(kGroup), Var(kLoopbackText)}, notOpen},
      {true, L"JoinGroup", {Var(L"223.255.255.255")}, bad},
      {true, L"JoinGroup", {Var(L"240.0.0.1")}, bad},
      {true, L"JoinGroup", {Var(L"239.1.1")}, bad},
      {true, L"JoinGroup", {Var(L"239.1.1.256")}, bad},
      {true, L"JoinGroup", {Var(L"")}, bad},
      {true, L"LeaveGroup", {Var(L"all-systems")}, bad},
      {true, L"JoinGroup", {Var(kGroup), Var(L"127.1")}, bad},
      {true, L"JoinGroup", {Var(kGroup), Var(L"localhost")}, bad},
      {true, L"LeaveGroup", {Var(kGroup), Var(L"127.0.0.1 ")}, bad},
      {true, L"MulticastTtl", {Var(-1)}, bad},
      {true, L"MulticastTtl", {Var(256)}, bad},
      {false, L"MulticastInterface", {Var(L"eth0")}, bad},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    Host h;
    if (c.open) OpenAndWaitReady(h);
    const bool property = std::wstring(c.member).find(L"Group") == std::wstring::npos;
    const CallResult r = property ? h.Put(c.member, c.args[0]) : h.Call(c.member, c.args);
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, c.expected);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
    EXPECT_EQ(h.MustGet(L"MulticastTtl").i4(), 1);
    EXPECT_EQ(h.MustGet(L"MulticastInterface").text(), L"");
  }
}

TEST_F(MulticastTest, AnInterfaceThatIsNotLocalFailsWithTheWinsockError) {
  Host h;
  OpenAndWaitReady(h);
  const CallResult r = h.Call(L"JoinGroup", {Var(kGroup), Var(L"192.0.2.99")});
  const LONG error = h.MustGet(L"LastError").i4();
  EXPECT_NE(error, 0);
  EXPECT_EQ(r.scode, WinsockScode(error));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
}

// The interfaces JoinGroup without an interface finds, for the lifetime of the object.
class InterfacesPatch {
 public:
  explicit InterfacesPatch(udp::MulticastInterfaceLister lister)
      : saved_(std::exchange(udp::MulticastInterfaceSource(), lister)) {}
  ~InterfacesPatch() { udp::MulticastInterfaceSource() = saved_; }
  InterfacesPatch(const InterfacesPatch&) = delete;
  InterfacesPatch& operator=(const InterfacesPatch&) = delete;

 private:
  udp::MulticastInterfaceLister saved_;
};

// Loopback and a test net's interface that this machine does not have, as an interface that went
// away after the join: the system's answers to joins and drops on it are made up here (0:
// success); everything else reaches the system.
class LoopbackAndATestNet {
 public:
  LoopbackAndATestNet(int joinError, int dropError) : joinError_(joinError), dropError_(dropError) {
    current_ = this;
    patch_->setsockopt = SetOption;
  }
  ~LoopbackAndATestNet() { current_ = nullptr; }
  int drops() const { return drops_; }

 private:
  static udp::MulticastInterfaces Interfaces() {
    return {0, {::inet_addr("127.0.0.1"), ::inet_addr("192.0.2.77")}, {}, {}, {}};
  }
  static int PASCAL SetOption(SOCKET s, int level, int option, const char* value, int length) {
    ip_mreq m{};
    const bool drop = option == IP_DROP_MEMBERSHIP;
    if (level == IPPROTO_IP && (option == IP_ADD_MEMBERSHIP || drop) && length == sizeof m)
      std::memcpy(&m, value, sizeof m);
    if (m.imr_interface.s_addr != ::inet_addr("192.0.2.77"))
      return udp::SystemWinsock().setsockopt(s, level, option, value, length);
    current_->drops_ += drop;
    const int error = drop ? current_->dropError_ : current_->joinError_;
    if (error == 0) return 0;
    ::WSASetLastError(error);
    return SOCKET_ERROR;
  }

  static inline LoopbackAndATestNet* current_ = nullptr;
  WinsockPatch patch_;
  InterfacesPatch interfaces_{Interfaces};
  int joinError_, dropError_;
  int drops_ = 0;
};

TEST_F(MulticastTest, AJoinThatFailsOnOneInterfaceLeavesTheOthersAsTheyWere) {
  for (const bool joinedBefore : {false, true}) {
    SCOPED_TRACE(joinedBefore);
    Host h;
    const u_short port = OpenAndWaitReady(h);
    if (joinedBefore) h.MustCall(L"JoinGroup", {Var(kGroup), Var(kLoopbackText)});
    {
      LoopbackAndATestNet interfaces(WSAEADDRNOTAVAIL, 0);
      const CallResult r = h.Call(L"JoinGroup", {Var(kGroup)});
      EXPECT_EQ(r.scode, WinsockScode(WSAEADDRNOTAVAIL));
    }
    EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAEADDRNOTAVAIL);
    GroupSender sender;
    ASSERT_TRUE(sender.Send(port, "after"));
    h.PumpUntil([&] { return h.sink().Count(kReceived) > 0; }, 2 * kSilenceMs);
    EXPECT_EQ(h.sink().Count(kReceived), joinedBefore ? 1 : 0);
  }
}

// The test net's interface went away after a join on every interface. Leaving on every interface
// then leaves loopback and forgets the pair the system no longer holds; any other error of the
// drop undoes the leave and keeps the pair.
TEST_F(MulticastTest, LeavingEverywhereForgetsAPairTheSystemNoLongerHolds) {
  struct Case {
    int dropError;
    bool left;
  } const cases[] = {{WSAEADDRNOTAVAIL, true}, {WSAEINVAL, true}, {WSAENETDOWN, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dropError);
    Host h;
    OpenAndWaitReady(h);
    LoopbackAndATestNet interfaces(0, c.dropError);
    h.MustCall(L"JoinGroup", {Var(kGroup)});
    const CallResult r = h.Call(L"LeaveGroup", {Var(kGroup)});
    EXPECT_EQ(r.scode, c.left ? S_OK : WinsockScode(c.dropError));
    EXPECT_EQ(h.MustGet(L"LastError").i4(), c.left ? 0 : c.dropError);
    // Loopback is still a membership of the socket exactly when the leave was undone.
    EXPECT_EQ(h.Call(L"LeaveGroup", {Var(kGroup), Var(kLoopbackText)}).hr == S_OK, !c.left);
    // A pair still remembered is dropped again by the next leave; a forgotten one is not.
    const int drops = interfaces.drops();
    h.Call(L"LeaveGroup", {Var(kGroup)});
    EXPECT_EQ(interfaces.drops() - drops, c.left ? 0 : 1);
  }
}

// JoinGroup without an interface never succeeds having joined nothing; the IP helper's failure
// arrives as the system error it is, not as a Windows Sockets one.
TEST_F(MulticastTest, AJoinOnEveryInterfaceFailsWhenThereIsNone) {
  struct Case {
    udp::MulticastInterfaceLister lister;
    SCODE expected;
    LONG lastError;
  } const cases[] = {
      {[] { return udp::MulticastInterfaces{}; }, WinsockScode(WSAEADDRNOTAVAIL), WSAEADDRNOTAVAIL},
      {[] { return udp::MulticastInterfaces{ERROR_NOT_SUPPORTED, {}, {}, {}, {}}; },
       HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lastError);
    Host h;
    OpenAndWaitReady(h);
    InterfacesPatch interfaces(c.lister);
    const CallResult r = h.Call(L"JoinGroup", {Var(kGroup)});
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, c.expected);
    EXPECT_FALSE(r.description.empty());
    EXPECT_EQ(r.description == kWinsockMessage, c.lastError != 0);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), c.lastError);
  }
}

TEST_F(MulticastTest, CloseForgetsTheGroups) {
  Host h;
  const u_short port = OpenAndWaitReady(h);
  h.MustCall(L"JoinGroup", {Var(kGroup), Var(kLoopbackText)});
  h.MustCall(L"Close");
  OpenAndWaitReady(h, PortText(port));
  h.MustCall(L"LeaveGroup", {Var(kGroup)});  // nothing joined on this socket: nothing to leave
  GroupSender sender;
  ASSERT_TRUE(sender.Send(port, "closed"));
  h.PumpFor(kSilenceMs);
  EXPECT_EQ(h.sink().Count(kReceived), 0);
}

// Run by tests/script/run_with_group_peer.sh, which starts a native member of the group
// (tests/script/group_peer.py) and names its port: the peer answers each datagram with "peer:"
// and the datagram, sent to the group at the sender's port.
TEST(MulticastNativePeer, APython3MemberReceivesWhatTheControlSendsAndAnswers) {
  const char* peerPort = std::getenv("UDP_GROUP_PEER_PORT");
  ASSERT_NE(peerPort, nullptr) << "run through tests/script/run_with_group_peer.sh";
  Host h;
  OpenAndWaitReady(h);
  // Each group datagram was sent to the group: ToAddress says so inside Received.
  const SeenDestinations seen(h);
  h.MustCall(L"JoinGroup", {Var(kGroup), Var(kLoopbackText)});
  h.MustCall(L"SendTo", {Var(kGroup), Var(fw::WideFromAnsi(peerPort)), Var::Bytes(BytesOf("hi"))});
  const Bytes answer = BytesOf("peer:hi");
  ASSERT_TRUE(h.PumpUntil([&] { return !ReceivedIndicesOf(h.sink(), answer).empty(); }));
  const std::vector<Event> received = h.sink().Of(kReceived);
  ASSERT_EQ(received.size(), seen.addresses.size());
  for (const size_t i : ReceivedIndicesOf(h.sink(), answer)) {
    EXPECT_EQ(received[i].args[0].text(), kLoopbackText);
    EXPECT_EQ(seen.addresses[i], L"239.255.10.12");  // the peer's own group (the runner's)
  }
}

}  // namespace
