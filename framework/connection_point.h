// The control's one outgoing interface: sinks connect by Advise and receive events by Invoke.
#pragma once
#include <ocidl.h>
#include <span>
#include <vector>

#include "framework/implements.h"
#include "framework/unique_any.h"

namespace fw {

// Lives and dies with its owner, whose references it shares.
class EventConnectionPoint : public implements<EventConnectionPoint, owned_lifetime, IConnectionPoint> {
 public:
  EventConnectionPoint(IUnknown* owner, IConnectionPointContainer* container, const IID& iid)
      : owner_(owner), container_(container), iid_(iid) {}
  ~EventConnectionPoint();

  const IID& iid() const { return iid_; }
  // Calls every connected sink synchronously; args are in declared order.
  void Fire(DISPID id, std::span<VARIANT> args);
  void DisconnectAll();
  bool HasConnections() const { return !connections_.empty(); }

  IUnknown* Owner() const { return owner_; }

  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** out) override;

 private:
  struct Connection {
    DWORD cookie;
    com_ptr<IDispatch> sink;
  };
  IUnknown* owner_;
  IConnectionPointContainer* container_;
  IID iid_;
  std::vector<Connection> connections_;
  DWORD nextCookie_ = 1;
};

}  // namespace fw
