// Loading the module's type library: the registered one when it is registered, else the one the
// module carries (resource TYPELIB 1), so that a host that took a class object straight from the
// module still gets type information.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include "framework/unique_any.h"

namespace fw {

struct TypeLibVersion {
  WORD major;
  WORD minor;
};

// The library the module carries.
HRESULT LoadModuleTypeLib(com_ptr<ITypeLib>& lib);
// The registered library libId of that version for lcid, or the module's own.
HRESULT LoadTypeLibrary(const GUID& libId, TypeLibVersion version, LCID lcid,
                        com_ptr<ITypeLib>& lib);
// The description of one type (an interface or a class) of that library.
HRESULT LoadTypeInfo(const GUID& libId, TypeLibVersion version, LCID lcid, REFGUID type,
                     ITypeInfo** out);

}  // namespace fw
