// Sndbuf and Rcvbuf: the stored request while closed, the system's size while open, applied only
// by a write while open, and refused or unreadable sizes reported as thrown Windows Sockets errors.
#include <gtest/gtest.h>

#include <string>

#include "support/datagrams.h"
#include "support/host.h"
#include "support/options_seam.h"

using host::Host;
using host::Var;

namespace {

struct BufferOption {
  const wchar_t* name;
  int option;
};
constexpr BufferOption kBuffers[] = {{L"Sndbuf", SO_SNDBUF}, {L"Rcvbuf", SO_RCVBUF}};

const char* Label(const BufferOption& b) { return b.option == SO_SNDBUF ? "Sndbuf" : "Rcvbuf"; }

using host::OpenAndWaitReady;
using host::SocketOf;

}  // namespace

TEST(BufferSizes, NewControlReadsClosedDefaults) {
  Host h;
  EXPECT_EQ(h.MustGet(L"Sndbuf").i4(), 0);
  EXPECT_EQ(h.MustGet(L"Rcvbuf").i4(), 0);
  EXPECT_FALSE(h.MustGet(L"Broadcast").boolean());
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
  EXPECT_FALSE(h.MustGet(L"Sendable").boolean());
  EXPECT_FALSE(h.IsModified());
}

TEST(BufferSizes, ClosedControlStoresAnySizeAndMarksItselfModified) {
  const LONG sizes[] = {8192, 1, 0, -1, -65536, 2147483647};
  for (const auto& b : kBuffers) {
    Host h;
    host::SockoptSpy spy;
    for (LONG size : sizes) {
      SCOPED_TRACE(std::string(Label(b)) + " " + std::to_string(size));
      ASSERT_TRUE(h.SaveAndClearModified());
      ASSERT_FALSE(h.IsModified());
      EXPECT_EQ(h.Put(b.name, Var(static_cast<int>(size))).hr, S_OK);
      EXPECT_TRUE(h.IsModified());
      EXPECT_EQ(h.MustGet(b.name).i4(), size);
    }
    EXPECT_TRUE(spy.sets().empty());
    EXPECT_EQ(spy.ReadsOf(b.option), 0);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
  }
}

TEST(BufferSizes, OpenControlReportsTheSystemSizeWhichTheStoredSizeDidNotChange) {
  for (const auto& b : kBuffers) {
    SCOPED_TRACE(Label(b));
    Host h;
    host::SockoptSpy spy;
    h.MustPut(b.name, Var(8192));
    OpenAndWaitReady(h);
    const int systemSize = host::SystemSocketOption(SocketOf(h), b.option);
    ASSERT_GT(systemSize, 0);
    EXPECT_EQ(systemSize, host::DefaultSocketOption(b.option));
    EXPECT_EQ(spy.SetsOf(b.option), 0);  // Open leaves the stored size alone
    EXPECT_EQ(h.MustGet(b.name).i4(), systemSize);
    EXPECT_EQ(spy.ReadsOf(b.option), 1);

    h.MustCall(L"Close");
    EXPECT_EQ(h.MustGet(b.name).i4(), 8192);
  }
}

TEST(BufferSizes, PositiveWriteWhileOpenReachesTheSocket) {
  for (const auto& b : kBuffers) {
    SCOPED_TRACE(Label(b));
    Host h;
    OpenAndWaitReady(h);
    const LONG before = h.MustGet(b.name).i4();
    ASSERT_TRUE(h.SaveAndClearModified());
    host::SockoptSpy spy;

    EXPECT_EQ(h.Put(b.name, Var(4096)).hr, S_OK);
    ASSERT_EQ(spy.SetsOf(b.option), 1);
    EXPECT_EQ(spy.sets().back().value, 4096);
    const int systemSize = host::SystemSocketOption(SocketOf(h), b.option);
    EXPECT_NE(systemSize, before);
    EXPECT_EQ(h.MustGet(b.name).i4(), systemSize);
    EXPECT_TRUE(h.IsModified());
    EXPECT_EQ(h.MustGet(L"State").i2(), 1);

    h.MustCall(L"Close");
    EXPECT_EQ(h.MustGet(b.name).i4(), 4096);
  }
}

