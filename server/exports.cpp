// The in-process server's exports.
#include <windows.h>

#include "framework/module.h"
#include "server/class_factory.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return server::GetClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return fw::ModuleUseCount() == 0 ? S_OK : S_FALSE; }
