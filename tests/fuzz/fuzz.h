// The hostile host: random automation calls, corrupted forms and re-entrant sinks against the
// control, reproducible from one seed. Everything it sends stays on 127.0.0.1.
#pragma once
#include <winsock.h>
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <cstdint>
#include <deque>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace fuzz {

class Rng {
 public:
  explicit Rng(uint64_t seed) : g_(seed) {}
  uint64_t Bits() { return g_(); }
  uint32_t Below(size_t n) { return n ? static_cast<uint32_t>(g_() % n) : 0; }
  bool OneIn(uint32_t n) { return Below(n) == 0; }
  bool Percent(uint32_t p) { return Below(100) < p; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }

 private:
  std::mt19937_64 g_;
};

// Owns what by-reference arguments point at, at stable addresses, until the call is over.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() { Clear(); }
  VARIANT* NewTarget();
  void Clear();

 private:
  std::deque<VARIANT> targets_;
};

// Objects the fuzzer hands to the control; each answers its default member with a fixed value.
// Live() counts the objects still referenced by anybody.
IUnknown* NewObject(Rng& rng, bool dispatch);
long LiveObjects();

// Values: the generator of every kind of VARIANT a host can pass.
struct ValueContext {
  Rng& rng;
  Arena& arena;
  std::vector<IDispatch*> controls;  // live controls that may be passed as objects
  bool small = false;                // no 100 000-character texts or 70 000-byte arrays
};
// A text from the hostile list (may be null).
BSTR RandomText(Rng& rng, bool small);
// Fills `out` (uninitialised) with a random value; the caller clears it, the arena owns targets.
void RandomValue(ValueContext& c, VARIANT* out, int depth = 0);
// A byte array VARIANT of `size` random bytes with lower bound `lower`.
void RandomBytes(Rng& rng, VARIANT* out, size_t size, LONG lower = 0);
// `value` (a plain VARIANT the caller owns) in one of the forms a host may pass it: as it is, by
// reference, through a VARIANT reference, or as an object whose default member answers it.
void Disguise(ValueContext& c, const VARIANT& value, VARIANT* out);

// Safety: what may reach the sockets layer.
enum class Sensitive { None, RemoteIp, SendPort, OpenPort, InetAddress, InetIp, InetName, HostIp,
                       LocalAddress, WaitTime, GroupInterface };
class Safety {
 public:
  // Ports the fuzzer itself owns; datagrams and binds may use only these, echo and discard.
  std::vector<u_short> ownedPorts;
  long refusals = 0;

  // Which parameter, if any, an argument at `position` of `count` reaches for `dispid`.
  static Sensitive ParameterOf(DISPID dispid, UINT position, UINT count);
  bool IsSafe(Sensitive kind, const VARIANT* value) const;
  // Replaces every argument that could reach the network with a loopback value.
  void Sanitize(ValueContext& c, DISPID dispid, VARIANT* args, UINT count);
  // A safe value of `kind` in a random form.
  void SafeValue(ValueContext& c, Sensitive kind, VARIANT* out);
  // Guards the control's sockets seam: anything that would leave 127.0.0.1 is refused and
  // counted (the sanitizer should make that never happen).
  void InstallGuard();
  bool AllowsPort(u_short port) const;

 private:
  bool IsSafePort(const std::string& text, bool open, const std::wstring& whole) const;
};

// Outcome keys: DISPID, HRESULT, exception status.
using ResultKey = std::tuple<DISPID, HRESULT, SCODE>;

struct Stats {
  long calls = 0, forms = 0, formsLoaded = 0, destroyedInFlight = 0, reentries = 0;
  long events[6] = {};  // by event DISPID: WsError, Received, Closed, Ready, Sent
  long broken = 0;      // results or event arguments other than the control promises
  std::set<ResultKey> results;
  std::set<std::pair<int, HRESULT>> formResults;
};

// Corrupted forms through IPersistStreamInit, IPersistStorage and IPersistPropertyBag.
// withArgumentFaults: bags may also leave the control's VARIANT as it came or clear it first.
void RunForms(Rng& rng, int count, Stats& stats, bool withArgumentFaults);

// Pumps this thread's messages for up to ms milliseconds (0: only what is waiting).
void Pump(int ms);

// What the fuzzer is doing now, for the crash report.
struct Step {
  const char* phase = "start";
  long index = 0;
};
extern Step g_step;
extern bool g_trace;

}  // namespace fuzz
