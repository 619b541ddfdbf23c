// What only a host in the control's own process can do: create the control from the module it
// links, and reach the object behind the interfaces. Kept apart from host.cpp so that clients of
// the registered control (the demo, the registered client) link no code of the control.
#include <stdexcept>

#include "control/udp_ctrl.h"
#include "support/host.h"

namespace host {

Host::Host(Init init) {
  fw::com_ptr<IUnknown> unknown;
  if (FAILED(udp::CreateUdpCtrl(IID_IUnknown, unknown.put_void())))
    throw std::runtime_error("cannot create the control");
  Attach(unknown.get(), init);
}

HWND Host::Window() const { return ControlOf(*this).GetSafeHwnd(); }

udp::CUdpCtrl& ControlOf(const Host& h) {
  return *static_cast<udp::CUdpCtrl*>(static_cast<fw::COleControl*>(h.dispatch()));
}

}  // namespace host
