// udp_fuzz: drives controls through IDispatch::Invoke with random members, flags and arguments,
// loads corrupted forms, lets event sinks re-enter at random and destroys controls with look-ups
// in flight; then checks that a control still exchanges datagrams. Reproducible from its seed.
//
//   udp_fuzz.exe [--seed N] [--calls N] [--forms N] [--argument-faults] [--trace]
//                [--keys-out FILE]
// Without --seed the seed is UDP_FUZZ_SEED, or else fresh; it is printed first either way.
// Exit code 0 when nothing was refused, no object leaked, no promise about results and event
// arguments was broken and the final exchange worked; a crash
// prints the seed and the step and exits with 3.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "control/udp_ctrl.h"
#include "framework/ui_hooks.h"
#include "server/udp_socket.h"
#include "typelib/udp_dispids.h"
#include "fuzz/fuzz.h"
#include "support/host.h"

namespace fuzz {

Step g_step;
bool g_trace = false;

void Pump(int ms) { host::Pump(nullptr, ms); }

namespace {

constexpr int kPoolSize = 4;
uint64_t g_seed = 0;
long g_messageBoxes = 0, g_dialogs = 0;

// The entry of a DISPID in the control's table or UdpSocket's own, or nullptr.
const fw::DispMember* EntryOf(DISPID id) {
  for (const fw::DispMember& e : udp::kUdpDispatch)
    if (e.dispid == id) return &e;
  for (const fw::DispMember& e : server::kUdpSocketDispatch)
    if (e.dispid == id) return &e;
  return nullptr;
}

// Every DISPID of both surfaces (not the control's own AboutBox, a modal dialog), and some that
// name nothing.
std::vector<DISPID> SurfaceIds() {
  std::vector<DISPID> ids;
  for (const auto& e : udp::kUdpDispatch) ids.push_back(e.dispid);
  for (const auto& e : server::kUdpSocketDispatch) ids.push_back(e.dispid);
  return ids;
}
constexpr DISPID kUnknownIds[] = {0, 23, 24, 25, 38, 39, 42, DISPID_UNKNOWN, DISPID_PROPERTYPUT,
                                  DISPID_NEWENUM, DISPID_EVALUATE, -551, -553, 0x7FFFFFFF,
                                  static_cast<DISPID>(0x80000000)};
constexpr DISPID kAnyOtherId = 0x7FFFFFFE;
// UdpSocket's callback properties, by event DISPID - 1.
constexpr const wchar_t* kCallbacks[] = {L"OnWsError", L"OnReceived", L"OnClosed", L"OnReady",
                                         L"OnSent"};

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
  std::fprintf(stderr,
               "CRASH: exception 0x%08lx at %p; seed %llu, step %s %ld (replay: --seed %llu "
               "--trace)\n",
               info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress,
               static_cast<unsigned long long>(g_seed), g_step.phase, g_step.index,
               static_cast<unsigned long long>(g_seed));
  std::fflush(stderr);
  ::TerminateProcess(::GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

int CountMessageBox(HWND, const wchar_t*, const wchar_t*, UINT) {
  ++g_messageBoxes;
  return IDOK;
}
INT_PTR CountDialog(HINSTANCE, const wchar_t*, HWND, DLGPROC, LPARAM) {
  ++g_dialogs;
  return IDOK;
}

// The DISPID under which a result counts: random DISPIDs that name nothing share one.
DISPID ResultId(DISPID id) {
  if (EntryOf(id)) return id;
  for (DISPID unknown : kUnknownIds)
    if (unknown == id) return id;
  return kAnyOtherId;
}

// Data the control hands out: a one-dimensional byte array with lower bound 0 (`size` elements
// when size is not -1).
bool IsDataArray(const VARIANT& v, long size = -1) {
  if (V_VT(&v) != (VT_ARRAY | VT_UI1) || !V_ARRAY(&v) || ::SafeArrayGetDim(V_ARRAY(&v)) != 1)
    return false;
  LONG lower = -1, upper = -2;
  ::SafeArrayGetLBound(V_ARRAY(&v), 1, &lower);
  ::SafeArrayGetUBound(V_ARRAY(&v), 1, &upper);
  return lower == 0 && upper >= 0 && (size < 0 || upper + 1 == size);
}

// What the dispatcher promises about a call that succeeded; the broken promise, or nullptr.
const char* BrokenPromise(DISPID id, WORD flags, UINT count, const VARIANT& result) {
  const fw::DispMember* entry = EntryOf(id);
  if (!entry) return "a DISPID that names nothing succeeded";
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) ||
                   ((flags & DISPATCH_METHOD) && count > 0);
  VARTYPE expected = entry->type;
  if (entry->binding != fw::DispBinding::Method && put) expected = VT_EMPTY;
  if (expected == VT_VARIANT) {
    if (id == UDP_DISPID(Receive) && V_VT(&result) != VT_EMPTY && !IsDataArray(result))
      return "Receive gave neither Empty nor a byte array from 0";
    if (id == UDP_DISPID(htonl) && !IsDataArray(result, 4)) return "htonl gave no 4-byte array";
    if (id == UDP_DISPID(htons) && !IsDataArray(result, 2)) return "htons gave no 2-byte array";
    return nullptr;
  }
  if (V_VT(&result) != expected) return "a result of another type than declared";
  if (expected == VT_BOOL && V_BOOL(&result) != VARIANT_TRUE && V_BOOL(&result) != VARIANT_FALSE)
    return "a boolean neither true nor false";
  return nullptr;
}

// What the control promises about the arguments of its events.
const char* BrokenEventPromise(DISPID id, const DISPPARAMS* params) {
  static const VARTYPE kWsError[] = {VT_I4, VT_BSTR, VT_BSTR, VT_BOOL | VT_BYREF};
  static const VARTYPE kReceived[] = {VT_BSTR, VT_BSTR, VT_ARRAY | VT_UI1};
  const VARTYPE* types = id == udp::kEventWsError ? kWsError : id == udp::kEventReceived ? kReceived
                                                                                        : nullptr;
  const UINT count = id == udp::kEventWsError ? 4 : id == udp::kEventReceived ? 3 : 0;
  if (!params || params->cArgs != count) return "an event with another number of arguments";
  for (UINT i = 0; i < count; ++i)
    if (V_VT(&params->rgvarg[count - 1 - i]) != types[i]) return "an event argument's type";
  if (id == udp::kEventReceived && !IsDataArray(params->rgvarg[0]))
    return "received data that is no byte array from 0";
  return nullptr;
}

// One IDispatch::Invoke as a hostile host makes it.
struct Call {
  DISPID id = 0;
  WORD flags = DISPATCH_METHOD;
  IID iid = IID_NULL;
  LCID lcid = 0;
  std::vector<VARIANT> args;
  std::vector<DISPID> named;
  bool nullParams = false, nullArgs = false, nullNamed = false;
  bool wantResult = true, wantExcep = true, wantArgErr = true;
};

class Fuzzer {
 public:
  Fuzzer(uint64_t seed)
      : rng_(seed), sinkRng_(seed ^ 0x5A5A5A5A5A5A5A5Aull), trafficRng_(seed + 0x9E3779B9ull) {
    for (DISPID id = 1; id <= 5; ++id) {
      reentrant_[id - 1].fuzzer = this;
      reentrant_[id - 1].event = id;
    }
  }

