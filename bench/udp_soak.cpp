// Soak: long runs through the control, with the process's handles, USER and GDI objects, windows,
// private bytes and peak working set sampled before each run and after each tenth of it. Flat
// means less than 1 % growth from the first tenth to the last.
//
//   udp_soak.exe [--datagrams N] [--cycles N] [--controls N]
// N datagrams through SendTo/Sent and N through Received (default 10^6), N Open/Close cycles
// (10^4), N controls opened with a service name and destroyed while their look-ups are in flight
// (10^4).
#include <winsock.h>
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/udp_ctrl.h"
#include "server/udp_socket.h"
#include "support/host.h"

namespace {

using host::Host;
using host::Var;

struct Sample {
  double handles = 0, user = 0, gdi = 0, windows = 0, threads = 0, privateKiB = 0, peakKiB = 0;
};

BOOL CALLBACK CountChild(HWND, LPARAM count) {
  ++*reinterpret_cast<long*>(count);
  return TRUE;
}
BOOL CALLBACK CountTopLevel(HWND w, LPARAM count) {
  ++*reinterpret_cast<long*>(count);
  ::EnumChildWindows(w, CountChild, count);
  return TRUE;
}

// Every window of this thread: top-level ones with their children, and message-only ones.
long ThreadWindows() {
  long count = 0;
  ::EnumThreadWindows(::GetCurrentThreadId(), CountTopLevel, reinterpret_cast<LPARAM>(&count));
  for (HWND w = nullptr; (w = ::FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr));)
    if (::GetWindowThreadProcessId(w, nullptr) == ::GetCurrentThreadId()) ++count;
  return count;
}

// Where the system does not count (Wine answers 0): the handle values that name an object.
long ProbedHandles() {
  long count = 0;
  DWORD flags = 0;
  for (UINT_PTR value = 4; value < 0x4000; value += 4)
    count += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
  return count;
}

// Where the system does not count private bytes (Wine answers 0): committed private memory.
SIZE_T CommittedPrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION info;
  for (const char* p = nullptr; ::VirtualQuery(p, &info, sizeof info) == sizeof info;) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= p) break;
    p = next;
  }
  return total;
}

long ProcessThreads() {
  long count = 0;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
    count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
  ::CloseHandle(snapshot);
  return count;
}

Sample Measure() {
  Sample s;
  s.threads = static_cast<double>(ProcessThreads());
  DWORD handles = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
  s.handles = handles ? handles : ProbedHandles();
  s.user = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  s.gdi = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  s.windows = static_cast<double>(ThreadWindows());
  PROCESS_MEMORY_COUNTERS_EX pmc = {};
  pmc.cb = sizeof pmc;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                         sizeof pmc);
  s.privateKiB = static_cast<double>((pmc.PrivateUsage ? pmc.PrivateUsage : CommittedPrivateBytes()) / 1024);
  s.peakKiB = static_cast<double>(pmc.PeakWorkingSetSize / 1024);
  return s;
}

double Growth(double first, double last) {
  if (first == last) return 0;
  return first == 0 ? 100 : (last - first) * 100 / first;
}

bool g_flat = true;

void PrintRow(const char* run, const char* point, const Sample& s) {
  std::printf("%-22s %-12s %8.0f %6.0f %6.0f %8.0f %8.0f %12.0f %12.0f\n", run, point, s.handles,
              s.user, s.gdi, s.windows, s.threads, s.privateKiB, s.peakKiB);
}

