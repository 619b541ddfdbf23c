#include "framework/registration.h"

#include <oleauto.h>
#include <olectl.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/module.h"
#include "framework/type_library.h"
#include "framework/unique_any.h"

namespace fw {

namespace {

bool Missing(LONG status) {
  return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND ||
         status == ERROR_INVALID_HANDLE || status == ERROR_BADKEY || status == ERROR_KEY_DELETED;
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
  std::vector<std::wstring> names;
  wchar_t name[256];
  for (DWORD i = 0; ::RegEnumKeyW(key, i, name, 256) == ERROR_SUCCESS; ++i)
    names.emplace_back(name);
  return names;
}

bool IsLocaleName(const std::wstring& name) {
  if (name.empty()) return false;
  for (wchar_t c : name)
    if (!iswxdigit(c)) return false;
  return true;
}

const wchar_t* PlatformName(SYSKIND kind) {
  switch (kind) {
    case SYS_WIN16:
      return L"win16";
    case SYS_WIN32:
      return L"win32";
    case SYS_WIN64:
      return L"win64";
    default:
      return nullptr;
  }
}

// oleaut32 reads and writes type library keys under HKEY_CLASSES_ROOT only: for a per-user
// registration that root is mapped onto the user's classes key while the call runs.
class ClassesRootRedirect {
 public:
  ClassesRootRedirect(HKEY classesRoot, bool perUser) {
    if (perUser) m_active = ::RegOverridePredefKey(HKEY_CLASSES_ROOT, classesRoot) == ERROR_SUCCESS;
  }
  ~ClassesRootRedirect() {
    if (m_active) ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  }
  ClassesRootRedirect(const ClassesRootRedirect&) = delete;
  ClassesRootRedirect& operator=(const ClassesRootRedirect&) = delete;
  bool failed(bool perUser) const { return perUser && !m_active; }

 private:
  bool m_active = false;
};

// The library embedded in the module, checked against libId.
HRESULT LoadOwnTypeLib(const GUID& libId, com_ptr<ITypeLib>& lib) {
  if (FAILED(LoadModuleTypeLib(lib))) return SELFREG_E_TYPELIB;
  TLIBATTR* attr = nullptr;
  if (FAILED(lib->GetLibAttr(&attr))) return SELFREG_E_TYPELIB;
  const bool same = IsEqualGUID(attr->guid, libId);
  lib->ReleaseTLibAttr(attr);
  return same ? S_OK : SELFREG_E_TYPELIB;
}

// Whether the library has an entry for `platform` under any version and locale.
bool RegisteredForPlatform(HKEY classesRoot, const std::wstring& libKeyName,
                           const wchar_t* platform) {
  RegKey libKey;
  if (::RegOpenKeyExW(classesRoot, libKeyName.c_str(), 0, KEY_READ, libKey.put()) != ERROR_SUCCESS)
    return false;
  for (const auto& version : SubkeyNames(libKey.get())) {
    RegKey versionKey;
    if (::RegOpenKeyExW(libKey.get(), version.c_str(), 0, KEY_READ, versionKey.put()) !=
        ERROR_SUCCESS)
      continue;
    for (const auto& locale : SubkeyNames(versionKey.get()))
      if (IsLocaleName(locale) && RegKeyExists(versionKey.get(), locale + L"\\" + platform))
        return true;
  }
  return false;
}

}  // namespace

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring TypeLibVersionText(TypeLibVersion version) {
  return std::to_wstring(version.major) + L"." + std::to_wstring(version.minor);
}

std::wstring ModuleFullPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring ModuleShortPath() {
  const std::wstring full = ModuleFullPath();
  if (full.empty()) return full;
  DWORD n = ::GetShortPathNameW(full.c_str(), nullptr, 0);
  if (n == 0) return full;
  std::wstring path(n, L'\0');
  n = ::GetShortPathNameW(full.c_str(), path.data(), n);
  if (n == 0 || n >= path.size()) return full;
  path.resize(n);
  return path;
}

std::wstring ModuleString(UINT id, const std::wstring& fallback) {
  const wchar_t* text = nullptr;
  // With a zero length LoadStringW hands out a pointer into the resource itself.
  int n = ::LoadStringW(ThisModule(), id, reinterpret_cast<wchar_t*>(&text), 0);
  if (n <= 0 || !text) return fallback;
  return std::wstring(text, static_cast<size_t>(n));
}

bool SetRegString(HKEY root, const std::wstring& key, const wchar_t* valueName,
                  const std::wstring& value) {
  RegKey k;
  if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(),
                        nullptr) != ERROR_SUCCESS)
    return false;
  const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(k.get(), valueName, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
}