  Safety safety;
  Stats stats;

  void Start() {
    peer_ = std::make_unique<host::PeerSocket>();
    safety.ownedPorts.push_back(peer_->port());
    for (int i = 0; i < 3; ++i) safety.ownedPorts.push_back(host::FreeUdpPort());
    safety.InstallGuard();
    for (int i = 0; i < kPoolSize; ++i) Replace(i, false);
  }

  void RunCalls(long count) {
    g_step.phase = "calls";
    const auto ids = SurfaceIds();
    for (long i = 0; i < count; ++i) {
      g_step.index = i;
      const int slot = static_cast<int>(rng_.Below(kPoolSize));
      if (rng_.OneIn(500)) Replace(slot, true);
      if (!pool_[slot]) continue;
      Arena arena;
      ValueContext c{rng_, arena, Controls(), false};
      Call call = RandomCall(c, ids);
      Execute(*pool_[slot], call, true);
      pool_[slot]->sink().Clear();
      if (rng_.OneIn(10)) Pump(0);
      if (rng_.OneIn(100)) Traffic(1);
    }
  }

  // A control of the pool that went through all of it (a fresh one if none was initialised)
  // must still open, receive from the peer and send to it.
  bool FinalExchange() {
    g_step.phase = "final";
    int worn = 0;
    while (worn < kPoolSize && (!pool_[worn] || pool_[worn]->Get(L"State").hr != S_OK)) ++worn;
    if (worn == kPoolSize) {
      Destroy(worn = 0, false);
      pool_[worn] = std::make_unique<host::Host>();
    }
    host::Host& h = *pool_[worn];
    h.sink().handler = nullptr;
    // A UdpSocket's callbacks re-enter too.
    for (const wchar_t* callback : kCallbacks)
      if (h.Has(callback)) h.Put(callback, host::Var());
    for (int i = 0; i < kPoolSize; ++i)
      if (i != worn) Destroy(i, false);
    h.Call(L"Close");
    // What the batch left in the endpoint's settings may rightly keep Open failing (an interface
    // the system refuses, say): the check starts from the defaults.
    h.Put(L"LocalAddress", host::Var(L""));
    h.Put(L"MulticastInterface", host::Var(L""));
    Traffic(50);
    h.sink().Clear();
    if (FAILED(h.Call(L"Open", {host::Var(L"0")}).hr) || !h.WaitForEvents(udp::kEventReady, 1))
      return false;
    const LONG socket = h.MustGet(L"Socket").i4();
    sockaddr_in local{};
    int length = sizeof local;
    ::getsockname(static_cast<SOCKET>(static_cast<ULONG>(socket)),
                  reinterpret_cast<sockaddr*>(&local), &length);
    if (!peer_->SendTo(::ntohs(local.sin_port), {1, 2, 3}) ||
        !h.WaitForEvents(udp::kEventReceived, 1))
      return false;
    // Whatever the pool sent earlier may still be waiting at the peer.
    std::vector<unsigned char> bytes;
    while (peer_->Receive(bytes, nullptr, 0)) {
    }
    if (FAILED(h.Call(L"SendTo", {host::Var(L"127.0.0.1"),
                                  host::Var(static_cast<int>(peer_->port())),
                                  host::Var::Bytes({4, 5, 6})})
                   .hr) ||
        !h.WaitForEvents(udp::kEventSent, 1))
      return false;
    const bool exchanged =
        peer_->Receive(bytes, nullptr, 3000) && bytes == std::vector<unsigned char>{4, 5, 6};
    Destroy(worn, false);
    return exchanged;
  }

