#include "framework/module.h"

#include "framework/object_factory.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace fw {
namespace {
LONG g_useCount = 0;
SRWLOCK g_moduleLock = SRWLOCK_INIT;
COleControlModule* g_module = nullptr;
}  // namespace

void ModuleAddRef() { ::InterlockedIncrement(&g_useCount); }
void ModuleRelease() { ::InterlockedDecrement(&g_useCount); }
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
