// Port sharing: ReuseAddress reaches the socket at Open, before the bind, as SO_REUSEADDR or, by
// default, as SO_EXCLUSIVEADDRUSE. Under Wine a second bind fails anyway while the first socket
// lacks SO_REUSEADDR (Linux's rule), so only the sockets seam shows which option went out.
#include <gtest/gtest.h>

#include <vector>

#include "support/datagrams.h"
#include "support/options_seam.h"

using host::Host;
using host::Var;

namespace {

constexpr int kExclusiveAddrUse = static_cast<int>(~SO_REUSEADDR);  // winsock2.h's name

// The socket-level sharing options set before the first bind; every one must have the value 1.
std::vector<int> SharingOptionsBeforeBind(const host::SockoptSpy& spy) {
  std::vector<int> options;
  for (int i = 0; i < spy.SetsBeforeBind(); ++i) {
    const host::SockoptCall& c = spy.sets()[static_cast<size_t>(i)];
    if (c.level != SOL_SOCKET || (c.option != SO_REUSEADDR && c.option != kExclusiveAddrUse))
      continue;
    EXPECT_EQ(c.value, 1);
    options.push_back(c.option);
  }
  return options;
}

int SharingOption(bool reuse) { return reuse ? SO_REUSEADDR : kExclusiveAddrUse; }

}  // namespace

// Open sets the chosen option before the bind. It counts there only, and Windows refuses
// SO_REUSEADDR on an exclusive socket: a value set while open waits for the next Open and the
// open socket is left alone.
TEST(PortSharingOptions, OpenSetsTheChosenOptionBeforeTheBindAndAValueSetWhileOpenWaits) {
  for (const bool reuse : {true, false}) {
    SCOPED_TRACE(reuse);
    Host h;
    h.MustPut(L"ReuseAddress", Var(!reuse));
    {
      host::SockoptSpy spy;
      host::OpenAndWaitReady(h);
      EXPECT_EQ(SharingOptionsBeforeBind(spy), std::vector<int>{SharingOption(!reuse)});
    }
    host::SockoptSpy spy;
    EXPECT_EQ(h.Put(L"ReuseAddress", Var(reuse)).hr, S_OK);
    EXPECT_TRUE(spy.sets().empty());
    EXPECT_EQ(h.MustGet(L"ReuseAddress").boolean(), reuse);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
    h.MustCall(L"Close");
    host::OpenAndWaitReady(h);
    EXPECT_EQ(SharingOptionsBeforeBind(spy), std::vector<int>{SharingOption(reuse)});
    EXPECT_EQ(host::SystemSocketOption(host::SocketOf(h), SharingOption(reuse)), 1);
  }
}

// What holds on Windows and under Wine alike: a port held without ReuseAddress stays the holder's
// also against a socket that asks to share it (WSAEACCES there; WSAEADDRINUSE for one that does
// not ask); two sockets that both ask share it.
TEST(PortSharingOptions, ASecondSocketBindsThePortOnlyWhenBothShareIt) {
  for (const bool firstShares : {false, true}) {
    SCOPED_TRACE(firstShares);
    Host first, second;
    first.MustPut(L"ReuseAddress", Var(firstShares));
    second.MustPut(L"ReuseAddress", Var(true));
    const u_short port = host::OpenAndWaitReady(first);
    const host::CallResult r = second.Call(L"Open", {Var(host::PortText(port))});
    const LONG error = second.MustGet(L"LastError").i4();
    if (firstShares) {
      EXPECT_EQ(r.hr, S_OK);
      EXPECT_EQ(error, 0);
    } else {
      EXPECT_TRUE(error == WSAEACCES || error == WSAEADDRINUSE) << error;
      EXPECT_EQ(r.scode, host::WinsockScode(error));
    }
  }
}