 private:
  std::vector<IDispatch*> Controls() const {
    std::vector<IDispatch*> out;
    for (auto& h : pool_)
      if (h) out.push_back(h->dispatch());
    return out;
  }

  Call RandomCall(ValueContext& c, const std::vector<DISPID>& ids) {
    Call call;
    // The endpoint's own methods come up more often: they open the ports that raise events.
    const DISPID endpoint[] = {UDP_DISPID(Open), UDP_DISPID(Open),   UDP_DISPID(Close),
                               UDP_DISPID(SendTo), UDP_DISPID(SendTo), UDP_DISPID(SendTo),
                               UDP_DISPID(SendTo), UDP_DISPID(SendTo)};
    call.id = rng_.Percent(15)   ? rng_.Pick(endpoint)
              : rng_.Percent(85) ? rng_.Pick(ids)
                                 : rng_.Pick(kUnknownIds);
    if (rng_.OneIn(50)) call.id = static_cast<DISPID>(rng_.Bits());
    if (call.id == DISPID_ABOUTBOX) call.id = 0;
    const fw::DispMember* entry = EntryOf(call.id);
    // Half the calls have the member's own shape, so that they get past the argument checks and
    // reach the control with hostile values; the other half have any shape at all.
    if (entry && rng_.OneIn(2)) {
      UINT count = 0;
      if (entry->binding == fw::DispBinding::Method) {
        call.flags = rng_.OneIn(4) ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : DISPATCH_METHOD;
        count = static_cast<UINT>(entry->Params().size());
        if (count > 0 && entry->Params()[count - 1].type == VT_VARIANT && rng_.OneIn(4)) --count;
      } else if (rng_.OneIn(2)) {
        call.flags = DISPATCH_PROPERTYGET;
      } else {
        call.flags = DISPATCH_PROPERTYPUT;
        call.named = {DISPID_PROPERTYPUT};
        count = 1;
      }
      call.args.resize(count);
      for (UINT i = 0; i < count; ++i) {
        VARIANT& a = call.args[count - 1 - i];  // parameter i
        const bool data = i < entry->Params().size() && entry->Params()[i].type == VT_VARIANT;
        if (rng_.OneIn(data ? 4 : 2)) {
          RandomValue(c, &a);
        } else if (!data || rng_.OneIn(3)) {
          ::VariantInit(&a);
          V_VT(&a) = VT_BSTR;
          V_BSTR(&a) = RandomText(rng_, c.small);
        } else {
          RandomBytes(rng_, &a, rng_.Below(rng_.OneIn(10) ? 70001 : 64));
        }
      }
    } else {
      call.flags = static_cast<WORD>(rng_.OneIn(20) ? rng_.Bits() : rng_.Below(16));
      if (rng_.OneIn(40)) call.iid = IID_IDispatch;
      const UINT count = rng_.Below(5);
      call.args.resize(count);
      for (auto& a : call.args) RandomValue(c, &a);
      switch (rng_.Below(10)) {
        case 0:
        case 1:
        case 2:
          call.named = {DISPID_PROPERTYPUT};
          break;
        case 3: {
          const DISPID wrong[] = {0, 1, DISPID_UNKNOWN, UDP_DISPID(Open)};
          call.named = {rng_.Pick(wrong)};
          break;
        }
        case 4:
          call.named = {DISPID_PROPERTYPUT, 0};
          break;
        default:
          break;
      }
      call.nullParams = rng_.OneIn(60);
      call.nullArgs = count > 0 && rng_.OneIn(40);
      call.nullNamed = !call.named.empty() && rng_.OneIn(20);
    }
    const LCID locales[] = {0, LOCALE_USER_DEFAULT, 0x409, 0x411, 0xFFFFFFFF};
    call.lcid = rng_.Pick(locales);
    call.wantResult = !rng_.OneIn(10);
    call.wantExcep = !rng_.OneIn(10);
    call.wantArgErr = !rng_.OneIn(10);
    safety.Sanitize(c, call.id, call.args.data(), static_cast<UINT>(call.args.size()));
    return call;
  }

