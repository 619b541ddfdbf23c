#include "endpoint/lookup_relay.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "endpoint/address_lookup.h"
#include "framework/automation_error.h"
#include "framework/module.h"

namespace udp::lookup_relay {

namespace {

constexpr wchar_t kRelayWindowClass[] = L"KarvoDgramixLookups";
constexpr UINT_PTR kRetentionTimer = 1;

std::atomic<DWORD> g_retentionMs{2 * 60 * 1000};

struct Request {
  Endpoint* owner = nullptr;  // nullptr once the owner gave the request up or was destroyed
  LookupBuffer heldBuffer;    // what the owner left for the sockets layer to finish
  ULONGLONG freeAfter = 0;    // for a cancelled request: when its buffer is freed regardless
};

struct Relay {
  HWND window = nullptr;
  std::unordered_map<HANDLE, Request> requests;
  size_t held = 0;  // requests without an owner
  int depth = 0;    // completions being delivered; a handler may pump messages and re-enter

  ~Relay() {
    // The thread ends while requests still run: their buffers may yet be written, so they are
    // deliberately never freed.
    for (auto& entry : requests) (void)entry.second.heldBuffer.release();
  }
};

Relay& ThisThread() {
  thread_local Relay relay;
  return relay;
}

// The class is registered while a relay window exists and unregistered after the last one, so
// that no class outlives the module image whose window procedure it names.
std::mutex& ClassLock() {
  static std::mutex lock;
  return lock;
}

bool IsCompletion(UINT message) {
  return message == kMsgGetHost || message == kMsgGetServ || message == kMsgGetLocalServ ||
         message == kMsgGetInetHost || message == kMsgGetAddrInfo;
}

// The endpoint's owner runs the completion, as its notification window would.
void Deliver(Endpoint* owner, UINT message, WPARAM task, LPARAM result) {
  owner->RunMessage(message, task, result);
}

// The relay takes the request over from its owner. The relay's window procedure lives in this
// module: keep it loaded while the relay holds requests of its own.
void Hold(Relay& relay, Request& request, LookupBuffer buffer, ULONGLONG freeAfter) {
  request.owner = nullptr;
  request.heldBuffer = std::move(buffer);
  request.freeAfter = freeAfter;
  if (relay.held++ == 0) fw::ModuleAddRef();
}

void Forget(Relay& relay, std::unordered_map<HANDLE, Request>::iterator request) {
  const bool wasHeld = !request->second.owner;
  relay.requests.erase(request);
  if (wasHeld && --relay.held == 0) fw::ModuleRelease();
}

// Frees the buffers whose retention has passed and sets the timer for the next one.
void KeepTime(Relay& relay) {
  const ULONGLONG now = ::GetTickCount64();
  ULONGLONG next = 0;
  for (auto it = relay.requests.begin(); it != relay.requests.end();) {
    const ULONGLONG due = it->second.owner ? 0 : it->second.freeAfter;
    if (due != 0 && due <= now) {
      auto expired = it++;
      Forget(relay, expired);
      continue;
    }
    if (due != 0 && (next == 0 || due < next)) next = due;
    ++it;
  }
  if (!relay.window) return;
  if (next == 0)
    ::KillTimer(relay.window, kRetentionTimer);
  else
    ::SetTimer(relay.window, kRetentionTimer, static_cast<UINT>(next - now), nullptr);
}

void DestroyWhenIdle(Relay& relay) {
  if (relay.depth != 0 || !relay.requests.empty() || !relay.window) return;
  std::lock_guard<std::mutex> guard(ClassLock());
  ::DestroyWindow(relay.window);
  relay.window = nullptr;
  ::UnregisterClassW(kRelayWindowClass, fw::ThisModule());  // refused while another thread has one
}

LRESULT CALLBACK RelayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  fw::ComBarrier([&] {
    Relay& relay = ThisThread();
    if (message == WM_TIMER && wParam == kRetentionTimer) {
      KeepTime(relay);
      DestroyWhenIdle(relay);
      return;
    }
    if (!IsCompletion(message)) {
      result = ::DefWindowProcW(window, message, wParam, lParam);
      return;
    }
    // The resolver's results come with its message and end here, whoever they turn out to be
    // for.
    const std::unique_ptr<AddressLookupResult> results(
        message == kMsgGetAddrInfo ? reinterpret_cast<AddressLookupResult*>(lParam) : nullptr);
    auto found = relay.requests.find(reinterpret_cast<HANDLE>(wParam));
    if (found == relay.requests.end()) return;
    // The sockets layer has finished with the buffer once its completion is posted.
    Endpoint* owner = found->second.owner;
    Forget(relay, found);
    if (owner) {
      ++relay.depth;
      Deliver(owner, message, wParam, lParam);
      --relay.depth;
    }
    DestroyWhenIdle(relay);
  });
  return result;
}

}  // namespace

HWND Window() {
  Relay& relay = ThisThread();
  if (relay.window) return relay.window;
  std::lock_guard<std::mutex> guard(ClassLock());
  WNDCLASSW wc = {};
  wc.lpfnWndProc = RelayWindowProc;
  wc.hInstance = fw::ThisModule();
  wc.lpszClassName = kRelayWindowClass;
  ::RegisterClassW(&wc);  // fails harmlessly when another thread registered it
  relay.window = ::CreateWindowExW(0, kRelayWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   fw::ThisModule(), nullptr);
  return relay.window;
}

void Track(HANDLE task, Endpoint* owner) { ThisThread().requests[task] = Request{owner, {}, 0}; }

void ForgetTask(HANDLE task) {
  Relay& relay = ThisThread();
  if (auto found = relay.requests.find(task); found != relay.requests.end()) Forget(relay, found);
  DestroyWhenIdle(relay);
}

bool IsPending(HANDLE task) { return task && ThisThread().requests.contains(task); }

void Abandon(HANDLE task, LookupBuffer buffer) noexcept {
  Relay& relay = ThisThread();
  auto found = relay.requests.find(task);
  if (found == relay.requests.end() || !found->second.owner) return;
  Hold(relay, found->second, std::move(buffer), ::GetTickCount64() + g_retentionMs.load());
  KeepTime(relay);
}

void Orphan(HANDLE task, LookupBuffer buffer) noexcept {
  Relay& relay = ThisThread();
  auto found = relay.requests.find(task);
  if (found == relay.requests.end() || !found->second.owner) return;
  Hold(relay, found->second, std::move(buffer), 0);
}

void ForgetOwner(const Endpoint* owner) {
  Relay& relay = ThisThread();
  std::erase_if(relay.requests, [&](const auto& entry) { return entry.second.owner == owner; });
  DestroyWhenIdle(relay);
}

void DestroyWhenIdle() { DestroyWhenIdle(ThisThread()); }

DWORD SetRetentionTime(DWORD milliseconds) { return g_retentionMs.exchange(milliseconds); }

}  // namespace udp::lookup_relay
