// The endpoint behind a Host's control, for the few tests that must look inside it: what no
// automation member shows, or nothing can show before the container has initialised the control.
// Everything else a test reads the way a host does.
#pragma once
#include "control/endpoint_access.h"
#include "control/udp_ctrl.h"
#include "support/host.h"

namespace host {

class Inside {
 public:
  explicit Inside(const Host& h) : endpoint_(ControlOf(h).endpoint()) {}

  short State() const { return udp::EndpointAccess::State(endpoint_); }
  LONG LastError() const { return udp::EndpointAccess::LastError(endpoint_); }
  LONG WsaError() const { return udp::EndpointAccess::WsaError(endpoint_); }
  LONG ReceiveBufferSize() const { return udp::EndpointAccess::ReceiveBufferSize(endpoint_); }
  bool BindPending() const { return udp::EndpointAccess::BindPending(endpoint_); }
  bool LocalServiceLookupOutstanding() const {
    return udp::EndpointAccess::LocalServiceLookupOutstanding(endpoint_);
  }
  // The endpoint's public C++ members, which the automation members call.
  const udp::Endpoint& endpoint() const { return endpoint_; }

 private:
  const udp::Endpoint& endpoint_;
};

}  // namespace host
