// The control behind a Host, for the few tests that must look inside it: what no automation
// member shows, or nothing can show before the container has initialised the control. Everything
// else a test reads the way a host does.
#pragma once
#include "control/udp_ctrl_access.h"
#include "support/host.h"

namespace host {

class Inside {
 public:
  explicit Inside(const Host& h) : control_(ControlOf(h)) {}

  short State() const { return udp::CUdpCtrlAccess::State(control_); }
  LONG LastError() const { return udp::CUdpCtrlAccess::LastError(control_); }
  LONG WsaError() const { return udp::CUdpCtrlAccess::WsaError(control_); }
  LONG ReceiveBufferSize() const { return udp::CUdpCtrlAccess::ReceiveBufferSize(control_); }
  bool BindPending() const { return udp::CUdpCtrlAccess::BindPending(control_); }
  bool LocalServiceLookupOutstanding() const {
    return udp::CUdpCtrlAccess::LocalServiceLookupOutstanding(control_);
  }
  // The control's public C++ members, which the automation members call.
  const udp::CUdpCtrl& control() const { return control_; }

 private:
  const udp::CUdpCtrl& control_;
};

}  // namespace host