  HRESULT Execute(host::Host& h, Call& call, bool record) {
    if (g_trace) {
      std::fprintf(stderr, "%s %ld: dispid %ld flags 0x%x named %zu args", g_step.phase,
                   g_step.index, static_cast<long>(call.id), call.flags, call.named.size());
      for (auto& a : call.args) std::fprintf(stderr, " 0x%x", V_VT(&a));
      std::fprintf(stderr, "\n");
      std::fflush(stderr);
    }
    DISPPARAMS params = {call.nullArgs ? nullptr : call.args.data(),
                         call.nullNamed ? nullptr : call.named.data(),
                         static_cast<UINT>(call.args.size()),
                         static_cast<UINT>(call.named.size())};
    VARIANT result;
    ::VariantInit(&result);
    EXCEPINFO excep = {};
    constexpr UINT kUnset = 0xFFFFFFFF;
    UINT argErr = kUnset;
    const HRESULT hr = h.dispatch()->Invoke(call.id, call.iid, call.lcid, call.flags,
                                            call.nullParams ? nullptr : &params,
                                            call.wantResult ? &result : nullptr,
                                            call.wantExcep ? &excep : nullptr,
                                            call.wantArgErr ? &argErr : nullptr);
    if (hr == S_OK && call.wantResult && !call.nullParams && !call.nullArgs)
      Broken(BrokenPromise(call.id, call.flags, static_cast<UINT>(call.args.size()), result));
    if (hr == DISP_E_EXCEPTION && call.wantExcep && excep.scode == 0)
      Broken("an exception without a status");
    if (argErr != kUnset && argErr >= call.args.size())
      Broken("a bad argument's position beyond the arguments");
    ::VariantClear(&result);
    ::SysFreeString(excep.bstrSource);
    ::SysFreeString(excep.bstrDescription);
    ::SysFreeString(excep.bstrHelpFile);
    for (auto& a : call.args) ::VariantClear(&a);
    if (record) {
      ++stats.calls;
      stats.results.insert({ResultId(call.id), hr, hr == DISP_E_EXCEPTION ? excep.scode : 0});
    }
    return hr;
  }

