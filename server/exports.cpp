// The in-process server's exports. Each is an entry the platform calls: no exception leaves one.
#include <windows.h>
#include <olectl.h>

#include "framework/automation_error.h"
#include "framework/module.h"
#include "framework/object_factory.h"
#include "framework/registration.h"
#include "server/udp_app.h"

// Only a failed attach fails: the other notifications have nothing to refuse.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  const HRESULT hr = fw::ComBarrier([&]() -> HRESULT {
    fw::COleControlModule* module = fw::TheModule();
    if (!module) return E_FAIL;
    if (reason == DLL_PROCESS_ATTACH) return module->InitInstance() ? S_OK : E_FAIL;
    if (reason == DLL_PROCESS_DETACH) module->ExitInstance();
    return S_OK;
  });
  return SUCCEEDED(hr) || reason != DLL_PROCESS_ATTACH;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return fw::ComBarrier([&] { return fw::COleObjectFactory::GetClassObject(clsid, iid, out); });
}

// Objects, locks and references to the class objects all count in the module's use count.
STDAPI DllCanUnloadNow() {
  return fw::ComBarrier([] { return fw::ModuleUseCount() == 0 ? S_OK : S_FALSE; });
}

STDAPI DllRegisterServer() {
  return fw::ComBarrier([] { return server::RegisterServer(HKEY_CLASSES_ROOT, false); });
}

STDAPI DllUnregisterServer() {
  return fw::ComBarrier([] { return server::UnregisterServer(HKEY_CLASSES_ROOT, false); });
}

// regsvr32 /n /i:user registers for the current user only; regsvr32 /u /n /i:user removes that.
// Without a command line it does what DllRegisterServer / DllUnregisterServer do.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  return fw::ComBarrier([&]() -> HRESULT {
    if (!commandLine || !*commandLine)
      return install ? server::RegisterServer(HKEY_CLASSES_ROOT, false)
                     : server::UnregisterServer(HKEY_CLASSES_ROOT, false);
    if (::lstrcmpiW(commandLine, L"user") != 0) return E_INVALIDARG;
    fw::RegKey userClasses = fw::OpenUserClassesRoot();
    if (!userClasses) return SELFREG_E_CLASS;
    return install ? server::RegisterServer(userClasses.get(), true)
                   : server::UnregisterServer(userClasses.get(), true);
  });
}