// Runs `runTo` up to `total` units in tenths, sampling before the run and after each tenth.
void Soak(const char* run, long total, const std::function<void(long target)>& runTo) {
  const Sample before = Measure();
  Sample first, last;
  const DWORD start = ::GetTickCount();
  for (int tenth = 1; tenth <= 10; ++tenth) {
    runTo(total * tenth / 10);
    host::Pump(nullptr, 200);  // completions still under way come in before the sample
    (tenth == 1 ? first : last) = Measure();
  }
  const double seconds = (::GetTickCount() - start) / 1000.0;
  PrintRow(run, "before", before);
  PrintRow(run, "1st tenth", first);
  PrintRow(run, "last tenth", last);
  const double growth[] = {Growth(first.handles, last.handles), Growth(first.user, last.user),
                           Growth(first.gdi, last.gdi),         Growth(first.windows, last.windows),
                           Growth(first.threads, last.threads),
                           Growth(first.privateKiB, last.privateKiB),
                           Growth(first.peakKiB, last.peakKiB)};
  std::printf("%-22s %-12s %7.2f%% %5.2f%% %5.2f%% %7.2f%% %7.2f%% %11.2f%% %11.2f%%   (%ld in %.0f s)\n",
              run, "growth", growth[0], growth[1], growth[2], growth[3], growth[4], growth[5],
              growth[6], total, seconds);
  for (double g : growth) g_flat = g_flat && g < 1.0;
  std::fflush(stdout);
}

// The test host's sink records every event; it is emptied after each chunk of datagrams, so that
// what it holds stays small beside what is measured.
constexpr long kChunk = 1000;

void OpenReady(Host& h) {
  const int ready = h.sink().Count(udp::kEventReady);
  h.MustCall(L"Open", {Var(L"0")});
  if (!h.WaitForEvents(udp::kEventReady, ready + 1)) throw std::runtime_error("no Ready");
}

u_short BoundPort(Host& h) {
  sockaddr_in local{};
  int length = sizeof local;
  ::getsockname(static_cast<SOCKET>(static_cast<ULONG>(h.MustGet(L"Socket").i4())),
                reinterpret_cast<sockaddr*>(&local), &length);
  return ::ntohs(local.sin_port);
}

void Wait(const std::function<bool()>& done, const char* what) {
  if (!host::Pump(done, 60000)) {
    std::fprintf(stderr, "stalled: %s\n", what);
    std::exit(2);
  }
}

void SendSoak(long datagrams) {
  Host h;
  OpenReady(h);
  host::PeerSocket receiver;
  const std::vector<Var> args = {Var(L"127.0.0.1"), Var(static_cast<int>(receiver.port())),
                                 Var::Bytes(std::vector<unsigned char>(32, 0x5A))};
  long sent = 0, wanted = 0;
  auto sendOne = [&] {
    if (FAILED(h.InvokeId(UDP_DISPID(SendTo), DISPATCH_METHOD, args).hr)) throw std::runtime_error("SendTo");
  };
  h.sink().handler = [&](const host::Event& e, DISPPARAMS*) {
    if (e.id == udp::kEventSent && ++sent < wanted) sendOne();
  };
  std::vector<unsigned char> drained;
  Soak("SendTo/Sent", datagrams, [&](long target) {
    while (sent < target) {
      wanted = std::min(target, sent + kChunk);
      sendOne();
      Wait([&] { return sent >= wanted; }, "Sent");
      h.sink().Clear();
      while (receiver.Receive(drained, nullptr, 0)) {
      }
    }
  });
}

void ReceiveSoak(long datagrams) {
  constexpr long kInFlight = 32;
  Host h;
  OpenReady(h);
  const u_short port = BoundPort(h);
  host::PeerSocket sender;
  const std::vector<unsigned char> data(32, 0x5A);
  long sent = 0, received = 0, wanted = 0;
  h.sink().handler = [&](const host::Event& e, DISPPARAMS*) {
    if (e.id != udp::kEventReceived) return;
    ++received;
    if (sent < wanted) sent += sender.SendTo(port, data);
  };
  Soak("Received", datagrams, [&](long target) {
    while (received < target) {
      wanted = std::min(target, received + kChunk);
      while (sent < std::min(wanted, received + kInFlight)) sent += sender.SendTo(port, data);
      Wait([&] { return received >= wanted; }, "Received");
      h.sink().Clear();
    }
  });
}

