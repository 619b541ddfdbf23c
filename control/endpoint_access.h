// The one way into Endpoint's private part from above it. Its table binds the automation members
// the control and UdpSocket share to the engine (udp_dispatch.cpp); ExchangeSaved saves and loads
// the properties the control keeps with its form; its readers show the few facts that no
// automation member shows, for the tests that must look inside.
#pragma once
#include "endpoint/endpoint.h"
#include "framework/dispatch_table.h"
#include "framework/prop_exchange.h"

namespace udp {

struct EndpointAccess {
  static const fw::DispEntry<Endpoint> kDispatch[];

  // Straight to the members, as a form's saved values are: no option reaches a socket and no
  // look-up starts.
  static void ExchangeSaved(Endpoint& e, fw::CPropExchange& px) {
    fw::PX_Bool(px, L"Broadcast", e.m_broadcast, FALSE);
    fw::PX_Long(px, L"LastError", e.m_lastError, 0);
    fw::PX_Long(px, L"InetIp", e.m_inetIp, 0);
    fw::PX_String(px, L"InetName", e.m_inetName, L"");
    fw::PX_String(px, L"InetAddress", e.m_inetAddress, L"");
    fw::PX_String(px, L"UserFlag", e.m_userFlag, L"");
    fw::PX_String(px, L"UserData1", e.m_userData1, L"");
    fw::PX_String(px, L"UserData2", e.m_userData2, L"");
    fw::PX_String(px, L"UserData3", e.m_userData3, L"");
    fw::PX_String(px, L"UserData4", e.m_userData4, L"");
    fw::PX_String(px, L"UserData5", e.m_userData5, L"");
    fw::PX_Long(px, L"RCVBUF", e.m_rcvbuf, 0);
    fw::PX_Long(px, L"SNDBUF", e.m_sndbuf, 0);
  }

  // State and LastError, also before the container has initialised the control.
  static short State(const Endpoint& e) { return e.m_state; }
  static LONG LastError(const Endpoint& e) { return e.m_lastError; }
  // The error the last failed start-up, clean-up, host name or cancel left.
  static LONG WsaError(const Endpoint& e) { return e.m_wsaError; }
  // The size of the buffer each read receives into.
  static LONG ReceiveBufferSize(const Endpoint& e) { return e.m_maxDatagram; }
  // Open named a service: the bind waits for its look-up.
  static bool BindPending(const Endpoint& e) { return e.m_bindPending != FALSE; }
  static bool LocalServiceLookupOutstanding(const Endpoint& e) {
    return e.m_localServLookup.IsOutstanding();
  }
};

}  // namespace udp
