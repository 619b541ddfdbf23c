#include "framework/module.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace fw {
namespace {
LONG g_useCount = 0;
}

void ModuleAddRef() { ::InterlockedIncrement(&g_useCount); }
void ModuleRelease() { ::InterlockedDecrement(&g_useCount); }
LONG ModuleUseCount() { return g_useCount; }
HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

}  // namespace fw
