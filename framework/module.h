// Counts what keeps the in-process server loaded: live objects and locks.
#pragma once
#include <windows.h>

namespace fw {

void ModuleAddRef();
void ModuleRelease();
LONG ModuleUseCount();
// The module image this code is linked into (the DLL, or a test executable).
HINSTANCE ThisModule();

}  // namespace fw
