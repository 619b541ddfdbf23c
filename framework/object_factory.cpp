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
    : m_clsid(clsid), m_create(create), m_progId(progId) {
  ModuleLock lock;
  if (g_lastFactory)
    g_lastFactory->m_next = this;
  else
    g_firstFactory = this;
  g_lastFactory = this;
}

STDMETHODIMP COleObjectFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return ComBarrier([&] { return m_create(iid, out); });
}

namespace {
// Locks are counted apart from the module's other holders, so that an unbalanced unlock cannot
// release what an object holds.
LONG g_locks = 0;
}  // namespace

STDMETHODIMP COleObjectFactory::LockServer(BOOL lock) noexcept {
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
  for (auto* f = g_firstFactory; f; f = f->m_next) f->m_available = true;
}

void COleObjectFactory::RevokeAll() {
  ModuleLock lock;
  for (auto* f = g_firstFactory; f; f = f->m_next) f->m_available = false;
}

HRESULT COleObjectFactory::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ModuleLock lock;
  for (auto* f = g_firstFactory; f; f = f->m_next)
    if (f->m_available && IsEqualCLSID(clsid, f->m_clsid)) return f->QueryInterface(iid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

bool COleObjectFactory::UpdateRegistryAll(bool registering, HKEY classesRoot) {
  for (auto* f = g_firstFactory; f; f = f->m_next)
    if (!f->UpdateRegistry(registering, classesRoot)) return false;
  return true;
}

}  // namespace fw
