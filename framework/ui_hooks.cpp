#include "framework/ui_hooks.h"

#include <olectl.h>

#include <utility>

namespace fw {
namespace {

int SystemMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  return ::MessageBoxW(owner, text, caption, type);
}

INT_PTR SystemDialogBox(HINSTANCE module, const wchar_t* templateName, HWND owner, DLGPROC proc,
                        LPARAM param) {
  return ::DialogBoxParamW(module, templateName, owner, proc, param);
}

HRESULT SystemPropertyFrame(HWND owner, const wchar_t* caption, ULONG objectCount,
                            IUnknown** objects, ULONG pageCount, CLSID* pages, LCID locale) {
  return ::OleCreatePropertyFrame(owner, 0, 0, caption, objectCount, objects, pageCount, pages,
                                  locale, 0, nullptr);
}

MessageBoxHook g_messageBox = SystemMessageBox;
DialogBoxHook g_dialogBox = SystemDialogBox;
PropertyFrameHook g_propertyFrame = SystemPropertyFrame;

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  return std::exchange(g_messageBox, hook ? hook : SystemMessageBox);
}

DialogBoxHook SetDialogBoxHook(DialogBoxHook hook) {
  return std::exchange(g_dialogBox, hook ? hook : SystemDialogBox);
}

PropertyFrameHook SetPropertyFrameHook(PropertyFrameHook hook) {
  return std::exchange(g_propertyFrame, hook ? hook : SystemPropertyFrame);
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  return g_messageBox(owner, text, caption, type);
}

INT_PTR ShowModalDialog(HINSTANCE module, const wchar_t* templateName, HWND owner, DLGPROC proc,
                        LPARAM param) {
  return g_dialogBox(module, templateName, owner, proc, param);
}

}  // namespace fw

namespace fw {

HRESULT ShowPropertyFrame(HWND owner, const wchar_t* caption, ULONG objectCount, IUnknown** objects,
                          ULONG pageCount, CLSID* pages, LCID locale) {
  return g_propertyFrame(owner, caption, objectCount, objects, pageCount, pages, locale);
}

}  // namespace fw