bool RegKeyExists(HKEY root, const std::wstring& key, REGSAM view) {
  RegKey k;
  return ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, k.put()) == ERROR_SUCCESS;
}

REGSAM OtherRegistryView() { return sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

bool DeleteRegTree(HKEY root, const std::wstring& key, REGSAM view) {
  if (key.empty()) return false;  // never the root itself
  RegKey k;
  LONG status = ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | KEY_WRITE | view, k.put());
  if (Missing(status)) return true;
  if (status != ERROR_SUCCESS) return false;
  for (const auto& child : SubkeyNames(k.get()))
    if (!DeleteRegTree(k.get(), child, view)) return false;
  k.reset();
  status = view ? ::RegDeleteKeyExW(root, key.c_str(), view, 0) : ::RegDeleteKeyW(root, key.c_str());
  return status == ERROR_SUCCESS || Missing(status);
}

bool RegisterControlClass(HKEY root, const ControlClassRegistration& reg) {
  const std::wstring clsid = GuidText(*reg.clsid);
  const std::wstring name = ModuleString(reg.userTypeNameId, clsid);
  const std::wstring path = ModuleShortPath();
  if (path.empty()) return false;
  const std::wstring progId = reg.progId;
  const std::wstring cls = L"CLSID\\" + clsid;
  const std::wstring version = TypeLibVersionText(reg.typeLibVersion);
  return SetRegString(root, progId, nullptr, name) &&
         SetRegString(root, progId + L"\\CLSID", nullptr, clsid) &&
         SetRegString(root, cls, nullptr, name) &&
         SetRegString(root, cls + L"\\ProgID", nullptr, progId) &&
         SetRegString(root, cls + L"\\InprocServer32", nullptr, path) &&
         SetRegString(root, cls + L"\\ToolboxBitmap32", nullptr,
                      path + L", " + std::to_wstring(reg.toolboxBitmapId)) &&
         SetRegString(root, cls + L"\\MiscStatus", nullptr, L"0") &&
         SetRegString(root, cls + L"\\MiscStatus\\1", nullptr, std::to_wstring(reg.miscStatus)) &&
         SetRegString(root, cls + L"\\Control", nullptr, L"") &&
         SetRegString(root, cls + L"\\TypeLib", nullptr, GuidText(*reg.typeLibId)) &&
         SetRegString(root, cls + L"\\Version", nullptr, version) &&
         SetRegString(root, cls + L"\\InprocServer32", L"ThreadingModel", reg.threadingModel);
}

bool RegisterPlainClass(HKEY root, const CLSID& clsid, UINT nameId) {
  const std::wstring text = GuidText(clsid);
  const std::wstring path = ModuleShortPath();
  if (path.empty()) return false;
  const std::wstring cls = L"CLSID\\" + text;
  return SetRegString(root, cls, nullptr, ModuleString(nameId, text)) &&
         SetRegString(root, cls + L"\\InprocServer32", nullptr, path);
}

bool UnregisterClass(HKEY root, const CLSID& clsid, const wchar_t* progId) {
  const std::wstring cls = L"CLSID\\" + GuidText(clsid);
  if (RegKeyExists(root, cls + L"\\InprocServer")) {
    // The 16-bit server keeps the class: take away only what this module wrote for itself.
    return DeleteRegTree(root, cls + L"\\InprocServer32") &&
           DeleteRegTree(root, cls + L"\\ToolboxBitmap32");
  }
  if (!DeleteRegTree(root, cls)) return false;
  if (!progId || RegKeyExists(root, cls + L"\\InprocServer32", OtherRegistryView())) return true;
  return DeleteRegTree(root, progId);
}

RegKey OpenUserClassesRoot() {
  RegKey k;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, k.put(), nullptr) != ERROR_SUCCESS)
    k.reset();
  return k;
}

