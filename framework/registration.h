// Self-registration: the class keys of controls and plain classes, and the module's type library,
// under a classes root that is the machine's (HKEY_CLASSES_ROOT) or the current user's
// (HKEY_CURRENT_USER\Software\Classes).
#pragma once
#include <windows.h>
#include <string>

#include "framework/type_library.h"

#include "framework/unique_any.h"

namespace fw {

// An open registry key, closed when it goes out of scope.
using RegKey = unique_any<HKEY, detail::CloseRegKey>;

// The registry form of a GUID, braces included.
std::wstring GuidText(REFGUID guid);
// The registry form of a type library's version ("1.0").
std::wstring TypeLibVersionText(TypeLibVersion version);
// The module's full path, and its short form (the full path when there is no short form).
std::wstring ModuleFullPath();
std::wstring ModuleShortPath();
// A string resource of the module, or fallback when it cannot be loaded.
std::wstring ModuleString(UINT id, const std::wstring& fallback);

// Creates root\key (and its parents) and sets one string value: the default value when
// valueName is null. Existing values are overwritten.
bool SetRegString(HKEY root, const std::wstring& key, const wchar_t* valueName,
                  const std::wstring& value);
// Deletes root\key with everything below it. A key that is missing or invalid counts as removed.
// view is 0 (this process's registry view), KEY_WOW64_32KEY or KEY_WOW64_64KEY.
bool DeleteRegTree(HKEY root, const std::wstring& key, REGSAM view = 0);
bool RegKeyExists(HKEY root, const std::wstring& key, REGSAM view = 0);
// On 64-bit Windows class and interface keys exist once per word size, while ProgID and type
// library keys are shared: the view of the other word size (the same view on 32-bit Windows).
REGSAM OtherRegistryView();

struct ControlClassRegistration {
  const CLSID* clsid;
  const wchar_t* progId;
  UINT userTypeNameId;   // string resource; the class ID text stands in when it is missing
  UINT toolboxBitmapId;  // bitmap resource
  DWORD miscStatus;      // for DVASPECT_CONTENT
  const wchar_t* threadingModel;
  const GUID* typeLibId;
  TypeLibVersion typeLibVersion;
};

// The ProgID key and the class key of a control, with every subkey and value.
bool RegisterControlClass(HKEY classesRoot, const ControlClassRegistration& reg);
// A class that is neither a control nor has a ProgID: its name and InprocServer32.
bool RegisterPlainClass(HKEY classesRoot, const CLSID& clsid, UINT nameId);
// Removes a class key (and its ProgID key, when progId is given). When the class key also has
// an "InprocServer" subkey (a 16-bit server shares the class ID), only "InprocServer32" and
// "ToolboxBitmap32" are removed. The shared ProgID key stays while the server of the other word
// size is still registered for the class.
bool UnregisterClass(HKEY classesRoot, const CLSID& clsid, const wchar_t* progId);

// Registers the type library embedded in the module (resource TYPELIB 1) after checking that it
// is the library libId. Per-user registration writes under the user's classes root.
HRESULT RegisterModuleTypeLib(const GUID& libId, HKEY classesRoot, bool perUser);
// Removes every version and locale of the library's registration, keeping the entries of other
// platforms (a 16-bit registration, or the other word size); the registrations of its interfaces
// go too, from both registry views, once no 32-bit or 64-bit entry of the library is left.
HRESULT UnregisterModuleTypeLib(const GUID& libId, HKEY classesRoot, bool perUser);

// The user's classes root, created when missing.
RegKey OpenUserClassesRoot();

}  // namespace fw
