#include "support/typelib.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

// oleaut32 exports these, but the mingw-w64 headers do not declare them.
WINOLEAUTAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* path, OLECHAR* helpDir);
WINOLEAUTAPI UnRegisterTypeLibForUser(REFGUID libId, WORD major, WORD minor, LCID lcid,
                                      SYSKIND syskind);

namespace host {

namespace {
// A Unix path as the Windows side sees it: Wine maps the Unix root to drive Z:.
std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* c = unixPath; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return path;
}
}  // namespace

std::wstring OcxPath() {
  const char* unixPath = std::getenv("UDP_OCX");
  return unixPath && *unixPath ? WindowsPath(unixPath) : std::wstring();
}

std::wstring SourcePath(const std::wstring& relative) {
  std::wstring path = WindowsPath(UDP_SOURCE_DIR) + L'\\';
  for (wchar_t c : relative) path += c == L'/' ? L'\\' : c;
  return path;
}

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

namespace host {

namespace {

std::wstring TypeNameOf(ITypeInfo* info) {
  BSTR name = nullptr;
  std::wstring out;
  if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)) && name)
    out = name;
  ::SysFreeString(name);
  return out;
}

bool IsInterfaceType(ITypeInfo* context, HREFTYPE ref) {
  fw::com_ptr<ITypeInfo> info;
  TYPEATTR* attr = nullptr;
  if (FAILED(context->GetRefTypeInfo(ref, info.put())) || FAILED(info->GetTypeAttr(&attr)))
    return false;
  const bool isInterface = attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH;
  info->ReleaseTypeAttr(attr);
  return isInterface;
}

// The Visual Basic name of a type. A pointer to anything but an interface is a by-reference
// parameter; a pointer to an interface is the interface itself.
std::wstring VbType(ITypeInfo* context, const TYPEDESC& desc, bool* byRef = nullptr) {
  switch (desc.vt) {
    case VT_PTR:
      if (!(desc.lptdesc->vt == VT_USERDEFINED && IsInterfaceType(context, desc.lptdesc->hreftype)) &&
          byRef)
        *byRef = true;
      return VbType(context, *desc.lptdesc);
    case VT_USERDEFINED: {
      fw::com_ptr<ITypeInfo> ref;
      if (FAILED(context->GetRefTypeInfo(desc.hreftype, ref.put()))) return L"?";
      const std::wstring name = TypeNameOf(ref.get());
      return name == L"IDispatch" ? L"Object" : name == L"IUnknown" ? L"Unknown" : name;
    }
    case VT_SAFEARRAY:
      return VbType(context, *desc.lptdesc) + L"()";
    case VT_I2: return L"Integer";
    case VT_I4:
    case VT_INT: return L"Long";
    case VT_UI1: return L"Byte";
    case VT_R4: return L"Single";
    case VT_R8: return L"Double";
    case VT_CY: return L"Currency";
    case VT_DATE: return L"Date";
    case VT_BSTR: return L"String";
    case VT_BOOL: return L"Boolean";
    case VT_VARIANT: return L"Variant";
    case VT_DISPATCH: return L"Object";
    case VT_UNKNOWN: return L"Unknown";
    case VT_VOID:
    case VT_EMPTY:
    case VT_HRESULT: return L"";
    default: return L"VT" + std::to_wstring(desc.vt);
  }
}

std::wstring DefaultText(const VARIANT& value) {
  if (V_VT(&value) == VT_BSTR) return L"\"" + std::wstring(V_BSTR(&value) ? V_BSTR(&value) : L"") + L"\"";
  VARIANT text;
  ::VariantInit(&text);
  std::wstring out = L"?";
  if (SUCCEEDED(::VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), LOCALE_INVARIANT,
                                      VARIANT_ALPHABOOL, VT_BSTR)))
    out = V_BSTR(&text);
  ::VariantClear(&text);
  return out;
}

