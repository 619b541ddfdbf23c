// Text at the boundaries: the control keeps wide text; the sockets layer takes ANSI text.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <string_view>

namespace fw {

std::string AnsiFromWide(std::wstring_view text);
std::wstring WideFromAnsi(std::string_view text);
// A null BSTR reads as the empty text.
std::wstring WideFromBstr(BSTR text);
inline std::wstring_view ViewOfBstr(BSTR text) {
  return text ? std::wstring_view(text, ::SysStringLen(text)) : std::wstring_view();
}
// Throws std::bad_alloc when the string cannot be allocated.
BSTR AllocBstr(std::wstring_view text);

}  // namespace fw
