// CUdpCtrl: one UDP endpoint as an ActiveX control. The endpoint engine does the work; the control
// gives it its window, turns what it hears into events (held while the container freezes them),
// message boxes and its form's modified flag, saves its properties with the form, and draws
// itself. The control runs on the thread that created it and is re-entered only through its own
// event handlers.
#pragma once
#include <deque>
#include <span>

#include "endpoint/endpoint.h"
#include "framework/ole_control.h"
#include "typelib/udp_dispids.h"

namespace udp {

// Event identifiers of _DUdpEvents.
enum EventId : DISPID {
  kEventWsError = UDP_DISPID(WsError),
  kEventReceived = UDP_DISPID(Received),
  kEventClosed = UDP_DISPID(Closed),
  kEventReady = UDP_DISPID(Ready),
  kEventSent = UDP_DISPID(Sent),
};

class CUdpCtrl : public fw::COleControl, private EndpointEvents {
 public:
  CUdpCtrl();

  static const fw::ControlClassInfo& ClassInfoOfUdp();

  // The engine behind the control's members (the tests that must look inside reach it here).
  const Endpoint& endpoint() const { return m_endpoint; }

  // --- the automation surface (udp_dispatch.cpp): the engine's members, and the About box ---
  DISPID MemberId(const wchar_t* name) const override;
  HRESULT InvokeMember(DISPID id, REFIID iid, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excepInfo, UINT* argErr) override;
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  // --- the About box (about.cpp) ---
  void AboutBox();

 protected:
  ~CUdpCtrl() override;

 private:
  // --- lifecycle, persistence and events (lifecycle.cpp) ---
  void DoPropExchange(fw::CPropExchange& px) override;
  void OnSetClientSite() override;
  bool OnSetExtent(const SIZEL& size) override;
  void OnDraw(HDC dc, const RECT& bounds) override;
  void OnEventsThawed() override;
  // Raises WsError, then settles the failure: the automatic close unless the handler cancelled
  // it or reopened the port.
  void RaiseFailure(const EndpointFailure& failure);

  // EndpointEvents
  void OnEndpointReady() override;
  void OnEndpointReceived(const SocketAddress& from, BSTR address, BSTR port,
                          const PacketDestination& to, const char* data,
                          size_t length) override;
  void OnEndpointSent() override;
  void OnEndpointClosed() override;
  // While events are held all of it waits its turn, so that the handler still decides.
  void OnEndpointFailure(const EndpointFailure& failure) override;
  // A Received being raised (now, or later when it was held) makes its datagram's destination
  // the one ToAddress and ToInterface read.
  void OnRaisingEvent(DISPID id) override;
  void OnEndpointModified() override { SetModifiedFlag(); }
  HWND NotificationWindow() const override { return GetSafeHwnd(); }
  void RunEndpointMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool HoldsNotifications() const override { return AreEventsHeld(); }
  bool TellUser(const wchar_t* text, UINT style) override;

  // Last: it reports to the members above while it stops.
  // The destinations of the Received events not yet raised, oldest first.
  std::deque<PacketDestination> m_receivedDestinations;
  Endpoint m_endpoint;
};

// The surface the control and UdpSocket share, on the engine, as a plain table, and its
// dispatcher; the events of _DUdpEvents.
extern const std::span<const fw::DispEntry<Endpoint>> kUdpDispatch;
extern const std::span<const fw::EventEntry> kUdpEvents;
const fw::Dispatcher<Endpoint>& UdpDispatcher();
// The control's own members beside the shared ones: the About box, which needs a form.
extern const std::span<const fw::DispEntry<CUdpCtrl>> kUdpControlOwnDispatch;

// Creates a control object (the class factory's work).
HRESULT CreateUdpCtrl(REFIID iid, void** out);

}  // namespace udp
