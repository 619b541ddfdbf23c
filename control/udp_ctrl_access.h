// The one way into CUdpCtrl's private part. Its tables bind the automation members, the change
// notifications and the window messages to the control (udp_dispatch.cpp); its readers show the
// few facts that no automation member shows, for the tests that must look inside.
#pragma once
#include "control/udp_ctrl.h"

namespace udp {

struct CUdpCtrlAccess {
  static const fw::DispEntry<CUdpCtrl> kDispatch[];
  static const fw::EventEntry kEvents[];
  static const fw::MessageMapEntry<CUdpCtrl> kMessages[];

  // State and LastError, also before the container has initialised the control.
  static short State(const CUdpCtrl& c) { return c.m_state; }
  static LONG LastError(const CUdpCtrl& c) { return c.m_lastError; }
  // The error the last failed start-up, clean-up, host name or cancel left.
  static LONG WsaError(const CUdpCtrl& c) { return c.m_wsaError; }
  // The size of the buffer each read receives into.
  static LONG ReceiveBufferSize(const CUdpCtrl& c) { return c.m_maxDatagram; }
  // Open named a service: the bind waits for its look-up.
  static bool BindPending(const CUdpCtrl& c) { return c.m_bindPending != FALSE; }
  static bool LocalServiceLookupOutstanding(const CUdpCtrl& c) {
    return c.m_localServLookup.IsOutstanding();
  }
};

}  // namespace udp
