// The module's class objects.
#pragma once
#include <unknwn.h>

namespace server {

using CreateFn = HRESULT (*)(REFIID iid, void** out);

// Hands out the class object for clsid, or CLASS_E_CLASSNOTAVAILABLE.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);

}  // namespace server