// UdpSocket without sinks, taking every datagram through Receive, with a second object's Wait
// pumping the thread between Receive calls: every datagram arrives, in order.
void SocketReceiveSoak(long datagrams) {
  constexpr long kInFlight = 32;
  auto make = [] {
    fw::com_ptr<IUnknown> object;
    if (FAILED(server::CreateUdpSocket(IID_IUnknown, object.put_void())))
      throw std::runtime_error("no UdpSocket");
    auto h = std::make_unique<Host>(object.get());
    h->Disconnect();
    return h;
  };
  auto socket = make(), other = make();
  socket->MustCall(L"Open", {Var(L"0")});
  const u_short port = BoundPort(*socket);
  host::PeerSocket sender;
  std::vector<unsigned char> data(32, 0x5A);
  long sent = 0, received = 0;
  auto sendOne = [&] {
    std::memcpy(data.data(), &sent, sizeof sent);
    sent += sender.SendTo(port, data);
  };
  const Var waitTime(1000), noTime(0);
  Soak("UdpSocket Receive", datagrams, [&](long target) {
    while (received < target) {
      while (sent < std::min(target, received + kInFlight)) sendOne();
      const Var got = socket->MustCall(L"Receive", {waitTime});
      if (got.vt() == VT_EMPTY) throw std::runtime_error("a datagram was lost to Receive");
      long number = -1;
      std::memcpy(&number, got.bytes().data(), sizeof number);
      if (number != received) throw std::runtime_error("Receive gave a datagram out of order");
      ++received;
      other->MustCall(L"Wait", {noTime});
    }
  });
}

void OpenCloseSoak(long cycles) {
  Host h;
  long done = 0;
  Soak("Open/Close", cycles, [&](long target) {
    for (; done < target; ++done) {
      OpenReady(h);
      h.MustCall(L"Close");
      h.sink().Clear();
    }
  });
}

// Each control starts every look-up it has (its local service, a remote service, the Inet trio)
// and is destroyed before any of them completes.
void ControlsSoak(long controls) {
  long done = 0;
  Soak("controls, look-ups out", controls, [&](long target) {
    for (; done < target; ++done) {
      {
        Host h;
        h.MustCall(L"Open", {Var(L"echo")});
        h.MustCall(L"SendTo", {Var(L"127.0.0.1"), Var(L"echo"), Var::Bytes({1})});
        h.MustPut(L"InetName", Var(L"localhost"));
      }
      // The next control starts once the completions of this one's look-ups have come in (the
      // relay window that takes them goes when it has nothing outstanding): bursts of look-ups
      // would only measure how far Wine's resolver thread pool grows.
      host::Pump([] { return !::FindWindowExW(HWND_MESSAGE, nullptr, L"KarvoDgramixLookups",
                                              nullptr); },
                 200);
    }
  });
}

long Arg(int argc, char** argv, const char* name, long fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const long datagrams = Arg(argc, argv, "--datagrams", 1000000);
  const long cycles = Arg(argc, argv, "--cycles", 10000);
  const long controls = Arg(argc, argv, "--controls", 10000);
  ::OleInitialize(nullptr);
  WSADATA wsa;
  ::WSAStartup(0x0101, &wsa);
  DWORD handles = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
  if (handles == 0)
    std::printf("The system counts no handles and no private bytes (Wine): handles are probed, "
                "private\nbytes are the committed private regions, and windows stand in for the "
                "USER objects.\n");
  std::printf("%-22s %-12s %8s %6s %6s %8s %8s %12s %12s\n", "run", "sample", "handles", "USER",
              "GDI", "windows", "threads", "private KiB", "peak WS KiB");
  try {
    SendSoak(datagrams);
    ReceiveSoak(datagrams);
    SocketReceiveSoak(datagrams);
    OpenCloseSoak(cycles);
    ControlsSoak(controls);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "soak failed: %s\n", e.what());
    return 2;
  }
  std::printf("flat (under 1 %% growth from the first tenth to the last): %s\n",
              g_flat ? "yes" : "NO");
  ::WSACleanup();
  ::OleUninitialize();
  return g_flat ? 0 : 1;
}
