// Datagram rates of the control against bare WSAAsyncSelect window loops of the same shape,
// measured in interleaved rounds on one thread; prints a table of medians.
//
//   udp_bench.exe [--count N] [--rounds R] [--memory-datagrams M] [--only ROW [--side A|B]]
// --only runs one row; with --side it runs one round of one side and prints nothing (for tracing
// the calls that side makes, e.g. under WINEDEBUG=+server).
#include <winsock.h>
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_host.h"
#include "server/udp_socket.h"

namespace {

using namespace bench;

// --- one round of each measurement; each returns datagrams (or round trips) per second ---

struct Round {
  double rate = 0;
  int lost = 0;
  double p50us = 0, p99us = 0;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

Round ControlSend(int n, size_t size, Family f = Family::Ipv4) {
  Control c;
  c.Open(f);
  PlainSocket receiver(f);
  Control::SendArgs args(receiver.port, size, f);
  int sent = 0;
  c.sink().onRaw = [&](DISPID id, DISPPARAMS*) {
    if (id == host::kSent && ++sent < n) c.SendTo(args);
  };
  const double start = Now();
  c.SendTo(args);
  RunUntil([&] { return sent >= n; });
  return {n / (Now() - start)};
}

// The control's shape: each datagram is sent from a write notification the loop posted itself.
Round BareSend(int n, size_t size, bool postEach, Family f = Family::Ipv4) {
  BareWindow w;
  PlainSocket sender(f), receiver(f);
  w.Register(sender.s);
  const udp::SocketAddress to = Loopback(receiver.port, f);
  std::vector<char> data(size, 0x5A);
  int sent = 0;
  auto sendOne = [&] {
    ::sendto(sender.s, data.data(), static_cast<int>(size), 0, to.Get(), to.Length());
    ++sent;
  };
  const double start = Now();
  if (postEach) {
    w.onNotify = [&](SOCKET, WORD event) {
      if (event != FD_WRITE) return;
      sendOne();
      if (sent < n) w.PostWrite(sender.s);
    };
    w.PostWrite(sender.s);
    RunUntil([&] { return sent >= n; });
  } else {
    while (sent < n) sendOne();
  }
  return {n / (Now() - start)};
}

// Datagrams from a plain socket to an object with the control's members, taken through its sink
// or, with throughReceive (UdpSocket only), through Receive calls with no sink connected.
Round ReceiveOn(Control& c, int n, size_t size, bool throughReceive, Family f = Family::Ipv4) {
  const u_short port = c.Open(f);
  PlainSocket sender(f);
  const udp::SocketAddress to = Loopback(port, f);
  std::vector<char> data(size, 0x5A);
  int sent = 0, received = 0;
  auto sendOne = [&] {
    ::sendto(sender.s, data.data(), static_cast<int>(size), 0, to.Get(), to.Length());
    ++sent;
  };
  const DISPID receive = c.Id(L"Receive");
  const double start = Now();
  while (sent < std::min(n, kReceiveWindow)) sendOne();
  if (throughReceive) {
    c.sink().onRaw = nullptr;  // no sink: every datagram is Receive's
    c.Disconnect();
    while (received < n && c.Receive(receive, 1000)) {
      ++received;
      if (sent < n) sendOne();
    }
  } else {
    c.sink().onRaw = [&](DISPID id, DISPPARAMS*) {
      if (id != host::kReceived) return;
      ++received;
      if (sent < n) sendOne();
    };
    RunUntil([&] { return received >= n; });
  }
  const double elapsed = Now() - start;
  return {received / elapsed, n - received};
}

Round ControlReceive(int n, size_t size, Family f = Family::Ipv4) {
  Control c;
  return ReceiveOn(c, n, size, false, f);
}

// UdpSocket receiving in a C++ host: through its connected sink, or through Receive calls.
Round SocketReceive(int n, size_t size, bool throughReceive) {
  fw::com_ptr<IUnknown> object;
  if (FAILED(server::CreateUdpSocket(IID_IUnknown, object.put_void())))
    throw std::runtime_error("no UdpSocket");
  Control c(object.get());
  return ReceiveOn(c, n, size, throughReceive);
}

Round BareReceive(int n, size_t size, Family f = Family::Ipv4) {
  BareWindow w;
  PlainSocket sender(f), receiver(f);
  w.Register(receiver.s);
  const udp::SocketAddress to = Loopback(receiver.port, f);
  std::vector<char> data(size, 0x5A), buffer(65467);
  int sent = 0, received = 0;
  auto sendOne = [&] {
    ::sendto(sender.s, data.data(), static_cast<int>(size), 0, to.Get(), to.Length());
    ++sent;
  };
  w.onNotify = [&](SOCKET s, WORD event) {
    if (event != FD_READ) return;
    udp::SocketAddress from;
    int len = 0;
    if (::recvfrom(s, buffer.data(), static_cast<int>(buffer.size()), 0, from.Out(&len), &len) <= 0)
      return;
    ++received;
    if (sent < n) sendOne();
  };
  const double start = Now();
  while (sent < std::min(n, kReceiveWindow)) sendOne();
  RunUntil([&] { return received >= n; });
  const double elapsed = Now() - start;
  return {received / elapsed, n - received};
}

Round ControlRoundTrip(int n, size_t size) {
  Control a, b;
  const u_short portA = a.Open();
  const u_short portB = b.Open();
  Control::SendArgs toB(portB, size), toA(portA, size);
  std::vector<double> rtts;
  rtts.reserve(static_cast<size_t>(n));
  double sentAt = 0;
  b.sink().onRaw = [&](DISPID id, DISPPARAMS*) {
    if (id == host::kReceived) b.SendTo(toA);
  };
  a.sink().onRaw = [&](DISPID id, DISPPARAMS*) {
    if (id != host::kReceived) return;
    const double t = Now();
    rtts.push_back(t - sentAt);
    if (static_cast<int>(rtts.size()) < n) {
      sentAt = t;
      a.SendTo(toB);
    }
  };
  const double start = Now();
  sentAt = start;
  a.SendTo(toB);
  RunUntil([&] { return static_cast<int>(rtts.size()) >= n; });
  const double elapsed = Now() - start;
  return {rtts.size() / elapsed, n - static_cast<int>(rtts.size()), Percentile(rtts, 0.5) * 1e6,
          Percentile(rtts, 0.99) * 1e6};
}

// Two bare endpoints with the control's shape: a reply is sent from a posted write notification.
Round BareRoundTrip(int n, size_t size) {
  BareWindow w;
  PlainSocket a, b;
  w.Register(a.s);
  w.Register(b.s);
  const udp::SocketAddress toA = Loopback(a.port), toB = Loopback(b.port);
  std::vector<char> data(size, 0x5A), buffer(65467);
  bool pendingA = false, pendingB = false;
  std::vector<double> rtts;
  rtts.reserve(static_cast<size_t>(n));
  double sentAt = 0;
  w.onNotify = [&](SOCKET s, WORD event) {
    const bool isA = s == a.s;
    if (event == FD_WRITE) {
      bool& pending = isA ? pendingA : pendingB;
      if (!pending) return;
      pending = false;
      const udp::SocketAddress& to = isA ? toB : toA;
      ::sendto(s, data.data(), static_cast<int>(size), 0, to.Get(), to.Length());
      return;
    }
    if (event != FD_READ) return;
    udp::SocketAddress from;
    int len = 0;
    if (::recvfrom(s, buffer.data(), static_cast<int>(buffer.size()), 0, from.Out(&len), &len) <= 0)
      return;
    if (isA) {
      const double t = Now();
      rtts.push_back(t - sentAt);
      if (static_cast<int>(rtts.size()) >= n) return;
      sentAt = t;
      pendingA = true;
      w.PostWrite(a.s);
    } else {
      pendingB = true;
      w.PostWrite(b.s);
    }
  };
  const double start = Now();
  sentAt = start;
  pendingA = true;
  w.PostWrite(a.s);
  RunUntil([&] { return static_cast<int>(rtts.size()) >= n; });
  const double elapsed = Now() - start;
  return {rtts.size() / elapsed, n - static_cast<int>(rtts.size()), Percentile(rtts, 0.5) * 1e6,
          Percentile(rtts, 0.99) * 1e6};
}

// --- rounds, medians and the table ---

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

struct Summary {
  double rate = 0, p50 = 0, p99 = 0;
  int lost = 0;
};

Summary Summarise(const std::vector<Round>& rounds) {
  std::vector<double> rate, p50, p99;
  Summary s;
  for (auto& r : rounds) {
    rate.push_back(r.rate);
    p50.push_back(r.p50us);
    p99.push_back(r.p99us);
    s.lost += r.lost;
  }
  s.rate = Median(rate);
  s.p50 = Median(p50);
  s.p99 = Median(p99);
  return s;
}

struct Row {
  std::string name;
  std::function<Round()> a, b;
  bool latency = false;
  bool counted = true;  // part of the min ratio
};

PROCESS_MEMORY_COUNTERS MemoryCounters() {
  PROCESS_MEMORY_COUNTERS pmc = {};
  pmc.cb = sizeof pmc;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc);
  return pmc;
}
size_t PeakWorkingSet() { return MemoryCounters().PeakWorkingSetSize; }

// Pushes datagrams through two controls in ping-pong until `datagrams` have been received, in
// tenths; returns the working set and the committed bytes after the first tenth and after the last.
struct MemoryTenths {
  PROCESS_MEMORY_COUNTERS first, last;
};
MemoryTenths MemoryRun(int datagrams) {
  const int roundTrips = std::max(10, datagrams / 2);
  const int tenth = roundTrips / 10;
  MemoryTenths m{};
  for (int i = 0; i < 10; ++i) {
    ControlRoundTrip(tenth, 32);
    (i == 0 ? m.first : m.last) = MemoryCounters();
  }
  return m;
}

size_t KiB(SIZE_T bytes) { return static_cast<size_t>(bytes / 1024); }

double Growth(size_t first, size_t last) {
  return first ? 100.0 * (static_cast<double>(last) - static_cast<double>(first)) /
                     static_cast<double>(first)
               : 0;
}

const char* TextArg(int argc, char** argv, const char* name) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
  return nullptr;
}

