// UdpSocket: a UDP endpoint ready the moment it is created, for hosts that have no form to site a
// control on (VBA class modules, WSH scripts, services). It owns one control, sites and
// initialises it itself, offers the control's members (all but AboutBox) through its own
// dispatch interface, and passes the control's events on to its own sinks and callbacks.
#pragma once
#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <span>
#include <string>

#include "framework/connection_point.h"
#include "framework/dispatch_table.h"
#include "framework/implements.h"
#include "framework/object_factory.h"
#include "framework/unique_any.h"
#include "typelib/udp.h"

namespace udp {
class CUdpCtrl;
}

namespace server {

class ControlSite;

class CUdpSocket final
    : public fw::implements<CUdpSocket, _DUdpSocket, IConnectionPointContainer, IProvideClassInfo2> {
 public:
  CUdpSocket();

  // Creates the control, gives it its client site, initialises it as new and connects to its
  // events.
  HRESULT Initialise();

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override;

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  // IProvideClassInfo, IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

  // The members _DUdpSocket adds to the control's (udp_socket_members.cpp).
  bool Wait(LONG milliseconds);
  void Receive(LONG milliseconds, VARIANT* result);
  const std::wstring& FromAddress() const { return fromAddress_; }
  const std::wstring& FromPort() const { return fromPort_; }
  void GetCallback(DISPID event, VARIANT* result) const;
  void SetCallback(DISPID event, VARIANT* value);

  // One event of the control, as its sink receives it (arguments last first).
  void OnControlEvent(DISPID id, DISPPARAMS& params);

 private:
  ~CUdpSocket() override;
  // Processes this thread's messages until done() holds or the time is up; 0 processes what
  // is waiting and returns. True when done() held.
  bool Pump(const std::function<bool()>& done, LONG milliseconds);
  void RunCallback(DISPID id, DISPPARAMS& params);

  fw::com_ptr<IDispatch> control_;
  udp::CUdpCtrl* ctrl_ = nullptr;  // the same object as control_
  fw::com_ptr<ControlSite> site_;
  fw::unique_advise_cookie controlEvents_;
  fw::EventConnectionPoint events_;
  // One per event of _DUdpEvents, by DISPID - 1.
  fw::com_ptr<IDispatch> callbacks_[5];
  std::wstring fromAddress_, fromPort_;
  // Counts of the events raised, and of the datagrams among them.
  unsigned long eventsRaised_ = 0, datagramsReceived_ = 0;
  // The events of this object running further up the stack.
  int handlerDepth_ = 0;
  // The Receive calls waiting (another object's handler may call Receive while one waits): the
  // next datagram's data is kept for them.
  int receiving_ = 0;
  fw::unique_variant receivedData_;
};

// The members of _DUdpSocket that are the socket's own (the others are the control's).
extern const std::span<const fw::DispEntry> kUdpSocketDispatch;

HRESULT CreateUdpSocket(REFIID iid, void** out);

class CUdpSocketFactory : public fw::COleObjectFactory {
 public:
  CUdpSocketFactory();
  bool UpdateRegistry(bool registering, HKEY classesRoot) override;
};

}  // namespace server
