#include "framework/text.h"

#include <new>

namespace fw {

namespace {
// Every ANSI code page keeps the ASCII range as it is, so plain ASCII needs no conversion call.
template <typename C>
bool IsAscii(std::basic_string_view<C> text) {
  for (C c : text)
    if (static_cast<unsigned>(c) >= 0x80) return false;
  return true;
}
}  // namespace

std::string AnsiFromWide(std::wstring_view text) {
  if (text.empty()) return {};
  if (IsAscii(text)) return std::string(text.begin(), text.end());
  int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

std::wstring WideFromAnsi(std::string_view text) {
  if (text.empty()) return {};
  if (IsAscii(text)) return std::wstring(text.begin(), text.end());
  int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::wstring WideFromBstr(BSTR text) {
  return std::wstring(ViewOfBstr(text));
}

BSTR AllocBstr(std::wstring_view text) {
  BSTR b = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

}  // namespace fw