int Arg(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = std::max(1, Arg(argc, argv, "--count", 20000));
  const int rounds = std::max(1, Arg(argc, argv, "--rounds", 5));
  const int memoryDatagrams = Arg(argc, argv, "--memory-datagrams", 1000000);
  ::OleInitialize(nullptr);
  WSADATA wsa;
  ::WSAStartup(0x0101, &wsa);

  std::vector<Row> rows;
  for (size_t size : {size_t{32}, size_t{1024}}) {
    const std::string s = std::to_string(size);
    rows.push_back({"send " + s, [=] { return ControlSend(n, size); },
                    [=] { return BareSend(n, size, true); }});
    rows.push_back({"receive " + s, [=] { return ControlReceive(n, size); },
                    [=] { return BareReceive(n, size); }});
    rows.push_back({"round trip " + s, [=] { return ControlRoundTrip(n, size); },
                    [=] { return BareRoundTrip(n, size); }, true});
    rows.push_back({"post shape " + s, [=] { return BareSend(n, size, true); },
                    [=] { return BareSend(n, size, false); }, false, false});
    rows.push_back({"socket sink " + s, [=] { return SocketReceive(n, size, false); },
                    [=] { return BareReceive(n, size); }});
    rows.push_back({"socket Receive " + s, [=] { return SocketReceive(n, size, true); },
                    [=] { return BareReceive(n, size); }, false, false});
  }
  // IPv6 on ::1, against bare IPv6 loops.
  constexpr size_t kIpv6Size = 32;
  rows.push_back({"send v6 32", [=] { return ControlSend(n, kIpv6Size, Family::Ipv6); },
                  [=] { return BareSend(n, kIpv6Size, true, Family::Ipv6); }});
  rows.push_back({"receive v6 32", [=] { return ControlReceive(n, kIpv6Size, Family::Ipv6); },
                  [=] { return BareReceive(n, kIpv6Size, Family::Ipv6); }});

  if (const char* only = TextArg(argc, argv, "--only")) {
    std::erase_if(rows, [&](const Row& r) { return r.name != only; });
    if (const char* side = TextArg(argc, argv, "--side")) {
      for (auto& row : rows) (side[0] == 'A' ? row.a : row.b)();
      return 0;
    }
  }
  std::printf(
      "N = %d per round, %d rounds per side, interleaved A B A B; medians (ratio: median of\n", n,
      rounds);
  std::printf("the A/B ratios of the pairs of rounds).\n");
  std::printf(
      "A = control, B = bare WSAAsyncSelect loop of the same shape; rates in datagrams/s\n");
  std::printf(
      "(round trips/s for round trip). post shape: A = bare loop posting one message per\n");
  std::printf("datagram, B = bare loop sending at once (not in the min ratio).\n\n");
  std::printf("%-18s %12s %12s %7s %8s %16s %16s\n", "row", "A /s", "B /s", "ratio", "lost A/B",
              "p50 us A/B", "p99 us A/B");
  double minRatio = 1e9;
  const size_t peakBefore = PeakWorkingSet();
  for (auto& row : rows) {
    row.a();  // warm-up, not counted
    row.b();
    std::vector<Round> ra, rb;
    for (int r = 0; r < rounds; ++r) {
      ra.push_back(row.a());
      rb.push_back(row.b());
    }
    const Summary a = Summarise(ra), b = Summarise(rb);
    // The median of the pairs' ratios: each pair ran back to back, under the same conditions.
    std::vector<double> pairRatios;
    for (int r = 0; r < rounds; ++r) pairRatios.push_back(ra[r].rate / rb[r].rate);
    const double ratio = Median(pairRatios);
    if (row.counted) minRatio = std::min(minRatio, ratio);
    char lost[32], p50[32] = "", p99[32] = "";
    std::snprintf(lost, sizeof lost, "%d/%d", a.lost, b.lost);
    if (row.latency) {
      std::snprintf(p50, sizeof p50, "%.0f/%.0f", a.p50, b.p50);
      std::snprintf(p99, sizeof p99, "%.0f/%.0f", a.p99, b.p99);
    }
    std::printf("%-18s %12.0f %12.0f %7.2f %8s %16s %16s\n", row.name.c_str(), a.rate, b.rate,
                ratio, lost, p50, p99);
    std::fflush(stdout);
  }
  if (memoryDatagrams > 0) {
    const double start = Now();
    const MemoryTenths m = MemoryRun(memoryDatagrams);
    std::printf(
        "\n%d datagrams through two controls, in tenths (%.0f s): working set %zu KiB after the "
        "first tenth, %zu KiB after the last (%+.2f %%); committed %zu KiB, %zu KiB (%+.2f %%); "
        "peak working set %zu KiB before the rows, %zu KiB at the end\n",
        memoryDatagrams, Now() - start, KiB(m.first.WorkingSetSize), KiB(m.last.WorkingSetSize),
        Growth(m.first.WorkingSetSize, m.last.WorkingSetSize), KiB(m.first.PagefileUsage),
        KiB(m.last.PagefileUsage), Growth(m.first.PagefileUsage, m.last.PagefileUsage),
        KiB(peakBefore), KiB(m.last.PeakWorkingSetSize));
  }
  if (minRatio < 1e9) std::printf("min ratio %.2f\n", minRatio);
  ::WSACleanup();
  ::OleUninitialize();
  return 0;
}
