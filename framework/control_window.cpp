// The control's window: it receives the control's messages (the derived control's message map
// and the framework's own) and lives under a hidden parking window while the control is not in
// place.
//
// Implementation details: each thread that has control windows has one parking window, made with
// the thread's first control window and destroyed after its last. The two window classes are
// registered while any thread has a parking window and unregistered after the last one goes, so
// that no window or class of the module outlives the objects that keep it loaded; the class names
// are recorded when they are registered, so that they are unregistered by the names they were
// registered with.
#include <mutex>

#include "framework/automation_error.h"
#include "framework/module.h"
#include "framework/ole_control.h"
#include "framework/ui_hooks.h"

namespace fw {

namespace {

LRESULT CALLBACK ControlWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  bool handled = false;
  ComBarrier([&] {
    if (auto* control = reinterpret_cast<COleControl*>(::GetWindowLongPtrW(w, GWLP_USERDATA)))
      handled = control->HandleWindowMessage(m, wp, lp, result);
    if (!handled) result = ::DefWindowProcW(w, m, wp, lp);
  });
  return result;
}

LRESULT CALLBACK ParkingWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return ::DefWindowProcW(w, m, wp, lp);
}

struct WindowClasses {
  std::mutex lock;
  int threadsWithWindows = 0;  // guarded by lock, as are the names
  const wchar_t* control = nullptr;
  const wchar_t* parking = nullptr;

  void Register(const ControlClassInfo& info) {
    control = info.windowClass;
    parking = info.parkingWindowClass;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ControlWindowProc;
    wc.hInstance = ThisModule();
    wc.lpszClassName = control;
    ::RegisterClassW(&wc);
    wc.lpfnWndProc = ParkingWindowProc;
    wc.lpszClassName = parking;
    ::RegisterClassW(&wc);
  }
  void Unregister() {
    ::UnregisterClassW(control, ThisModule());
    ::UnregisterClassW(parking, ThisModule());
  }
};

WindowClasses& TheWindowClasses() {
  static WindowClasses classes;
  return classes;
}

struct ThreadWindows {
  unique_hwnd parking;
  int controlWindows = 0;

  ~ThreadWindows() { DropParking(); }
  void DropParking() {
    if (!parking) return;
    parking.reset();
    WindowClasses& classes = TheWindowClasses();
    std::lock_guard<std::mutex> guard(classes.lock);
    if (--classes.threadsWithWindows == 0) classes.Unregister();
  }
};

ThreadWindows& ThisThreadWindows() {
  thread_local ThreadWindows windows;
  return windows;
}

// The thread's parking window (made now when it has none), and the control window class's name.
HWND ParkingWindow(const ControlClassInfo& info, const wchar_t** controlClass = nullptr) {
  ThreadWindows& thread = ThisThreadWindows();
  if (thread.parking && !::IsWindow(thread.parking.get())) thread.DropParking();
  WindowClasses& classes = TheWindowClasses();
  std::lock_guard<std::mutex> guard(classes.lock);
  if (!thread.parking) {
    if (classes.threadsWithWindows++ == 0) classes.Register(info);
    thread.parking.reset(::CreateWindowExW(0, classes.parking, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                           nullptr, ThisModule(), nullptr));
    if (!thread.parking && --classes.threadsWithWindows == 0) classes.Unregister();
  }
  if (controlClass) *controlClass = classes.control;
  return thread.parking.get();
}

// After the thread's last control window its parking window goes too.
void ReleaseParkingWindow() {
  ThreadWindows& thread = ThisThreadWindows();
  if (thread.controlWindows == 0) thread.DropParking();
}

}  // namespace

bool COleControl::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  bool handled = true;
  // A handler may raise events whose sinks release the control: keep it alive meanwhile.
  com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  ComBarrier(
      [&] {
        if (message == kMsgRaiseHeldEvents)
          RaiseHeldEvents();
        else
          handled = OnControlMessage(message, wParam, lParam, result);
      },
      [&](const AutomationException& e) noexcept {
        // No call is in progress to take the error: tell the user.
        ShowMessageBox(m_window.get(), e.description.c_str(), m_info.userTypeName,
                       MB_OK | MB_ICONSTOP);
        return e.scode;
      });
  return handled;
}

void COleControl::RecreateControlWindow() {
  if (m_inPlaceActive) {
    const bool wasUIActive = m_uiActive;
    InPlaceDeactivate();
    DestroyControlWindow();
    CreateControlWindow();
    DoVerbInPlace(wasUIActive, nullptr);
  } else {
    DestroyControlWindow();
    CreateControlWindow();
  }
  // What was posted to the old window died with it.
  if (m_heldEventsScheduled) ScheduleHeldEvents();
}

void COleControl::DestroyControlWindow() {
  if (!m_window) return;
  ::SetWindowLongPtrW(m_window.get(), GWLP_USERDATA, 0);
  m_window.reset();
  --ThisThreadWindows().controlWindows;
  ReleaseParkingWindow();
}

void COleControl::CreateControlWindow() {
  const wchar_t* windowClass = nullptr;
  HWND parent = ParkingWindow(m_info, &windowClass);
  SIZE px = m_info.initialSizePixels;
  HWND w = parent ? ::CreateWindowExW(0, windowClass, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0, px.cx,
                                      px.cy, parent, nullptr, ThisModule(), nullptr)
                  : nullptr;
  if (!w) {
    ReleaseParkingWindow();
    return;
  }
  ::SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  m_window.reset(w);
  ++ThisThreadWindows().controlWindows;
}

void COleControl::ParkControlWindow() {
  ::ShowWindow(m_window.get(), SW_HIDE);
  ::SetParent(m_window.get(), ParkingWindow(m_info));
}

}  // namespace fw
