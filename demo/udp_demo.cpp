// The product's main job on loopback: a control opens a UDP port on 127.0.0.1 and reports it.
#include <cstdio>

#include "support/host.h"

int main() {
  ::OleInitialize(nullptr);
  int rc = 0;
  try {
    host::Host control;
    control.MustCall(L"Open", {L"0"});
    std::printf("Socket %ld\n", static_cast<long>(control.MustGet(L"Socket").i4()));
    control.WaitForEvents(4 /* Ready */, 1, 3000);
    std::printf("Ready raised %d time(s)\n", control.sink().Count(4));
    control.MustCall(L"Close");
    std::printf("Closed raised %d time(s)\n", control.sink().Count(3));
  } catch (const std::exception& e) {
    std::printf("failed: %s\n", e.what());
    rc = 1;
  }
  ::OleUninitialize();
  return rc;
}
