#include "server/class_factory.h"

#include "control/udp_ctrl.h"
#include "framework/automation_error.h"
#include "framework/module.h"
#include "typelib/udp_guids.h"

namespace server {

namespace {

class ClassFactory : public IClassFactory {
 public:
  constexpr ClassFactory(const CLSID& clsid, CreateFn create) : clsid_(clsid), create_(create) {}
  const CLSID& clsid() const { return clsid_; }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Static objects: a reference from outside keeps the module loaded.
  STDMETHODIMP_(ULONG) AddRef() override {
    fw::ModuleAddRef();
    return 2;
  }
  STDMETHODIMP_(ULONG) Release() override {
    fw::ModuleRelease();
    return 1;
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return fw::ComBarrier([&] { return create_(iid, out); });
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      fw::ModuleAddRef();
    else
      fw::ModuleRelease();
    return S_OK;
  }

 private:
  const CLSID& clsid_;
  CreateFn create_;
};

ClassFactory g_udpCtrlFactory(CLSID_Udp, udp::CreateUdpCtrl);
ClassFactory* const g_factories[] = {&g_udpCtrlFactory};

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (auto* factory : g_factories)
    if (IsEqualCLSID(clsid, factory->clsid())) return factory->QueryInterface(iid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace server
