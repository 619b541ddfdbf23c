// UdpSocket: a UDP endpoint ready the moment it is created, for hosts that have no form to site a
// control on and nobody watching (VBA, WSH scripts, scheduled tasks, services). It owns an endpoint
// engine and the message-only window its notifications come to: no control, no container, no
// message box. It offers the members the control shares (all but AboutBox) through its own
// dispatch interface, bound to the engine by the same table as the control's, passes the
// endpoint's events on to its sinks and callbacks, and keeps every datagram no handler took for
// Receive.
//
// The three rules (docs/reference.md tells them to hosts):
// - Queue: which datagram a waiting Receive takes is decided as it arrives: the first to arrive
//   while it waits is its own, whatever the limits (they bound what is kept, not what is handed
//   over). Any other is raised as Received to the sinks and OnReceived when any may take it,
//   after the handler running then, if any, returns; a sink that has no Received handler (it
//   answers that it lacks the member) takes nothing. Else it is kept, oldest first, for the next
//   Receive, within QueueLimit datagrams and QueueByteLimit bytes (an arrival beyond them is
//   dropped and counted in Dropped, which stops at the largest Long). Kept datagrams outlive
//   Close.
// - Handlers: while one of this object's handlers runs, its further events wait and are raised,
//   in order, after it returns; datagrams keep arriving meanwhile, so Wait and Receive inside a
//   handler wait for real.
// - Cycles: the callbacks are released when the port closes (once OnClosed has run and the port
//   is still closed), so a callback that refers to the object keeps it no longer than its port.
#pragma once
#include <windows.h>
#include <ocidl.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "endpoint/endpoint.h"
#include "framework/automation_object.h"
#include "framework/dispatch_table.h"
#include "framework/held_events.h"
#include "framework/message_window.h"
#include "framework/object_factory.h"
#include "framework/unique_any.h"
#include "typelib/udp.h"

namespace server {

class CUdpSocket final : public fw::automation_object<CUdpSocket, _DUdpSocket>,
                         private udp::EndpointEvents {
 public:
  CUdpSocket();

  // Creates the notification window and starts the endpoint.
  HRESULT Initialise();

  // The members automation_object dispatches: the socket's own, then the shared ones, run on the
  // endpoint.
  DISPID MemberId(const wchar_t* name) const;
  HRESULT InvokeMember(DISPID id, REFIID iid, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excepInfo, UINT* argErr);

  // The members _DUdpSocket adds to the shared ones (udp_socket_members.cpp).
  bool Wait(LONG milliseconds);
  void Receive(LONG milliseconds, VARIANT* result);
  std::wstring FromAddress() const;
  std::wstring FromPort() const;
  void GetCallback(DISPID event, VARIANT* result) const;
  void SetCallback(DISPID event, VARIANT* value);
  LONG Queued() const { return static_cast<LONG>(m_queue.size()); }
  LONG Dropped() const { return m_dropped; }
  // Counts a datagram lost to the limits or to memory; the count stops at the largest LONG.
  void CountDropped();
  LONG GetQueueLimit() const { return m_queueLimit; }
  void SetQueueLimit(LONG datagrams);
  LONG GetQueueByteLimit() const { return m_queueByteLimit; }
  void SetQueueByteLimit(LONG bytes);

 private:
  ~CUdpSocket() override;

  // The sender of a datagram, its texts made once per peer and shared by its datagrams.
  struct Sender {
    udp::SocketAddress address;
    fw::unique_bstr addressText, portText;
  };
  struct Datagram {
    uint64_t id;
    std::shared_ptr<const Sender> from;
    udp::PacketDestination to;
    fw::unique_variant data;
    size_t size;
  };
  // A Receive waiting in its pump, and the datagram that arrived for it.
  struct ReceiveWait {
    std::optional<Datagram> datagram;
  };

  // udp::EndpointEvents (udp_socket_events.cpp)
  void OnEndpointReady() override;
  void OnEndpointReceived(const udp::SocketAddress& from, BSTR address, BSTR port,
                          const udp::PacketDestination& to, const char* data,
                          size_t length) override;
  void OnEndpointSent() override;
  void OnEndpointClosed() override;
  void OnEndpointFailure(const udp::EndpointFailure& failure) override;
  void OnEndpointModified() override {}
  HWND NotificationWindow() const override { return m_window.get(); }
  void RunEndpointMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  // Events wait only while a handler of this object runs, and notifications keep coming then, so
  // that Wait and Receive inside a handler wait for real.
  bool HoldsNotifications() const override { return false; }
  bool TellUser(const wchar_t*, UINT) override { return false; }

  // The notification window's messages: the endpoint's, then the events they produced.
  bool OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  // An event heard from the endpoint waits for no handler of this object to be running.
  void Hold(std::function<void()> raise);
  // Raises the held events in order while none of this object's handlers runs.
  void RaiseHeldEvents();
  void RaiseClosed();
  void RaiseReceived(uint64_t datagram);
  void RaiseWsError(const udp::EndpointFailure& failure);
  // To the sinks (arguments in declared order), then to the event's callback; the callback's
  // result, Empty when there is none or it failed. taken: whether any sink or the callback
  // handles the event.
  fw::unique_variant Raise(DISPID id, std::span<VARIANT> args, bool* taken = nullptr);
  bool HasReceivedTakers() const;
  // Keeps a datagram for Receive in arrival order, within the limits; a datagram beyond them is
  // dropped and counted.
  void Keep(Datagram&& datagram);
  void TakeFromQueue(std::deque<Datagram>::iterator datagram);

  // Processes this thread's window messages until done() holds or the time is up, checking both
  // between messages; messages for the thread itself are left for the host. True when done().
  bool Pump(const std::function<bool()>& done, LONG milliseconds);

  fw::MessageWindow m_window;
  // After the window: it goes first, and posts nothing as it goes.
  udp::Endpoint m_endpoint{*this};
  // One per event of _DUdpEvents, by DISPID - 1.
  fw::com_ptr<IDispatch> m_callbacks[5];
  std::shared_ptr<const Sender> m_lastSender, m_from;
  std::deque<Datagram> m_queue;
  size_t m_queuedBytes = 0;
  LONG m_queueLimit;
  LONG m_queueByteLimit;
  LONG m_dropped = 0;
  uint64_t m_nextDatagram = 1;
  fw::HeldEvents m_held;
  // Events heard from the endpoint so far: Wait watches it.
  unsigned long m_eventsHeard = 0;
  // This object's handlers running further up the stack, and its Receive calls waiting (the
  // innermost last).
  int m_handlerDepth = 0;
  std::vector<ReceiveWait*> m_receiveWaits;
};

// The members of _DUdpSocket that are the socket's own (the others are the ones it shares with the
// control).
extern const std::span<const fw::DispEntry<CUdpSocket>> kUdpSocketDispatch;

// The default limits of the receive queue.
inline constexpr LONG kDefaultQueueLimit = 1024;
inline constexpr LONG kDefaultQueueByteLimit = 1 << 20;

HRESULT CreateUdpSocket(REFIID iid, void** out);

class CUdpSocketFactory : public fw::COleObjectFactory {
 public:
  CUdpSocketFactory();
  bool UpdateRegistry(bool registering, HKEY classesRoot) override;
};

}  // namespace server
