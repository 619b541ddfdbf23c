#include "server/udp_app.h"

#include <olectl.h>

#include "control/udp_ctrl.h"
#include "framework/registration.h"
#include "server/resource.h"
#include "server/udp_prop_page.h"
#include "server/udp_socket.h"
#include "typelib/udp.h"

namespace server {

// Construction order is the order in which registration walks the factories.
CUdpApp theApp;
CUdpCtrlFactory theUdpCtrlFactory;
CUdpPropPageFactory theUdpPropPageFactory;
CUdpSocketFactory theUdpSocketFactory;

// The framework's start makes every class object of the module available.
bool CUdpApp::InitInstance() { return COleControlModule::InitInstance(); }

// The framework's exit withdraws every class object.
int CUdpApp::ExitInstance() { return COleControlModule::ExitInstance(); }

CUdpCtrlFactory::CUdpCtrlFactory()
    : COleObjectFactory(CLSID_Udp, udp::CreateUdpCtrl, L"UDP.UdpCtrl.1") {}

bool CUdpCtrlFactory::UpdateRegistry(bool registering, HKEY classesRoot) {
  if (!registering) return fw::UnregisterClass(classesRoot, ClassId(), ProgId());
  const fw::ControlClassInfo& info = udp::CUdpCtrl::ClassInfoOfUdp();
  const fw::ControlClassRegistration reg = {
      &ClassId(),
      ProgId(),
      info.userTypeNameId,
      IDB_UDP,
      info.miscStatus,
      L"Apartment",
      info.typeLibId,
      info.typeLibVersion,
  };
  return fw::RegisterControlClass(classesRoot, reg);
}

CUdpPropPageFactory::CUdpPropPageFactory()
    : COleObjectFactory(CLSID_UdpPropPage, CreateUdpPropPage, L"UDP.UdpPropPage.1") {}

bool CUdpPropPageFactory::UpdateRegistry(bool registering, HKEY classesRoot) {
  // The page's ProgID is known to its factory only: no ProgID key, no threading model.
  if (!registering) return fw::UnregisterClass(classesRoot, ClassId(), nullptr);
  return fw::RegisterPlainClass(classesRoot, ClassId(), IDS_UDP_PPG);
}

HRESULT RegisterServer(HKEY classesRoot, bool perUser) {
  if (FAILED(fw::RegisterModuleTypeLib(LIBID_UDPLib, classesRoot, perUser)))
    return SELFREG_E_TYPELIB;
  if (!fw::COleObjectFactory::UpdateRegistryAll(true, classesRoot)) return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT UnregisterServer(HKEY classesRoot, bool perUser) {
  if (FAILED(fw::UnregisterModuleTypeLib(LIBID_UDPLib, classesRoot, perUser)))
    return SELFREG_E_TYPELIB;
  if (!fw::COleObjectFactory::UpdateRegistryAll(false, classesRoot)) return SELFREG_E_CLASS;
  return S_OK;
}

}  // namespace server