TEST(BufferSizes, ZeroOrNegativeWriteWhileOpenIsStoredButNotApplied) {
  const LONG sizes[] = {0, -1, -65536};
  for (const auto& b : kBuffers) {
    for (LONG size : sizes) {
      SCOPED_TRACE(std::string(Label(b)) + " " + std::to_string(size));
      Host h;
      OpenAndWaitReady(h);
      const int systemSize = host::SystemSocketOption(SocketOf(h), b.option);
      ASSERT_TRUE(h.SaveAndClearModified());
      host::SockoptSpy spy;

      EXPECT_EQ(h.Put(b.name, Var(static_cast<int>(size))).hr, S_OK);
      EXPECT_EQ(spy.SetsOf(b.option), 0);
      EXPECT_TRUE(h.IsModified());
      EXPECT_EQ(h.MustGet(b.name).i4(), systemSize);
      EXPECT_EQ(host::SystemSocketOption(SocketOf(h), b.option), systemSize);
      EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);

      h.MustCall(L"Close");
      EXPECT_EQ(h.MustGet(b.name).i4(), size);
    }
  }
}

TEST(BufferSizes, SizeTheSystemRefusesFailsTheWriteAndStaysStored) {
  for (const auto& b : kBuffers) {
    SCOPED_TRACE(Label(b));
    Host h;
    OpenAndWaitReady(h);
    const SOCKET socket = SocketOf(h);
    const int systemSize = host::SystemSocketOption(socket, b.option);
    ASSERT_TRUE(h.SaveAndClearModified());
    h.sink().Clear();
    host::SockoptSpy spy;
    spy.RefuseBufferWrites(WSAENOBUFS);

    auto r = h.Put(b.name, Var(8192));
    ASSERT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, host::WinsockScode(WSAENOBUFS));
    EXPECT_EQ(r.description, host::kWinsockMessage);
    EXPECT_EQ(spy.SetsOf(b.option), 1);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENOBUFS);
    EXPECT_EQ(h.MustGet(L"State").i2(), 1);
    EXPECT_EQ(SocketOf(h), socket);
    EXPECT_FALSE(h.IsModified());
    EXPECT_EQ(h.MustGet(b.name).i4(), systemSize);
    ASSERT_TRUE(host::PumpUntilIdle());
    EXPECT_TRUE(h.sink().events.empty());

    // A refusal is the socket's: while closed the same size is simply stored.
    h.MustCall(L"Close");
    EXPECT_EQ(h.MustGet(b.name).i4(), 8192);
    EXPECT_EQ(h.Put(b.name, Var(16384)).hr, S_OK);
    EXPECT_EQ(h.MustGet(b.name).i4(), 16384);
  }
}

TEST(BufferSizes, SizeTheSystemCannotReportFailsTheRead) {
  for (const auto& b : kBuffers) {
    SCOPED_TRACE(Label(b));
    Host h;
    h.MustPut(b.name, Var(2048));
    OpenAndWaitReady(h);
    const SOCKET socket = SocketOf(h);
    h.sink().Clear();
    host::SockoptSpy spy;
    spy.RefuseBufferReads(WSAENETDOWN);

    auto r = h.Get(b.name);
    ASSERT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, host::WinsockScode(WSAENETDOWN));
    EXPECT_EQ(r.description, host::kWinsockMessage);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), WSAENETDOWN);
    EXPECT_EQ(h.MustGet(L"State").i2(), 1);
    EXPECT_EQ(SocketOf(h), socket);
    ASSERT_TRUE(host::PumpUntilIdle());
    EXPECT_TRUE(h.sink().events.empty());

    // Closed, the stored size answers without asking the system.
    h.MustCall(L"Close");
    spy.Clear();
    EXPECT_EQ(h.MustGet(b.name).i4(), 2048);
    EXPECT_EQ(spy.ReadsOf(b.option), 0);
  }
}
