#include "control/lookup_relay.h"

#include <mutex>
#include <unordered_map>

#include "framework/automation_error.h"
#include "framework/module.h"
#include "framework/ui_hooks.h"

namespace udp::lookup_relay {

namespace {

constexpr wchar_t kRelayWindowClass[] = L"KarvoDgramixLookups";

struct Request {
  CUdpCtrl* owner = nullptr;  // nullptr once the owner has been destroyed
  LookupBuffer orphanBuffer;  // what a destroyed owner left for the sockets layer to finish
};

struct Relay {
  HWND window = nullptr;
  std::unordered_map<HANDLE, Request> requests;
  size_t orphans = 0;
  int depth = 0;  // completions being delivered; a handler may pump messages and re-enter

  ~Relay() {
    // The thread ends while requests still run: their buffers may yet be written, so they are
    // deliberately never freed.
    for (auto& entry : requests) (void)entry.second.orphanBuffer.release();
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
         message == kMsgGetInetHost;
}

void Deliver(CUdpCtrl* owner, UINT message, WPARAM task, LPARAM result) {
  if (HWND window = owner->GetSafeHwnd()) {
    ::SendMessageW(window, message, task, result);
    return;
  }
  // A control that has no window yet: run the handler of its message map the way its window would.
  fw::com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(owner), true);
  for (const auto& entry : owner->ClassInfo().messages) {
    if (entry.message != message) continue;
    try {
      entry.handler(owner, task, result);
    } catch (const fw::AutomationException& e) {
      fw::ShowMessageBox(nullptr, e.description.c_str(), owner->ClassInfo().userTypeName,
                         MB_OK | MB_ICONSTOP);
    } catch (...) {
    }
    return;
  }
}

void OrphanReleased(Relay& relay) {
  if (--relay.orphans == 0) fw::ModuleRelease();
}

void DestroyWhenIdle(Relay& relay) {
  if (relay.depth != 0 || !relay.requests.empty() || !relay.window) return;
  std::lock_guard<std::mutex> guard(ClassLock());
  ::DestroyWindow(relay.window);
  relay.window = nullptr;
  ::UnregisterClassW(kRelayWindowClass, fw::ThisModule());  // refused while another thread has one
}

LRESULT CALLBACK RelayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsCompletion(message)) return ::DefWindowProcW(window, message, wParam, lParam);
  Relay& relay = ThisThread();
  auto found = relay.requests.find(reinterpret_cast<HANDLE>(wParam));
  if (found == relay.requests.end()) return 0;
  // The sockets layer has finished with the buffer once its completion is posted.
  Request request = std::move(found->second);
  relay.requests.erase(found);
  if (request.owner) {
    ++relay.depth;
    Deliver(request.owner, message, wParam, lParam);
    --relay.depth;
  } else {
    request.orphanBuffer.reset();
    OrphanReleased(relay);
  }
  DestroyWhenIdle(relay);
  return 0;
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

void Track(HANDLE task, CUdpCtrl* owner) { ThisThread().requests[task] = Request{owner, {}}; }

bool IsPending(HANDLE task) { return task && ThisThread().requests.contains(task); }

void Orphan(HANDLE task, LookupBuffer buffer) {
  Relay& relay = ThisThread();
  auto found = relay.requests.find(task);
  if (found == relay.requests.end() || !found->second.owner) return;
  found->second.owner = nullptr;
  found->second.orphanBuffer = std::move(buffer);
  // The relay's window procedure lives in this module: keep it loaded while orphans wait.
  if (relay.orphans++ == 0) fw::ModuleAddRef();
}

void ForgetOwner(const CUdpCtrl* owner) {
  Relay& relay = ThisThread();
  std::erase_if(relay.requests, [&](const auto& entry) { return entry.second.owner == owner; });
  DestroyWhenIdle(relay);
}

}  // namespace udp::lookup_relay
