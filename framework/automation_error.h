// Automation exceptions: how a control member fails a host's call.
#pragma once
#include <windows.h>
#include <string>
#include <string_view>
#include <new>

namespace fw {

struct AutomationException {
  SCODE scode;
  std::wstring description;
};

// Fails the current automation call with a status code and a description (help context 0).
[[noreturn]] void ThrowError(SCODE scode, std::wstring_view description);

// The barrier at every COM entry point: no C++ exception crosses it.
template <typename F>
HRESULT ComBarrier(F&& body) noexcept {
  try {
    return body();
  } catch (const AutomationException& e) {
    return e.scode;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace fw