  // A small, safe call for sinks: close, reopen, send, or anything else with small values.
  void Reenter(host::Host& h) {
    Arena arena;
    ValueContext c{sinkRng_, arena, {}, true};
    Call call;
    switch (sinkRng_.Below(7)) {
      case 0:
        call.id = UDP_DISPID(Close);
        break;
      case 5:
      case 6:
        call.id = sinkRng_.OneIn(2) ? UDP_DISPID(Wait) : UDP_DISPID(Receive);  // nested pumping
        call.args.resize(1);
        safety.SafeValue(c, Sensitive::WaitTime, &call.args[0]);
        break;
      case 1:
        call.id = UDP_DISPID(Open);
        call.args.resize(1);
        safety.SafeValue(c, Sensitive::OpenPort, &call.args[0]);
        break;
      case 2:
      case 3:
        call.id = UDP_DISPID(SendTo);
        call.args.resize(3);
        safety.SafeValue(c, Sensitive::RemoteIp, &call.args[2]);
        safety.SafeValue(c, Sensitive::SendPort, &call.args[1]);
        RandomValue(c, &call.args[0]);
        break;
      default: {
        const auto ids = SurfaceIds();
        call.id = sinkRng_.Pick(ids);
        if (call.id == UDP_DISPID(Wait) || call.id == UDP_DISPID(Receive)) call.id = UDP_DISPID(Close);
        call.flags = static_cast<WORD>(1 + sinkRng_.Below(4));
        call.args.resize(sinkRng_.Below(2));
        for (auto& a : call.args) RandomValue(c, &a);
        call.named = call.flags & DISPATCH_PROPERTYPUT ? std::vector<DISPID>{DISPID_PROPERTYPUT}
                                                       : std::vector<DISPID>{};
        if (call.named.size() > call.args.size()) call.named.clear();
        safety.Sanitize(c, call.id, call.args.data(), static_cast<UINT>(call.args.size()));
      }
    }
    Execute(h, call, false);
  }

  void Broken(const char* promise) {
    if (!promise) return;
    if (stats.broken++ < 10)
      std::fprintf(stderr, "broken promise: %s (step %s %ld)\n", promise, g_step.phase,
                   g_step.index);
  }

  void OnEvent(DISPID id, DISPPARAMS* params) {
    if (id >= 1 && id <= 5) ++stats.events[id];
    Broken(BrokenEventPromise(id, params));
    if (id == udp::kEventWsError && params && params->cArgs == 4 &&
        V_VT(&params->rgvarg[0]) == (VT_BOOL | VT_BYREF) && sinkRng_.OneIn(3))
      *V_BOOLREF(&params->rgvarg[0]) = VARIANT_TRUE;
    if (depth_ >= 3 || sinkRng_.Percent(50)) return;
    ++depth_;
    ++stats.reentries;
    switch (sinkRng_.Below(6)) {
      case 0:
        Pump(0);  // DoEvents inside the handler
        break;
      default: {
        const int slot = static_cast<int>(sinkRng_.Below(kPoolSize));
        if (pool_[slot]) Reenter(*pool_[slot]);
      }
    }
    --depth_;
  }

