#include "framework/automation_error.h"

namespace fw {

void ThrowError(SCODE scode, std::wstring_view description) {
  throw AutomationException{scode, std::wstring(description)};
}

}  // namespace fw
