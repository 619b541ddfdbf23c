// The About box: modal UI through the framework's hook, shown for real from the DLL's resources.
#include <gtest/gtest.h>

#include <string>

#include "framework/ui_hooks.h"
#include "support/container.h"
#include "support/host.h"

namespace {

// The hook shows the real dialog from the DLL's resources and closes it as a user would, by its
// OK button.
struct AboutSeen {
  std::wstring templateName;
  std::wstring caption;
  bool hasIcon = false;
  bool hasOk = false;
  INT_PTR result = 0;
};
AboutSeen g_about;
DLGPROC g_aboutProc = nullptr;

INT_PTR CALLBACK WatchAbout(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    wchar_t caption[128] = {};
    ::GetWindowTextW(dialog, caption, 128);
    g_about.caption = caption;
    g_about.hasOk = ::GetDlgItem(dialog, IDOK) != nullptr;
    for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
      if ((::GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
          ::SendMessageW(c, STM_GETICON, 0, 0))
        g_about.hasIcon = true;
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
  }
  return g_aboutProc(dialog, message, wParam, lParam);
}

INT_PTR ShowAboutFromTheDll(HINSTANCE, const wchar_t* templateName, HWND owner, DLGPROC proc,
                            LPARAM param) {
  g_about.templateName = IS_INTRESOURCE(templateName)
                             ? std::to_wstring(reinterpret_cast<UINT_PTR>(templateName))
                             : std::wstring(templateName);
  g_aboutProc = proc;
  g_about.result =
      ::DialogBoxParamW(container::TheServer()->module, templateName, owner, WatchAbout, param);
  return g_about.result;
}

TEST(AboutBox, ShowsTheAboutDialogModallyAndReturnsWhenClosed) {
  ASSERT_NE(container::TheServer(), nullptr);
  host::Host host;
  g_about = {};
  auto previous = fw::SetDialogBoxHook(ShowAboutFromTheDll);
  auto r = host.Call(L"AboutBox");
  fw::SetDialogBoxHook(previous);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(g_about.templateName, L"1");
  EXPECT_EQ(g_about.caption, L"About Udp Control");
  EXPECT_TRUE(g_about.hasIcon);
  EXPECT_TRUE(g_about.hasOk);
  EXPECT_EQ(g_about.result, IDOK);
  EXPECT_TRUE(r.value.vt() == VT_EMPTY);
}

}  // namespace
