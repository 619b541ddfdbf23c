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

// A type library as the documentation and the examples name it: Visual Basic type names, each
// dispatch interface with its members, each class with its default and default source interface.
struct LibParam {
  std::wstring name;
  std::wstring type;  // "Long", "String", "Object", ...
  bool byRef = false;
  bool optional = false;
  std::wstring defaultValue;  // empty when none
};
struct LibMember {
  std::wstring name;
  MEMBERID id = 0;
  bool property = false;
  bool readOnly = false;  // as the library marks it
  std::wstring type;      // a property's type, a method's result ("" for none)
  std::vector<LibParam> params;
};
struct LibInterface {
  std::wstring name;
  IID iid{};
  bool source = false;  // some class raises its events through it
  std::vector<LibMember> members;
  const LibMember* Find(const std::wstring& member) const;  // ignoring case, as VB does
};
struct LibClass {
  std::wstring name;
  CLSID clsid{};
  std::wstring defaultInterface, defaultSource;
};
struct LibModel {
  std::wstring name;  // the library's own name, "UDPLib"
  GUID libId{};
  WORD major = 0, minor = 0;
  std::vector<LibInterface> interfaces;  // the dispatch interfaces, in library order
  std::vector<LibClass> classes;
  const LibInterface* Interface(const std::wstring& name) const;
  const LibClass* Class(const std::wstring& name) const;
  const LibClass* Class(REFCLSID clsid) const;
};
LibModel ModelOf(ITypeLib* lib);
// How the documentation writes a member: a property's type, or Name(Param As Type, ...) As Type.
std::wstring Declaration(const LibMember& member);

// A file of the source tree, as the Windows side sees it.
std::wstring SourcePath(const std::wstring& relative);
std::string ReadFileBytes(const std::wstring& path);
std::wstring NameOf(ITypeInfo* info, MEMBERID id);
std::wstring DocStringOf(ITypeLib* lib, int index);

}  // namespace host
