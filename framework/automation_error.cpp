#include "framework/automation_error.h"

#include <algorithm>
#include <cstdio>

namespace fw {

void LogBarrier(HRESULT hr, std::wstring_view what) noexcept {
  // Narrow (UTF-8) output: Wine shows OutputDebugStringA's text under +debugstr, not the wide
  // function's.
  char text[512] = {};
  const int length = static_cast<int>(std::min<size_t>(what.size(), 160));
  if (length > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, what.data(), length, text, sizeof text - 1, nullptr, nullptr);
  char line[600];
  std::snprintf(line, sizeof line, "udp.ocx: 0x%08lX at a COM boundary: %s\n",
                static_cast<unsigned long>(hr), text);
  ::OutputDebugStringA(line);
}

void ThrowError(SCODE scode, std::wstring_view description) {
  throw AutomationException{scode, std::wstring(description)};
}

}  // namespace fw
