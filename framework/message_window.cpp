// Implementation details: the class is registered with the first window of its name and
// unregistered after the last, so that no class outlives the module image whose window procedure
// it names. One count per name, for the whole process: a class is the process's, not a thread's.
#include "framework/message_window.h"

#include <map>
#include <mutex>
#include <string>

#include "framework/automation_error.h"
#include "framework/module.h"

namespace fw {

namespace {

struct ClassCounts {
  std::mutex lock;
  std::map<std::wstring, int> windows;  // guarded by lock
};

ClassCounts& TheClassCounts() {
  static ClassCounts counts;
  return counts;
}

}  // namespace

LRESULT CALLBACK MessageWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  LRESULT result = 0;
  ComBarrier([&] {
    auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !self->m_handler(message, wParam, lParam, result))
      result = ::DefWindowProcW(window, message, wParam, lParam);
  });
  return result;
}

bool MessageWindow::Create(const wchar_t* className, Handler handler) {
  ClassCounts& counts = TheClassCounts();
  std::lock_guard<std::mutex> guard(counts.lock);
  int& windows = counts.windows[className];
  if (windows == 0) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = ThisModule();
    wc.lpszClassName = className;
    if (!::RegisterClassW(&wc)) return false;
  }
  HWND window = ::CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ThisModule(), nullptr);
  if (!window) {
    if (windows == 0) ::UnregisterClassW(className, ThisModule());
    return false;
  }
  ++windows;
  m_handler = std::move(handler);
  m_className = className;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  m_window.reset(window);
  return true;
}

MessageWindow::~MessageWindow() {
  if (!m_window) return;
  ::SetWindowLongPtrW(m_window.get(), GWLP_USERDATA, 0);
  m_window.reset();
  ClassCounts& counts = TheClassCounts();
  std::lock_guard<std::mutex> guard(counts.lock);
  if (--counts.windows[m_className] == 0) ::UnregisterClassW(m_className, ThisModule());
}

}  // namespace fw
