#include "framework/module.h"

#include "framework/object_factory.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace fw {

bool ReleaseCount(LONG& count) {
  // A release that has nothing to release (an unbalanced call from outside) changes nothing: a
  // count below zero would let the module unload under an object that still lives.
  for (LONG seen = count; seen > 0;) {
    const LONG previous = ::InterlockedCompareExchange(&count, seen - 1, seen);
    if (previous == seen) return true;
    seen = previous;
  }
  return false;
}

namespace {
LONG g_useCount = 0;
SRWLOCK g_moduleLock = SRWLOCK_INIT;
COleControlModule* g_module = nullptr;
}  // namespace

void ModuleAddRef() { ::InterlockedIncrement(&g_useCount); }
void ModuleRelease() { ReleaseCount(g_useCount); }
LONG ModuleUseCount() { return g_useCount; }
HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

ModuleLock::ModuleLock() { ::AcquireSRWLockExclusive(&g_moduleLock); }
ModuleLock::~ModuleLock() { ::ReleaseSRWLockExclusive(&g_moduleLock); }

COleControlModule::COleControlModule() { g_module = this; }
COleControlModule::~COleControlModule() {
  if (g_module == this) g_module = nullptr;
}

bool COleControlModule::InitInstance() {
  COleObjectFactory::RegisterAll();
  return true;
}

int COleControlModule::ExitInstance() {
  COleObjectFactory::RevokeAll();
  return 0;
}

COleControlModule* TheModule() { return g_module; }

}  // namespace fw
