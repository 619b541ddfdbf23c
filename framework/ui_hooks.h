// Every piece of modal UI goes through these hooks, so a headless host can replace them.
#pragma once
#include <windows.h>
#include <unknwn.h>

namespace fw {

using MessageBoxHook = int (*)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
using DialogBoxHook = INT_PTR (*)(HINSTANCE module, const wchar_t* templateName, HWND owner,
                                  DLGPROC proc, LPARAM param);
// A modal property frame for objects, with the given pages (OleCreatePropertyFrame).
using PropertyFrameHook = HRESULT (*)(HWND owner, const wchar_t* caption, ULONG objectCount,
                                      IUnknown** objects, ULONG pageCount, CLSID* pages,
                                      LCID locale);

// Each setter returns the previous hook; nullptr restores the system's own UI.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
DialogBoxHook SetDialogBoxHook(DialogBoxHook hook);
PropertyFrameHook SetPropertyFrameHook(PropertyFrameHook hook);

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
INT_PTR ShowModalDialog(HINSTANCE module, const wchar_t* templateName, HWND owner, DLGPROC proc,
                        LPARAM param);
HRESULT ShowPropertyFrame(HWND owner, const wchar_t* caption, ULONG objectCount, IUnknown** objects,
                          ULONG pageCount, CLSID* pages, LCID locale);

}  // namespace fw
