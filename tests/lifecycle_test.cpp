// Creation, the failure convention and destruction, seen from a host.
#include <gtest/gtest.h>

#include "control/udp_ctrl.h"
#include "support/host.h"

using host::Host;
using host::Var;

TEST(Lifecycle, NewControlStartsClosedWithDefaults) {
  Host h;
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 0);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
  EXPECT_TRUE(h.sink().events.empty());
}
