#include "support/typelib.h"

#include <cstdlib>

// oleaut32 exports these, but the mingw-w64 headers do not declare them.
WINOLEAUTAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* path, OLECHAR* helpDir);
WINOLEAUTAPI UnRegisterTypeLibForUser(REFGUID libId, WORD major, WORD minor, LCID lcid,
                                      SYSKIND syskind);

namespace host {

std::wstring OcxPath() {
  const char* unixPath = std::getenv("UDP_OCX");
  if (!unixPath || !*unixPath) return {};
  // Wine maps the Unix root to drive Z:.
  std::wstring path = L"Z:";
  for (const char* c = unixPath; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return path;
}

fw::com_ptr<ITypeLib> LoadOcxTypeLib() {
  fw::com_ptr<ITypeLib> lib;
  const std::wstring path = OcxPath();
  if (path.empty()) return lib;
  if (FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put()))) lib.reset();
  return lib;
}

RegisteredTypeLib::RegisteredTypeLib() {
  auto lib = LoadOcxTypeLib();
  if (!lib) return;
  TLIBATTR* attr = nullptr;
  if (FAILED(lib->GetLibAttr(&attr))) return;
  attr_ = *attr;
  lib->ReleaseTLibAttr(attr);
  std::wstring path = OcxPath();
  status_ = ::RegisterTypeLibForUser(lib.get(), path.data(), nullptr);
}

RegisteredTypeLib::~RegisteredTypeLib() {
  if (SUCCEEDED(status_))
    ::UnRegisterTypeLibForUser(attr_.guid, attr_.wMajorVerNum, attr_.wMinorVerNum, attr_.lcid,
                               attr_.syskind);
}

VARTYPE VarTypeOf(const TYPEDESC& desc) {
  if (desc.vt == VT_PTR && desc.lptdesc) return VarTypeOf(*desc.lptdesc) | VT_BYREF;
  return desc.vt;
}

std::wstring NameOf(ITypeInfo* info, MEMBERID id) {
  BSTR name = nullptr;
  UINT n = 0;
  std::wstring out;
  if (SUCCEEDED(info->GetNames(id, &name, 1, &n)) && n == 1 && name) out = name;
  ::SysFreeString(name);
  return out;
}

std::wstring DocStringOf(ITypeLib* lib, int index) {
  BSTR doc = nullptr;
  std::wstring out;
  if (SUCCEEDED(lib->GetDocumentation(index, nullptr, &doc, nullptr, nullptr)) && doc) out = doc;
  ::SysFreeString(doc);
  return out;
}

}  // namespace host
