// A message-only window whose messages go to one handler: for an object without a form that must
// receive posted messages (socket notifications, say) on its thread.
#pragma once
#include <windows.h>

#include <functional>

#include "framework/unique_any.h"

namespace fw {

class MessageWindow {
 public:
  // True when it handled the message; result is then what the window procedure returns.
  using Handler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)>;

  MessageWindow() = default;
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Creates the window on this thread, of the window class className (registered while any
  // window of it exists); false when it cannot be created.
  bool Create(const wchar_t* className, Handler handler);
  HWND get() const { return m_window.get(); }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  Handler m_handler;
  const wchar_t* m_className = nullptr;
  unique_hwnd m_window;
};

}  // namespace fw
