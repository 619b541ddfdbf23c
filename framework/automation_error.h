// Automation exceptions, and the one barrier at which every C++ exception becomes an HRESULT.
#pragma once
#include <windows.h>
#include <new>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace fw {

struct AutomationException {
  SCODE scode;
  std::wstring description;
};

// Fails the current automation call with a status code and a description (help context 0).
[[noreturn]] void ThrowError(SCODE scode, std::wstring_view description);

// Writes a fault that a barrier turned into an HRESULT to the debugger's output (under Wine,
// WINEDEBUG=+debugstr shows it), as WIL's barrier logs each failure it maps: the module's file
// name, the HRESULT, what was caught and where the barrier stands. Automation errors, which a
// caller's bad argument makes every day, are not faults and are not logged.
void LogBarrier(HRESULT hr, std::wstring_view what, const std::source_location& where) noexcept;

// Where the lines go: the debugger's output unless a test listens (nullptr restores it).
using BarrierLogHook = void (*)(const char* line);
BarrierLogHook SetBarrierLogHook(BarrierLogHook hook) noexcept;

// What an automation exception becomes at a barrier that has no use for its description.
struct StatusOf {
  HRESULT operator()(const AutomationException& e) const noexcept { return e.scode; }
};

// The barrier at every COM entry point, window procedure and export (WIL's CATCH_RETURN): no C++
// exception crosses it. The body's HRESULT passes through (a body without a result gives S_OK);
// an automation exception becomes what onAutomationException makes of it (by default its status
// code), running out of memory E_OUTOFMEMORY, anything else E_UNEXPECTED.
template <typename Body, typename OnAutomationException = StatusOf>
HRESULT ComBarrier(Body&& body, OnAutomationException&& onAutomationException = {},
                   const std::source_location where = std::source_location::current()) noexcept {
  static_assert(noexcept(onAutomationException(std::declval<const AutomationException&>())),
                "what handles an exception at the barrier must not throw");
  try {
    if constexpr (std::is_void_v<decltype(body())>) {
      body();
      return S_OK;
    } else {
      return body();
    }
  } catch (const AutomationException& e) {
    return onAutomationException(e);
  } catch (const std::bad_alloc&) {
    LogBarrier(E_OUTOFMEMORY, L"out of memory", where);
    return E_OUTOFMEMORY;
  } catch (...) {
    LogBarrier(E_UNEXPECTED, L"an unexpected C++ exception", where);
    return E_UNEXPECTED;
  }
}

}  // namespace fw