LibMember MemberOf(ITypeInfo* info, const FUNCDESC& func) {
  std::vector<BSTR> names(func.cParams + 1u, nullptr);
  UINT got = 0;
  info->GetNames(func.memid, names.data(), static_cast<UINT>(names.size()), &got);
  LibMember m;
  m.name = got > 0 && names[0] ? names[0] : L"";
  m.id = func.memid;
  m.type = VbType(info, func.elemdescFunc.tdesc);
  for (SHORT i = 0; i < func.cParams; ++i) {
    const ELEMDESC& e = func.lprgelemdescParam[i];
    LibParam p;
    const UINT n = static_cast<UINT>(i) + 1;
    p.name = n < got && names[n] ? names[n] : L"";
    p.type = VbType(info, e.tdesc, &p.byRef);
    const USHORT flags = e.paramdesc.wParamFlags;
    p.optional = (flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0;
    if ((flags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
      p.defaultValue = DefaultText(e.paramdesc.pparamdescex->varDefaultValue);
    m.params.push_back(p);
  }
  for (BSTR b : names) ::SysFreeString(b);
  return m;
}

LibInterface InterfaceOf(ITypeInfo* info, const TYPEATTR& attr) {
  LibInterface out;
  out.name = TypeNameOf(info);
  out.iid = attr.guid;
  for (UINT i = 0; i < attr.cVars; ++i) {
    VARDESC* var = nullptr;
    if (FAILED(info->GetVarDesc(i, &var))) continue;
    LibMember m;
    m.name = NameOf(info, var->memid);
    m.id = var->memid;
    m.property = true;
    m.readOnly = (var->wVarFlags & VARFLAG_FREADONLY) != 0;
    m.type = VbType(info, var->elemdescVar.tdesc);
    out.members.push_back(m);
    info->ReleaseVarDesc(var);
  }
  for (UINT i = 0; i < attr.cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(i, &func))) continue;
    if (!(func->wFuncFlags & FUNCFLAG_FRESTRICTED)) {
      LibMember m = MemberOf(info, *func);
      if (func->invkind == INVOKE_FUNC) {
        out.members.push_back(m);
      } else {
        // A property written as accessor functions: one member, typed by its get (or its put's
        // value), read-only without a put.
        auto it = std::find_if(out.members.begin(), out.members.end(),
                               [&](const LibMember& e) { return e.id == m.id; });
        if (it == out.members.end()) {
          LibMember p{m.name, m.id, true, true, L"", {}};
          it = out.members.insert(out.members.end(), p);
        }
        if (func->invkind == INVOKE_PROPERTYGET) {
          it->type = m.type;
        } else {
          it->readOnly = false;
          if (it->type.empty() && !m.params.empty()) it->type = m.params.back().type;
        }
      }
    }
    info->ReleaseFuncDesc(func);
  }
  return out;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

const LibMember* LibInterface::Find(const std::wstring& member) const {
  for (const auto& m : members)
    if (SameName(m.name, member)) return &m;
  return nullptr;
}

const LibInterface* LibModel::Interface(const std::wstring& name) const {
  for (const auto& i : interfaces)
    if (SameName(i.name, name)) return &i;
  return nullptr;
}

const LibClass* LibModel::Class(const std::wstring& name) const {
  for (const auto& c : classes)
    if (SameName(c.name, name)) return &c;
  return nullptr;
}

const LibClass* LibModel::Class(REFCLSID clsid) const {
  for (const auto& c : classes)
    if (IsEqualCLSID(c.clsid, clsid)) return &c;
  return nullptr;
}

LibModel ModelOf(ITypeLib* lib) {
  LibModel model;
  if (!lib) return model;
  BSTR name = nullptr;
  if (SUCCEEDED(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr)) && name)
    model.name = name;
  ::SysFreeString(name);
  TLIBATTR* libAttr = nullptr;
  if (SUCCEEDED(lib->GetLibAttr(&libAttr))) {
    model.libId = libAttr->guid;
    model.major = libAttr->wMajorVerNum;
    model.minor = libAttr->wMinorVerNum;
    lib->ReleaseTLibAttr(libAttr);
  }
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    fw::com_ptr<ITypeInfo> info;
    TYPEATTR* attr = nullptr;
    if (FAILED(lib->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attr))) continue;
    if (attr->typekind == TKIND_DISPATCH) model.interfaces.push_back(InterfaceOf(info.get(), *attr));
    if (attr->typekind == TKIND_COCLASS) {
      LibClass c{TypeNameOf(info.get()), attr->guid, L"", L""};
      for (UINT k = 0; k < attr->cImplTypes; ++k) {
        INT flags = 0;
        HREFTYPE ref = 0;
        fw::com_ptr<ITypeInfo> implemented;
        if (FAILED(info->GetImplTypeFlags(k, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT) ||
            FAILED(info->GetRefTypeOfImplType(k, &ref)) ||
            FAILED(info->GetRefTypeInfo(ref, implemented.put())))
          continue;
        (flags & IMPLTYPEFLAG_FSOURCE ? c.defaultSource : c.defaultInterface) =
            TypeNameOf(implemented.get());
      }
      model.classes.push_back(c);
    }
    info->ReleaseTypeAttr(attr);
  }
  for (const auto& c : model.classes)
    for (auto& i : model.interfaces)
      if (SameName(i.name, c.defaultSource)) i.source = true;
  return model;
}

std::wstring Declaration(const LibMember& member) {
  if (member.property) return member.type;
  std::wstring out = member.name + L"(";
  for (size_t i = 0; i < member.params.size(); ++i) {
    const LibParam& p = member.params[i];
    std::wstring param = (p.byRef ? L"ByRef " : L"") + p.name + L" As " + p.type;
    if (!p.defaultValue.empty()) param += L" = " + p.defaultValue;
    out += (i ? L", " : L"") + (p.optional ? L"[" + param + L"]" : param);
  }
  out += L")";
  if (!member.type.empty()) out += L" As " + member.type;
  return out;
}

}  // namespace host
