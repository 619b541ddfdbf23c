// What real Windows does and Wine does not: property bags that clear what they are handed,
// cancels that remove the completion, reads that report a dead peer, and a failed start-up in a
// process where Windows Sockets runs anyway. The sockets seam plays Windows where Wine cannot.
#include <gtest/gtest.h>
#include <ocidl.h>

#include <cstring>
#include <utility>

#include "endpoint/lookup_relay.h"
#include "framework/module.h"
#include "support/datagrams.h"
#include "support/lookups.h"
#include "support/property_bag.h"

using host::Host;
using host::Var;

namespace {

// A bag as containers implement it: it clears the VARIANT it is handed before filling it, and
// leaves it alone for a name it does not hold. It counts VARIANTs that came with more than their
// type set, and zeroes them so that the test fails instead of crashing.
class ClearingBag : public host::PropertyBag {
 public:
  int unclean = 0;
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    VARIANT clean{};
    V_VT(&clean) = V_VT(value);
    if (std::memcmp(value, &clean, sizeof clean) != 0) ++unclean;
    *value = clean;
    const Var* stored = Find(name);
    return stored ? ::VariantChangeType(value, const_cast<VARIANT*>(stored->get()), 0, V_VT(value))
                  : E_INVALIDARG;
  }
};

// Leaves stack garbage where the next calls will keep their VARIANTs.
[[gnu::noinline]] void ScribbleStack() {
  volatile unsigned char junk[16384];
  for (auto& b : junk) b = 0xA5;
}

// Windows' VariantInit sets the type only; Wine's zeroes the whole VARIANT and so hides garbage.
void WINAPI VariantInitAsWindows(VARIANTARG* v) { V_VT(v) = VT_EMPTY; }

// The slot of this executable's import table through which it calls dll's function.
void** ImportSlot(const char* dll, const char* function) {
  auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
      base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
  for (; d->Name; ++d) {
    if (::lstrcmpiA(reinterpret_cast<char*>(base + d->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots)
      if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
          std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name,
                      function) == 0)
        return reinterpret_cast<void**>(&slots->u1.Function);
  }
  return nullptr;
}

void* SwapImport(void** slot, void* function) {
  DWORD protection = 0;
  ::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
  void* previous = std::exchange(*slot, function);
  ::VirtualProtect(slot, sizeof *slot, protection, &protection);
  return previous;
}

}  // namespace

TEST(PropertyBagLoad, EveryVariantHandedToTheBagIsClean) {
  Host h(Host::Init::None);
  ClearingBag bag;
  bag.Set(L"UserData1", Var(L"kept"));
  bag.Set(L"LastError", Var(10054));
  fw::com_ptr<IPersistPropertyBag> persist;
  ASSERT_EQ(h.dispatch()->QueryInterface(IID_IPersistPropertyBag, persist.put_void()), S_OK);
  void** variantInit = ImportSlot("oleaut32.dll", "VariantInit");
  ASSERT_NE(variantInit, nullptr);
  void* wines = SwapImport(variantInit, reinterpret_cast<void*>(&VariantInitAsWindows));
  ScribbleStack();
  const HRESULT loaded = persist->Load(&bag, nullptr);
  SwapImport(variantInit, wines);
  ASSERT_EQ(loaded, S_OK);
  EXPECT_EQ(bag.unclean, 0);
  EXPECT_EQ(h.MustGet(L"UserData1").text(), L"kept");
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 10054);
  EXPECT_EQ(h.MustGet(L"UserData2").text(), L"") << "missing from the bag: the default";
}

// A cancelled look-up's buffer is kept until its completion comes (Wine) or, when none will come
// (Windows), for the retention time; then it is freed and the module let go.
struct CancelCase {
  const char* name;
  bool windowsCancel;
  DWORD retentionMs;
};
std::ostream& operator<<(std::ostream& os, const CancelCase& c) { return os << c.name; }

class CancelledLookUp : public testing::TestWithParam<CancelCase> {
 protected:
  void SetUp() override {
    savedRetention_ = udp::lookup_relay::SetRetentionTime(GetParam().retentionMs);
  }
  void TearDown() override { udp::lookup_relay::SetRetentionTime(savedRetention_); }
  DWORD savedRetention_ = 0;
};

TEST_P(CancelledLookUp, KeepsItsBufferOnlyAsLongAsItMustThenLetsTheModuleGo) {
  const CancelCase& c = GetParam();
  host::FakeLookups fake;
  fake.windowsCancel = c.windowsCancel;
  const LONG idle = fw::ModuleUseCount();  // what DllCanUnloadNow looks at
  // Completes request i as the sockets layer would (a no-op after a cancel that took), then waits
  // for the relay to let go of it: at once on a completion, else after the retention time.
  auto completeAndWait = [&](size_t i, LONG until) {
    host::Pump(nullptr, 100);
    EXPECT_EQ(fw::ModuleUseCount(), until + 1) << "freed before its time";
    fake.CompleteHost(i, "host", host::kLoopback);
    EXPECT_TRUE(host::Pump([&] { return fw::ModuleUseCount() == until; },
                           static_cast<int>(c.retentionMs) + 2000));
  };
  {
    Host h;
    host::OpenAndWaitReady(h);
    const LONG withControl = fw::ModuleUseCount();
    h.MustCall(L"SendTo", {Var(L"host-a"), Var(L"5000"), Var::Bytes({1})});
    h.MustCall(L"Close");
    ASSERT_EQ(fake.cancelled.size(), 1u);
    completeAndWait(0, withControl);

    h.MustCall(L"Open", {Var(L"0")});
    h.MustCall(L"SendTo", {Var(L"host-b"), Var(L"5000"), Var::Bytes({2})});
    h.Release();  // destroyed with a cancelled request outstanding
  }
  ASSERT_EQ(fake.cancelled.size(), 2u);
  completeAndWait(1, idle);
}

