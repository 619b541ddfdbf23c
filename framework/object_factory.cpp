#include "framework/object_factory.h"

#include "framework/automation_error.h"
#include "framework/module.h"

namespace fw {

namespace {
// Constant-initialised, so factories constructed during static initialisation find it ready.
COleObjectFactory* g_firstFactory = nullptr;
COleObjectFactory* g_lastFactory = nullptr;
}  // namespace

COleObjectFactory::COleObjectFactory(const CLSID& clsid, CreateFn create, const wchar_t* progId)
    : clsid_(clsid), create_(create), progId_(progId) {
  ModuleLock lock;
  if (g_lastFactory)
    g_lastFactory->next_ = this;
  else
    g_firstFactory = this;
  g_lastFactory = this;
}

STDMETHODIMP COleObjectFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return ComBarrier([&] { return create_(iid, out); });
}

namespace {
// Locks are counted apart from the module's other holders, so that an unbalanced unlock cannot
// release what an object holds.
LONG g_locks = 0;
}  // namespace

STDMETHODIMP COleObjectFactory::LockServer(BOOL lock) {
  if (lock) {
    ::InterlockedIncrement(&g_locks);
    ModuleAddRef();
  } else if (ReleaseCount(g_locks)) {
    ModuleRelease();
  }
  return S_OK;
}

void COleObjectFactory::RegisterAll() {
  ModuleLock lock;
  for (auto* f = g_firstFactory; f; f = f->next_) f->available_ = true;
}

void COleObjectFactory::RevokeAll() {
  ModuleLock lock;
  for (auto* f = g_firstFactory; f; f = f->next_) f->available_ = false;
}

HRESULT COleObjectFactory::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ModuleLock lock;
  for (auto* f = g_firstFactory; f; f = f->next_)
    if (f->available_ && IsEqualCLSID(clsid, f->clsid_)) return f->QueryInterface(iid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

bool COleObjectFactory::UpdateRegistryAll(bool registering, HKEY classesRoot) {
  for (auto* f = g_firstFactory; f; f = f->next_)
    if (!f->UpdateRegistry(registering, classesRoot)) return false;
  return true;
}

}  // namespace fw
