// The module object, the class objects of the control and of its property page, and the
// registration they write. UdpSocket's class object is in server/udp_socket.h.
#pragma once
#include <windows.h>

#include "framework/module.h"
#include "framework/object_factory.h"

namespace server {

class CUdpApp : public fw::COleControlModule {
 public:
  bool InitInstance() override;
  int ExitInstance() override;
};

class CUdpCtrlFactory : public fw::COleObjectFactory {
 public:
  CUdpCtrlFactory();
  bool UpdateRegistry(bool registering, HKEY classesRoot) override;
};

class CUdpPropPageFactory : public fw::COleObjectFactory {
 public:
  CUdpPropPageFactory();
  bool UpdateRegistry(bool registering, HKEY classesRoot) override;
};

// The type library first, then every class; classesRoot is HKEY_CLASSES_ROOT or the user's
// Software\Classes key.
HRESULT RegisterServer(HKEY classesRoot, bool perUser);
HRESULT UnregisterServer(HKEY classesRoot, bool perUser);

}  // namespace server