  // Breaks reference cycles through AnyData, then releases the control; with lookUps, first
  // starts every look-up it has, so that it dies with them in flight.
  void Destroy(int slot, bool lookUps) {
    auto& h = pool_[slot];
    if (!h) return;
    if (lookUps) {
      h->Call(L"Close");
      h->Call(L"Open", {host::Var(L"echo")});
      h->Call(L"SendTo", {host::Var(L"127.0.0.1"), host::Var(L"echo"), host::Var::Bytes({1})});
      h->Put(L"InetName", host::Var(L"localhost"));
      h->Put(L"InetIp", host::Var(0x7F000001));
      ++stats.destroyedInFlight;
    }
    h->Put(L"AnyData", host::Var());
    h.reset();
  }

  void Replace(int slot, bool lookUps) {
    Destroy(slot, lookUps);
    auto& h = pool_[slot];
    if (rng_.OneIn(3)) {
      // A UdpSocket, whose callbacks re-enter as its sinks do.
      fw::com_ptr<IUnknown> socket;
      if (FAILED(server::CreateUdpSocket(IID_IUnknown, socket.put_void()))) return;
      h = std::make_unique<host::Host>(socket.get());
      for (DISPID id = 1; id <= 5; ++id)
        if (rng_.OneIn(2)) h->Put(kCallbacks[id - 1], host::Var::Object(&reentrant_[id - 1]));
    } else {
      // Now and then a control that nobody initialised: every call must answer E_UNEXPECTED.
      const bool initialise = !rng_.OneIn(8);
      h = std::make_unique<host::Host>(initialise ? host::Host::Init::New : host::Host::Init::None);
    }
    h->sink().handler = [this](const host::Event& e, DISPPARAMS* params) {
      const DISPID id = e.id;  // the event list may grow while the handler re-enters
      OnEvent(id, params);
    };
  }

  // A callback of one event that re-enters as a sink does. It lives as long as the fuzzer.
  class Reentrant : public host::StaticDispatch {
   public:
    Fuzzer* fuzzer = nullptr;
    DISPID event = 0;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
      if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
      fuzzer->OnEvent(event, params);
      return S_OK;
    }
  };
  Reentrant reentrant_[5];

  // Datagrams from the peer to every owned port and to the pool's open sockets, of any size;
  // what the controls sent is drained.
  void Traffic(int ms) {
    const size_t sizes[] = {0, 1, 3, 32, 1472, 65467, 65500};
    std::vector<u_short> ports(safety.ownedPorts.begin() + 1, safety.ownedPorts.end());
    for (auto& h : pool_) {
      if (!h) continue;
      auto socket = h->Get(L"Socket");
      if (socket.hr != S_OK || socket.value.vt() != VT_I4 || socket.value.i4() == -1) continue;
      sockaddr_in local{};
      int length = sizeof local;
      if (::getsockname(static_cast<SOCKET>(static_cast<ULONG>(socket.value.i4())),
                        reinterpret_cast<sockaddr*>(&local), &length) == 0)
        ports.push_back(::ntohs(local.sin_port));
    }
    for (u_short port : ports)
      peer_->SendTo(port, std::vector<unsigned char>(trafficRng_.Pick(sizes), 0x5A));
    Pump(ms);
    std::vector<unsigned char> bytes;
    while (peer_->Receive(bytes, nullptr, 0)) {
    }
  }

  Rng rng_, sinkRng_, trafficRng_;
  std::unique_ptr<host::PeerSocket> peer_;
  std::unique_ptr<host::Host> pool_[kPoolSize];
  int depth_ = 0;
};

long Arg(int argc, char** argv, const char* name, long fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
  return fallback;
}
const char* TextArg(int argc, char** argv, const char* name) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
  return nullptr;
}
bool Flag(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

}  // namespace
}  // namespace fuzz