HRESULT RegisterModuleTypeLib(const GUID& libId, HKEY classesRoot, bool perUser) {
  com_ptr<ITypeLib> lib;
  if (FAILED(LoadOwnTypeLib(libId, lib))) return SELFREG_E_TYPELIB;
  std::wstring path = ModuleFullPath();
  ClassesRootRedirect redirect(classesRoot, perUser);
  if (redirect.failed(perUser)) return SELFREG_E_TYPELIB;
  if (FAILED(::RegisterTypeLib(lib.get(), path.data(), nullptr))) return SELFREG_E_TYPELIB;
  return S_OK;
}

// Everything is read and removed under classesRoot itself, so the per-user case needs nothing more.
HRESULT UnregisterModuleTypeLib(const GUID& libId, HKEY classesRoot, bool /*perUser*/) {
  com_ptr<ITypeLib> ownLib;
  const bool haveOwnLib = SUCCEEDED(LoadOwnTypeLib(libId, ownLib));
  const wchar_t* platform = PlatformName(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  if (haveOwnLib) {
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(ownLib->GetLibAttr(&attr))) {
      if (const wchar_t* p = PlatformName(attr->syskind)) platform = p;
      ownLib->ReleaseTLibAttr(attr);
    }
  }

  const std::wstring libKeyName = L"TypeLib\\" + GuidText(libId);
  RegKey libKey;
  LONG status =
      ::RegOpenKeyExW(classesRoot, libKeyName.c_str(), 0, KEY_READ | KEY_WRITE, libKey.put());
  if (status == ERROR_SUCCESS) {
    for (const auto& version : SubkeyNames(libKey.get())) {
      RegKey versionKey;
      status =
          ::RegOpenKeyExW(libKey.get(), version.c_str(), 0, KEY_READ | KEY_WRITE, versionKey.put());
      if (Missing(status)) continue;
      if (status != ERROR_SUCCESS) return SELFREG_E_TYPELIB;
      bool localesLeft = false;
      for (const auto& locale : SubkeyNames(versionKey.get())) {
        if (!IsLocaleName(locale)) continue;  // FLAGS, HELPDIR
        if (!DeleteRegTree(versionKey.get(), locale + L"\\" + platform)) return SELFREG_E_TYPELIB;
        RegKey localeKey;
        if (::RegOpenKeyExW(versionKey.get(), locale.c_str(), 0, KEY_READ, localeKey.put()) !=
            ERROR_SUCCESS)
          continue;
        const bool otherPlatforms = !SubkeyNames(localeKey.get()).empty();
        localeKey.reset();
        if (otherPlatforms)
          localesLeft = true;  // another platform's server still uses this registration
        else if (!DeleteRegTree(versionKey.get(), locale))
          return SELFREG_E_TYPELIB;
      }
      versionKey.reset();
      if (!localesLeft && !DeleteRegTree(libKey.get(), version)) return SELFREG_E_TYPELIB;
    }
    const bool versionsLeft = !SubkeyNames(libKey.get()).empty();
    libKey.reset();
    if (!versionsLeft && !DeleteRegTree(classesRoot, libKeyName)) return SELFREG_E_TYPELIB;
  } else if (!Missing(status)) {
    return SELFREG_E_TYPELIB;
  }

  // RegisterTypeLib writes the interface keys into both registry views, whichever word size
  // registers, and both DLLs of the product register the same library: the keys go, from both
  // views, once neither word size has the library registered. Keys that an earlier registration
  // left behind go with them.
  if (haveOwnLib && !RegisteredForPlatform(classesRoot, libKeyName, L"win32") &&
      !RegisteredForPlatform(classesRoot, libKeyName, L"win64")) {
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      RegKey interfaces;
      status = ::RegOpenKeyExW(classesRoot, L"Interface", 0, KEY_READ | KEY_WRITE | view,
                               interfaces.put());
      if (Missing(status)) continue;
      if (status != ERROR_SUCCESS) return SELFREG_E_TYPELIB;
      const UINT count = ownLib->GetTypeInfoCount();
      for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        if (FAILED(ownLib->GetTypeInfoType(i, &kind))) continue;
        if (kind != TKIND_DISPATCH && kind != TKIND_INTERFACE) continue;
        com_ptr<ITypeInfo> info;
        if (FAILED(ownLib->GetTypeInfo(i, info.put()))) continue;
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr))) continue;
        const std::wstring iid = GuidText(attr->guid);
        info->ReleaseTypeAttr(attr);
        if (!DeleteRegTree(interfaces.get(), iid)) return SELFREG_E_TYPELIB;
      }
    }
  }
  return S_OK;
}

}  // namespace fw
