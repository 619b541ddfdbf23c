// The in-process server's module: what keeps it loaded (live objects, locks, referenced class
// objects) and the one module object that starts and ends it.
#pragma once
#include <windows.h>

namespace fw {

void ModuleAddRef();
// Never takes the count below zero.
void ModuleRelease();
// Decrements count unless it is already zero or less; true when it did.
bool ReleaseCount(LONG& count);
LONG ModuleUseCount();
// The module image this code is linked into (the DLL, or a test executable).
HINSTANCE ThisModule();

// The framework's global lock: guards the module's list of class objects.
class ModuleLock {
 public:
  ModuleLock();
  ~ModuleLock();
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;
};

// The module object. A server defines exactly one, as a static object; DllMain starts and ends
// it through TheModule().
class COleControlModule {
 public:
  COleControlModule();
  virtual ~COleControlModule();
  COleControlModule(const COleControlModule&) = delete;
  COleControlModule& operator=(const COleControlModule&) = delete;

  // Makes every class object of the module available; false fails the module's load.
  virtual bool InitInstance();
  // Withdraws the class objects.
  virtual int ExitInstance();
};

// The module object of this image, or nullptr when the image defines none.
COleControlModule* TheModule();

}  // namespace fw
