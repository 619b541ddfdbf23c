// For helpers that assert: every failure they report also names the line that called them, as
// Wine's tests do with ok_(__FILE__, __LINE__).
#pragma once
#include <gtest/gtest.h>

#include "support/host.h"

namespace host {

class CallerTrace {
 public:
  explicit CallerTrace(const Where& where)
      : trace_(where.file_name(), static_cast<int>(where.line()), "called from here") {}

 private:
  testing::ScopedTrace trace_;
};

}  // namespace host