int main(int argc, char** argv) {
  using namespace fuzz;
  const char* seedText = TextArg(argc, argv, "--seed");
  if (!seedText) seedText = std::getenv("UDP_FUZZ_SEED");
  g_seed = seedText ? std::strtoull(seedText, nullptr, 10)
                    : (static_cast<uint64_t>(::GetTickCount()) << 20) ^ ::GetCurrentProcessId();
  const long calls = Arg(argc, argv, "--calls", 3000);
  const long forms = Arg(argc, argv, "--forms", 300);
  const bool argumentFaults = Flag(argc, argv, "--argument-faults");
  g_trace = Flag(argc, argv, "--trace");
  std::printf("seed %llu (replay: --seed %llu --calls %ld --forms %ld%s)\n",
              static_cast<unsigned long long>(g_seed), static_cast<unsigned long long>(g_seed),
              calls, forms, argumentFaults ? " --argument-faults" : "");
  std::fflush(stdout);

  ::SetUnhandledExceptionFilter(OnCrash);
  std::set_terminate([] {
    std::fprintf(stderr, "CRASH: uncaught C++ exception; seed %llu, step %s %ld\n",
                 static_cast<unsigned long long>(g_seed), g_step.phase, g_step.index);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
  });
  ::OleInitialize(nullptr);
  fw::SetMessageBoxHook(CountMessageBox);
  fw::SetDialogBoxHook(CountDialog);
  WSADATA wsa;
  ::WSAStartup(0x0101, &wsa);

  bool exchanged = false;
  long distinct = 0;
  Stats stats;
  long refusals = 0;
  {
    Fuzzer fuzzer(g_seed);
    fuzzer.Start();
    fuzzer.RunCalls(calls);
    Rng formsRng(g_seed * 0x2545F4914F6CDD1Dull + 1);
    RunForms(formsRng, static_cast<int>(forms), fuzzer.stats, argumentFaults);
    exchanged = fuzzer.FinalExchange();
    stats = fuzzer.stats;
    distinct = static_cast<long>(stats.results.size());
    refusals = fuzzer.safety.refusals;
  }
  Pump(100);  // completions of look-ups that outlived their controls
  const long leaked = LiveObjects();

  if (const char* keys = TextArg(argc, argv, "--keys-out")) {
    if (FILE* f = std::fopen(keys, "w")) {
      for (auto& [id, hr, scode] : stats.results)
        std::fprintf(f, "%ld %08lx %08lx\n", static_cast<long>(id), static_cast<unsigned long>(hr),
                     static_cast<unsigned long>(scode));
      std::fclose(f);
    }
  }
  std::printf("calls %ld\n", stats.calls);
  std::printf("distinct results %ld\n", distinct);
  std::printf("forms %ld (loaded %ld, distinct outcomes %zu)\n", stats.forms, stats.formsLoaded,
              stats.formResults.size());
  std::printf("events: WsError %ld, Received %ld, Closed %ld, Ready %ld, Sent %ld; re-entered %ld\n",
              stats.events[1], stats.events[2], stats.events[3], stats.events[4], stats.events[5],
              stats.reentries);
  std::printf("destroyed with look-ups in flight %ld\n", stats.destroyedInFlight);
  std::printf("message boxes %ld, dialogs %ld\n", g_messageBoxes, g_dialogs);
  std::printf("refused by the loopback guard %ld\n", refusals);
  std::printf("objects still referenced %ld\n", leaked);
  std::printf("broken promises %ld\n", stats.broken);
  std::printf("exchanges datagrams afterwards %s\n", exchanged ? "yes" : "NO");
  std::fflush(stdout);
  ::WSACleanup();
  ::OleUninitialize();
  const bool ok = exchanged && refusals == 0 && leaked == 0 && g_dialogs == 0 && stats.broken == 0;
  return ok ? 0 : 1;
}
