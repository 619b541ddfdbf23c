#include "framework/automation_error.h"

#include <algorithm>
#include <cstdio>

#include "framework/module.h"

namespace fw {

namespace {

void ToDebugger(const char* line) { ::OutputDebugStringA(line); }
BarrierLogHook g_logHook = ToDebugger;

// The file name of the module the barrier is in (the control's DLL, or a program that links the
// framework), read once: the log names what wrote it without the framework knowing a product.
const char* ModuleName() noexcept {
  static char name[MAX_PATH] = {};
  if (!name[0]) {
    char path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameA(ThisModule(), path, MAX_PATH);
    const char* base = path;
    for (DWORD i = 0; i < n; ++i)
      if (path[i] == '\\' || path[i] == '/') base = path + i + 1;
    std::snprintf(name, sizeof name, "%s", n ? base : "?");
  }
  return name;
}

}  // namespace

BarrierLogHook SetBarrierLogHook(BarrierLogHook hook) noexcept {
  const BarrierLogHook previous = g_logHook;
  g_logHook = hook ? hook : ToDebugger;
  return previous;
}

void LogBarrier(HRESULT hr, std::wstring_view what, const std::source_location& where) noexcept {
  // Narrow (UTF-8) output: Wine shows OutputDebugStringA's text under +debugstr, not the wide
  // function's.
  char text[512] = {};
  const int length = static_cast<int>(std::min<size_t>(what.size(), 160));
  if (length > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, what.data(), length, text, sizeof text - 1, nullptr, nullptr);
  const char* file = where.file_name();
  for (const char* c = file; *c; ++c)
    if (*c == '/' || *c == '\\') file = c + 1;
  char line[800];
  std::snprintf(line, sizeof line, "%s: 0x%08lX at a COM boundary: %s (caught in %s, %s:%u)\n",
                ModuleName(), static_cast<unsigned long>(hr), text, where.function_name(), file,
                static_cast<unsigned>(where.line()));
  g_logHook(line);
}

void ThrowError(SCODE scode, std::wstring_view description) {
  throw AutomationException{scode, std::wstring(description)};
}

}  // namespace fw
