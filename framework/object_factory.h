// Class objects: one static factory per creatable class of the module, linked into the module's
// list when constructed and made available by the module object's start.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include "framework/implements.h"

namespace fw {

// A static object: every reference from outside keeps the module loaded.
class COleObjectFactory : public implements<COleObjectFactory, static_lifetime, IClassFactory> {
 public:
  using CreateFn = HRESULT (*)(REFIID iid, void** out);

  COleObjectFactory(const CLSID& clsid, CreateFn create, const wchar_t* progId);
  ~COleObjectFactory() override = default;
  COleObjectFactory(const COleObjectFactory&) = delete;
  COleObjectFactory& operator=(const COleObjectFactory&) = delete;

  const CLSID& ClassId() const { return m_clsid; }
  const wchar_t* ProgId() const { return m_progId; }
  using implements::IsReferenced;

  // Writes (or removes) the class's registration under classesRoot, which is the machine's
  // classes root or a user's Software\Classes key. False when a key or value could not be
  // written (or removed).
  virtual bool UpdateRegistry(bool registering, HKEY classesRoot) = 0;

  // IClassFactory
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept override;
  STDMETHODIMP LockServer(BOOL lock) noexcept override;

  // The module's list.
  static void RegisterAll();
  static void RevokeAll();
  // The class object of clsid, or CLASS_E_CLASSNOTAVAILABLE (with *out null).
  static HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);
  // Walks the list in order of construction; stops at the first failure and returns false.
  static bool UpdateRegistryAll(bool registering, HKEY classesRoot);

 private:
  const CLSID& m_clsid;
  CreateFn m_create;
  const wchar_t* m_progId;
  bool m_available = false;
  COleObjectFactory* m_next = nullptr;
};

}  // namespace fw
