// The one loader of the module's type library (type_library.h).
#include "framework/type_library.h"

#include <string>

#include "framework/registration.h"

namespace fw {

HRESULT LoadModuleTypeLib(com_ptr<ITypeLib>& lib) {
  const std::wstring path = ModuleFullPath();
  if (path.empty()) return E_FAIL;
  return ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
}

HRESULT LoadTypeLibrary(const GUID& libId, TypeLibVersion version, LCID lcid,
                        com_ptr<ITypeLib>& lib) {
  if (SUCCEEDED(::LoadRegTypeLib(libId, version.major, version.minor, lcid, lib.put()))) return S_OK;
  return LoadModuleTypeLib(lib);
}

HRESULT LoadTypeInfo(const GUID& libId, TypeLibVersion version, LCID lcid, REFGUID type,
                     ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  com_ptr<ITypeLib> lib;
  const HRESULT hr = LoadTypeLibrary(libId, version, lcid, lib);
  if (FAILED(hr)) return hr;
  return lib->GetTypeInfoOfGuid(type, out);
}

}  // namespace fw
