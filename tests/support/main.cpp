// Test entry: COM on this thread, and message boxes recorded instead of shown.
#include <gtest/gtest.h>
#include <objbase.h>

#include "framework/ui_hooks.h"
#include "support/host.h"

namespace {
int RecordMessageBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
  host::MessageBoxes().push_back({text ? text : L"", caption ? caption : L"", type});
  return IDOK;
}
INT_PTR RefuseDialog(HINSTANCE, const wchar_t*, HWND, DLGPROC, LPARAM) { return IDOK; }
}  // namespace

int main(int argc, char** argv) {
  ::OleInitialize(nullptr);
  fw::SetMessageBoxHook(RecordMessageBox);
  fw::SetDialogBoxHook(RefuseDialog);
  testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  ::OleUninitialize();
  return rc;
}
