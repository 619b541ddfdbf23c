// Test entry: COM on this thread, message boxes recorded instead of shown, and after every test a
// check that it left no object and no window of this thread behind.
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "framework/module.h"
#include "framework/ui_hooks.h"
#include "support/host.h"

namespace {
int RecordMessageBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
  host::MessageBoxes().push_back({text ? text : L"", caption ? caption : L"", type});
  return IDOK;
}
INT_PTR RefuseDialog(HINSTANCE, const wchar_t*, HWND, DLGPROC, LPARAM) { return IDOK; }

BOOL CALLBACK AddWindow(HWND window, LPARAM windows) {
  reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
  return TRUE;
}

// This thread's windows: top-level ones and message-only ones (which EnumThreadWindows skips).
std::vector<HWND> ThreadWindows() {
  std::vector<HWND> windows;
  ::EnumThreadWindows(::GetCurrentThreadId(), AddWindow, reinterpret_cast<LPARAM>(&windows));
  for (HWND w = ::FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
       w = ::FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr))
    if (::GetWindowThreadProcessId(w, nullptr) == ::GetCurrentThreadId()) windows.push_back(w);
  std::ranges::sort(windows);
  return windows;
}

// The objects of the control's code linked into this program (the in-process ones), and whether
// the loaded DLL, if any, could be unloaded (no object of it left).
struct Objects {
  LONG inProcess;
  bool dllIdle;
  bool operator==(const Objects&) const = default;
};
Objects LiveObjects() {
  bool idle = true;
  if (HMODULE dll = ::GetModuleHandleW(L"udp.ocx"))
    if (auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(::GetProcAddress(dll, "DllCanUnloadNow"))))
      idle = canUnload() == S_OK;
  return {fw::ModuleUseCount(), idle};
}

// A leak shows at the test that made it, not as a crash or a hang long after. A test that failed
// already says enough.
class LeftBehindCheck : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override {
    // The pump's own probe window is made now, before the snapshot.
    host::PumpUntilIdle(500);
    m_objects = LiveObjects();
    m_windows = ThreadWindows();
  }
  void OnTestEnd(const testing::TestInfo& info) override {
    if (info.result()->Failed() || info.result()->Skipped()) return;
    // What is still under way goes by itself: a cancelled look-up's completion, which the sockets
    // layer posts from a thread of its own, frees the relay that waited for it.
    host::Pump([&] { return LiveObjects() == m_objects && ThreadWindows() == m_windows; }, 3000);
    const Objects objects = LiveObjects();
    if (!(objects == m_objects))
      ADD_FAILURE() << "objects left behind: " << objects.inProcess - m_objects.inProcess
                    << " in process, the DLL " << (objects.dllIdle ? "idle" : "still in use");
    const std::vector<HWND> windows = ThreadWindows();
    std::vector<HWND> added;
    std::ranges::set_difference(windows, m_windows, std::back_inserter(added));
    std::ostringstream names;
    for (HWND w : added) {
      wchar_t name[64] = {};
      ::GetClassNameW(w, name, 64);
      names << ' ' << testing::PrintToString(std::wstring(name));
    }
    if (!added.empty()) ADD_FAILURE() << "windows left behind:" << names.str();
  }
  Objects m_objects{};
  std::vector<HWND> m_windows;
};
}  // namespace

int main(int argc, char** argv) {
  ::OleInitialize(nullptr);
  fw::SetMessageBoxHook(RecordMessageBox);
  fw::SetDialogBoxHook(RefuseDialog);
  testing::InitGoogleTest(&argc, argv);
  // Before the printer, so that a leak is told within its test's output.
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  testing::TestEventListener* printer = listeners.Release(listeners.default_result_printer());
  listeners.Append(new LeftBehindCheck);
  if (printer) listeners.Append(printer);
  int rc = RUN_ALL_TESTS();
  ::OleUninitialize();
  return rc;
}
