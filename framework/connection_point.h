// The control's one outgoing interface: sinks connect by Advise and receive events by Invoke.
#pragma once
#include <ocidl.h>
#include <span>
#include <vector>

#include "framework/implements.h"
#include "framework/unique_any.h"

namespace fw {

// Lives and dies with its owner, whose references it shares.
class EventConnectionPoint
    : public implements<EventConnectionPoint, owned_lifetime, IConnectionPoint> {
 public:
  EventConnectionPoint(IUnknown* owner, IConnectionPointContainer* container, const IID& iid)
      : m_owner(owner), m_container(container), m_iid(iid) {}
  ~EventConnectionPoint();

  const IID& iid() const { return m_iid; }
  // Calls every connected sink synchronously; args are in declared order. Answers how many sinks
  // handle the event: one that answers DISP_E_MEMBERNOTFOUND or DISP_E_UNKNOWNNAME has no handler
  // for it (a script's sink with only some handlers written), and is remembered as such.
  size_t Fire(DISPID id, std::span<VARIANT> args);
  void DisconnectAll();
  bool HasConnections() const { return !m_connections.empty(); }
  // Whether a connected sink may handle the event: one not known to lack a handler for it.
  bool HasHandlersOf(DISPID id) const;

  IUnknown* Owner() const { return m_owner; }

  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) noexcept override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) noexcept override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) noexcept override;
  STDMETHODIMP Unadvise(DWORD cookie) noexcept override;
  STDMETHODIMP EnumConnections(IEnumConnections** out) noexcept override;

 private:
  struct Connection {
    DWORD cookie;
    com_ptr<IDispatch> sink;
    // The events this sink answered as members it does not have.
    std::vector<DISPID> unhandled;
  };
  IUnknown* m_owner;
  IConnectionPointContainer* m_container;
  IID m_iid;
  std::vector<Connection> m_connections;
  DWORD m_nextCookie = 1;
};

}  // namespace fw
