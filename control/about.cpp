// The About box: a modal dialog through the framework's UI hook, so headless hosts never block.
#include "control/udp_ctrl.h"
#include "framework/module.h"
#include "framework/ui_hooks.h"
#include "control/resource.h"

namespace udp {

namespace {

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      ::EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void CUdpCtrl::AboutBox() {
  fw::ShowModalDialog(fw::ThisModule(), MAKEINTRESOURCEW(IDD_ABOUTBOX_UDP), GetSafeHwnd(),
                      AboutProc, 0);
}

}  // namespace udp
