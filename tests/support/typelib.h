// The control's type library as a host finds it: the TYPELIB resource of the built DLL, loaded
// without registering, or registered for the current user for the length of a test.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "framework/unique_any.h"

namespace host {

// The DLL's Windows path (from the Unix path ctest puts in UDP_OCX); empty when unset.
std::wstring OcxPath();
// Loads TYPELIB 1 of the DLL with REGKIND_NONE; null when it cannot be loaded.
fw::com_ptr<ITypeLib> LoadOcxTypeLib();

// Registers the DLL's type library for the current user; unregisters it again on destruction.
class RegisteredTypeLib {
 public:
  RegisteredTypeLib();
  ~RegisteredTypeLib();
  RegisteredTypeLib(const RegisteredTypeLib&) = delete;
  RegisteredTypeLib& operator=(const RegisteredTypeLib&) = delete;
  HRESULT status() const { return status_; }

 private:
  HRESULT status_ = E_FAIL;
  TLIBATTR attr_{};
};

// The boundary type of a type description; a pointer to T reads as T | VT_BYREF.
VARTYPE VarTypeOf(const TYPEDESC& desc);
std::wstring NameOf(ITypeInfo* info, MEMBERID id);
std::wstring DocStringOf(ITypeLib* lib, int index);

}  // namespace host