INSTANTIATE_TEST_SUITE_P(Semantics, CancelledLookUp,
                         testing::Values(CancelCase{"WineCompletesAnyway", false, 60000},
                                         CancelCase{"WindowsNeverCompletes", true, 500}),
                         [](const auto& info) { return std::string(info.param.name); });

// A datagram sent to a port where nobody listens makes Windows fail the next read with
// WSAECONNRESET (an ICMP report); the report is switched off, and skipped where it comes anyway.
namespace {
int g_readFailure = 0;
std::vector<std::pair<DWORD, int>> g_ioctls;  // code, BOOL passed in

int PASCAL FailOnceRecvFrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from,
                            int* fromLength) {
  if (const int error = std::exchange(g_readFailure, 0)) {
    ::WSASetLastError(error);
    return SOCKET_ERROR;
  }
  return udp::SystemWinsock().recvfrom(s, buffer, length, flags, from, fromLength);
}
int PASCAL FailOnceRecvMsg(SOCKET s, _WSAMSG* message, DWORD* received, OVERLAPPED* overlapped,
                           void* completion) {
  if (const int error = std::exchange(g_readFailure, 0)) {
    ::WSASetLastError(error);
    return SOCKET_ERROR;
  }
  return udp::SystemWinsock().WSARecvMsg(s, message, received, overlapped, completion);
}

int PASCAL RecordIoctl(SOCKET s, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                       DWORD* returned, void* overlapped, void* completion) {
  constexpr DWORD kUdpConnReset = 0x9800000C;
  if (code == kUdpConnReset)
    g_ioctls.push_back({code, inLength == sizeof(BOOL) ? *static_cast<BOOL*>(in) : -1});
  return udp::SystemWinsock().WSAIoctl(s, code, in, inLength, out, outLength, returned, overlapped,
                                       completion);
}
}  // namespace

class DeadPeerReport : public testing::TestWithParam<int> {};

TEST_P(DeadPeerReport, IsSwitchedOffAndAReadThatReportsItIsSkipped) {
  host::WinsockPatch ws;
  ws->recvfrom = FailOnceRecvFrom;
  ws->WSARecvMsg = FailOnceRecvMsg;
  ws->WSAIoctl = RecordIoctl;
  g_ioctls.clear();
  host::PeerSocket peer;
  Host h;
  const u_short port = host::OpenAndWaitReady(h);
  EXPECT_EQ(g_ioctls, (std::vector<std::pair<DWORD, int>>{{0x9800000C, FALSE}}))
      << "SIO_UDP_CONNRESET off for the new socket";

  h.MustPut(L"LastError", Var(0));
  g_readFailure = GetParam();
  host::PostSocketNotify(h, FD_READ);
  ASSERT_TRUE(h.PumpUntil([] { return g_readFailure == 0; }));
  ASSERT_TRUE(peer.SendTo(port, {7}));
  ASSERT_TRUE(h.WaitForEvents(host::kReceived, 1));
  EXPECT_EQ(h.sink().Order(), (std::vector<DISPID>{host::kReady, host::kReceived}));
  EXPECT_EQ(host::ReceivedData(h.sink()), (std::vector<std::vector<unsigned char>>{{7}}));
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
}

INSTANTIATE_TEST_SUITE_P(Errors, DeadPeerReport, testing::Values(WSAECONNRESET, WSAENETRESET),
                         [](const auto& info) { return std::to_string(info.param); });

// A control whose start-up failed can still open a socket when another holder keeps Windows
// Sockets started; it then reads whole datagrams like any other.
namespace {
int PASCAL StartupFails(WORD, LPWSADATA) { return WSASYSNOTREADY; }
int PASCAL StartupWithOtherVersion(WORD version, LPWSADATA data) {
  const int r = udp::SystemWinsock().WSAStartup(version, data);
  data->wVersion = 0x0202;
  return r;
}
struct StartupCase {
  const char* name;
  int(PASCAL* startup)(WORD, LPWSADATA);
};
std::ostream& operator<<(std::ostream& os, const StartupCase& c) { return os << c.name; }
}  // namespace

class FailedStartup : public testing::TestWithParam<StartupCase> {};

TEST_P(FailedStartup, StillReceivesWholeDatagrams) {
  host::PeerSocket peer;  // keeps Windows Sockets started for the process
  host::WinsockPatch ws;
  ws->WSAStartup = GetParam().startup;
  Host h;
  const u_short port = host::OpenAndWaitReady(h);
  const std::vector<unsigned char> datagram(1000, 0x5A);
  ASSERT_TRUE(peer.SendTo(port, datagram));
  h.PumpUntil([&] { return h.sink().Count(host::kReceived) + h.sink().Count(host::kWsError) > 0; });
  EXPECT_EQ(h.sink().Count(host::kWsError), 0);
  EXPECT_EQ(host::ReceivedData(h.sink()), (std::vector<std::vector<unsigned char>>{datagram}));
}

INSTANTIATE_TEST_SUITE_P(Outcomes, FailedStartup,
                         testing::Values(StartupCase{"Refused", StartupFails},
                                         StartupCase{"OtherVersion", StartupWithOtherVersion}),
                         [](const auto& info) { return std::string(info.param.name); });
