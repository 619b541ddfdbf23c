// Where a datagram's time goes inside the process: the control's own work on the send and the
// receive path, timed with the performance counter around each step, with the sockets calls
// replaced by stand-ins that return at once (so Wine's cost of the real calls is measured apart),
// and the C++ allocations counted per datagram.
//
//   udp_profile.exe [--count N]
#include <winsock.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "bench_host.h"
#include "endpoint/data_variant.h"
#include "support/winsock_fault.h"

namespace {

std::atomic<long> g_allocations{0};

using namespace bench;

int PASCAL InstantSendTo(SOCKET, const char*, int length, int, const sockaddr*, int) {
  return length;
}

udp::SocketAddress g_peer;
int PASCAL InstantRecvFrom(SOCKET, char* buffer, int length, int, sockaddr* from, int* fromLength) {
  const int n = std::min(length, 32);
  std::memset(buffer, 0x5A, static_cast<size_t>(n));
  if (from && fromLength && *fromLength >= g_peer.Length()) {
    std::memcpy(from, g_peer.Get(), static_cast<size_t>(g_peer.Length()));
    *fromLength = g_peer.Length();
  }
  return n;
}

struct Step {
  explicit Step(const char* n) : name(n) {}
  const char* name;
  std::vector<double> us;  // per batch: microseconds per datagram
  double allocations = 0;  // C++ allocations per datagram (last batch)
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Takes the next message of this thread, waiting for it; false when none came within a second.
bool NextMessage(MSG& msg) {
  for (int i = 0; i < 1000; ++i) {
    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return true;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
  return false;
}

}  // namespace

// Counts every C++ allocation of the process, the control's included (it is linked in).
void* operator new(size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  ++g_allocations;
  return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
  int n = 20000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--count") == 0) n = std::max(100, std::atoi(argv[i + 1]));
  const int batches = 5, perBatch = n / batches;
  ::OleInitialize(nullptr);
  WSADATA wsa;
  ::WSAStartup(0x0101, &wsa);

  Control c;
  const u_short port = c.Open();
  g_peer = Loopback(port);
  Control::SendArgs args(port, 32);
  host::WinsockPatch seam;
  seam->sendto = InstantSendTo;
  seam->recvfrom = InstantRecvFrom;

  Step sendCall{"SendTo through IDispatch (incl. PostMessage)"};
  Step writeNotify{"write notification: HandleWrite + Sent"};
  Step readNotify{"read notification: HandleRead + Received"};
  Step bareWrite{"bare loop: write notification dispatched"};
  Step bareRead{"bare loop: read notification dispatched"};
  Step post{"PostMessage alone (Wine)"};
  Step postEmpty{"PostMessage into an empty queue (Wine)"};
  Step setopt{"setsockopt SO_BROADCAST alone (Wine)"};
  Step sendReal{"sendto alone (Wine)"};
  Step peekDispatch{"PeekMessage of a posted message (Wine)"};

  PlainSocket sink;
  const udp::SocketAddress toSink = Loopback(sink.port);
  std::vector<char> data(32, 0x5A);
  HWND window = nullptr;
  MSG msg;
  for (int b = 0; b < batches; ++b) {
    double tCall = 0, tWrite = 0, tRead = 0, tPostEmpty = 0;
    long allocCall = 0, allocWrite = 0, allocRead = 0;
    for (int i = 0; i < perBatch; ++i) {
      long a0 = g_allocations;
      double t0 = Now();
      c.SendTo(args);
      double t1 = Now();
      allocCall += g_allocations - a0;
      if (!NextMessage(msg)) return std::puts("no write notification"), 1;
      double t2 = Now();
      window = msg.hwnd;
      a0 = g_allocations;
      ::DispatchMessageW(&msg);
      double t3 = Now();
      allocWrite += g_allocations - a0;
      ::PostMessageW(window, kNotify, static_cast<WPARAM>(c.Socket()), FD_READ);
      if (!NextMessage(msg)) return std::puts("no read notification"), 1;
      a0 = g_allocations;
      double t4 = Now();
      ::DispatchMessageW(&msg);
      double t5 = Now();
      allocRead += g_allocations - a0;
      // What SendTo's own post costs in the same state of the queue: empty.
      const double t6 = Now();
      ::PostMessageW(window, WM_NULL, 0, 0);
      tPostEmpty += Now() - t6;
      if (!NextMessage(msg)) return std::puts("no posted message"), 1;
      tCall += t1 - t0;
      tWrite += t3 - t2;
      tRead += t5 - t4;
    }
    sendCall.us.push_back(tCall * 1e6 / perBatch);
    postEmpty.us.push_back(tPostEmpty * 1e6 / perBatch);
    writeNotify.us.push_back(tWrite * 1e6 / perBatch);
    readNotify.us.push_back(tRead * 1e6 / perBatch);
    sendCall.allocations = static_cast<double>(allocCall) / perBatch;
    writeNotify.allocations = static_cast<double>(allocWrite) / perBatch;
    readNotify.allocations = static_cast<double>(allocRead) / perBatch;

    // Wine's own costs of the calls the path makes, measured bare for comparison.
    double t0 = Now();
    for (int i = 0; i < perBatch; ++i) ::PostMessageW(window, WM_NULL, 0, 0);
    double t1 = Now();
    for (int i = 0; i < perBatch; ++i) ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
    double t2 = Now();
    const int on = 1;
    for (int i = 0; i < perBatch; ++i)
      ::setsockopt(sink.s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
    double t3 = Now();
    for (int i = 0; i < perBatch; ++i)
      ::sendto(sink.s, data.data(), 32, 0, toSink.Get(), toSink.Length());
    double t4 = Now();
    post.us.push_back((t1 - t0) * 1e6 / perBatch);
    peekDispatch.us.push_back((t2 - t1) * 1e6 / perBatch);
    setopt.us.push_back((t3 - t2) * 1e6 / perBatch);
    sendReal.us.push_back((t4 - t3) * 1e6 / perBatch);
    // Drain what the bare sends queued on the sink socket.
    char buffer[64];
    u_long waiting = 1;
    while (::ioctlsocket(sink.s, FIONREAD, &waiting) == 0 && waiting > 0)
      ::recv(sink.s, buffer, sizeof buffer, 0);
  }

  // The bare loop's share of the same steps: a window whose handler does what the bare benchmark
  // loop does with the stand-in calls.
  {
    BareWindow bare;
    std::vector<char> bareBuffer(65467);
    bare.onNotify = [&](SOCKET s, WORD event) {
      if (event == FD_READ) {
        sockaddr_in from;
        int len = sizeof from;
        InstantRecvFrom(s, bareBuffer.data(), static_cast<int>(bareBuffer.size()), 0,
                        reinterpret_cast<sockaddr*>(&from), &len);
      } else {
        InstantSendTo(s, bareBuffer.data(), 32, 0, nullptr, 0);
      }
    };
    for (int b = 0; b < batches; ++b) {
      double tWrite = 0, tRead = 0;
      for (int i = 0; i < perBatch; ++i) {
        for (WORD event : {WORD{FD_WRITE}, WORD{FD_READ}}) {
          ::PostMessageW(bare.hwnd(), kNotify, 0, event);
          if (!NextMessage(msg)) return std::puts("no bare notification"), 1;
          const double t0 = Now();
          ::DispatchMessageW(&msg);
          (event == FD_WRITE ? tWrite : tRead) += Now() - t0;
        }
      }
      bareWrite.us.push_back(tWrite * 1e6 / perBatch);
      bareRead.us.push_back(tRead * 1e6 / perBatch);
    }
  }

  // The pieces the path is made of, each alone.
  struct Piece {
    const char* name;
    std::function<void()> run;
  };
  VARIANT version;
  ::VariantInit(&version);
  const DISPID versionId = c.Id(L"Version");
  const Piece pieces[] = {
      {"Invoke of a property get (Version)", [&] { c.Get(versionId, &version); }},
      {"SendTo's data to a byte string and back", [&] {
         fw::unique_bstr bytes;
         udp::BytesFromVariant(&args.args[0], bytes);
       }},
      {"inet_addr(\"127.0.0.1\")", [] { udp::Winsock().inet_addr("127.0.0.1"); }},
      {"Received's array: create and destroy", [] {
         VARIANT v;
         udp::VariantFromBytes("0123456789abcdef0123456789abcdef", 32, &v);
         ::VariantClear(&v);
       }},
      {"two BSTRs: allocate and free", [] {
         ::SysFreeString(::SysAllocString(L"127.0.0.1"));
         ::SysFreeString(::SysAllocString(L"5000"));
       }},
      {"new and delete of a 65467-byte buffer", [] { delete[] new char[65467]; }},
  };
  std::vector<std::pair<const char*, double>> pieceTimes;
  for (const Piece& piece : pieces) {
    std::vector<double> us;
    for (int b = 0; b < batches; ++b) {
      const double t0 = Now();
      for (int i = 0; i < perBatch; ++i) piece.run();
      us.push_back((Now() - t0) * 1e6 / perBatch);
    }
    pieceTimes.emplace_back(piece.name, Median(us));
  }

  std::printf("%d datagrams of 32 bytes in %d batches; medians of the batches, microseconds per\n"
              "datagram; C++ allocations per datagram (BSTRs and SAFEARRAYs not counted).\n\n",
              perBatch * batches, batches);
  std::printf("%-48s %10s %8s\n", "step", "us", "allocs");
  for (const Step* s : {&sendCall, &writeNotify, &readNotify})
    std::printf("%-48s %10.2f %8.1f\n", s->name, Median(s->us), s->allocations);
  for (const Step* s : {&bareWrite, &bareRead, &postEmpty, &post, &peekDispatch, &setopt, &sendReal})
    std::printf("%-48s %10.2f %8s\n", s->name, Median(s->us), "");
  for (const auto& [name, us] : pieceTimes) std::printf("%-48s %10.2f %8s\n", name, us, "");
  ::WSACleanup();
  ::OleUninitialize();
  return 0;
}
