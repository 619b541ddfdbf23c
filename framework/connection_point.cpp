#include "framework/connection_point.h"

#include <algorithm>
#include <utility>

#include <olectl.h>

#include "framework/automation_error.h"
#include "framework/enumerator.h"

namespace fw {

EventConnectionPoint::~EventConnectionPoint() { DisconnectAll(); }

void EventConnectionPoint::DisconnectAll() {
  auto dropped = std::move(m_connections);
  m_connections.clear();
}

bool EventConnectionPoint::HasHandlersOf(DISPID id) const {
  return std::ranges::any_of(m_connections, [id](const Connection& c) {
    return std::ranges::find(c.unhandled, id) == c.unhandled.end();
  });
}

size_t EventConnectionPoint::Fire(DISPID id, std::span<VARIANT> args) {
  // Automation passes arguments last first. Events are raised per datagram: the usual few
  // arguments and sinks are held on the stack.
  constexpr size_t kInline = 4;
  VARIANT inlineArgs[kInline];
  std::vector<VARIANT> manyArgs;
  VARIANT* reversed = inlineArgs;
  if (args.size() > kInline) {
    manyArgs.resize(args.size());
    reversed = manyArgs.data();
  }
  std::copy(args.rbegin(), args.rend(), reversed);
  DISPPARAMS params = {reversed, nullptr, static_cast<UINT>(args.size()), 0};
  // A sink may unadvise, or advise others, while it runs: raise to the sinks connected now.
  const size_t count = m_connections.size();
  struct Target {
    DWORD cookie;
    com_ptr<IDispatch> sink;
  };
  Target inlineSinks[kInline];
  std::vector<Target> manySinks;
  Target* sinks = inlineSinks;
  if (count > kInline) {
    manySinks.resize(count);
    sinks = manySinks.data();
  }
  for (size_t i = 0; i < count; ++i) sinks[i] = {m_connections[i].cookie, m_connections[i].sink};
  size_t handled = 0;
  for (size_t i = 0; i < count; ++i) {
    const HRESULT hr = sinks[i].sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                             &params, nullptr, nullptr, nullptr);
    if (hr != DISP_E_MEMBERNOTFOUND && hr != DISP_E_UNKNOWNNAME) {
      ++handled;
      continue;
    }
    // Found by cookie: the sink may have unadvised, or others advised, while it ran.
    const auto connection = std::ranges::find(m_connections, sinks[i].cookie, &Connection::cookie);
    if (connection != m_connections.end() &&
        std::ranges::find(connection->unhandled, id) == connection->unhandled.end())
      connection->unhandled.push_back(id);
  }
  return handled;
}

STDMETHODIMP EventConnectionPoint::GetConnectionInterface(IID* iid) noexcept {
  if (!iid) return E_POINTER;
  *iid = m_iid;
  return S_OK;
}

STDMETHODIMP EventConnectionPoint::GetConnectionPointContainer(
    IConnectionPointContainer** out) noexcept {
  if (!out) return E_POINTER;
  *out = m_container;
  m_container->AddRef();
  return S_OK;
}

STDMETHODIMP EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) noexcept {
  return ComBarrier([&]() -> HRESULT {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    com_ptr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(m_iid, dispatch.put_void())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.put_void())))
      return CONNECT_E_CANNOTCONNECT;
    m_connections.push_back({m_nextCookie, dispatch, {}});
    *cookie = m_nextCookie++;
    return S_OK;
  });
}

STDMETHODIMP EventConnectionPoint::Unadvise(DWORD cookie) noexcept {
  for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
    if (it->cookie == cookie) {
      auto dropped = std::move(it->sink);
      m_connections.erase(it);
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP EventConnectionPoint::EnumConnections(IEnumConnections** out) noexcept {
  return ComBarrier([&]() -> HRESULT {
    std::vector<CONNECTDATA> data;
    for (auto& c : m_connections) data.push_back({c.sink.get(), c.cookie});
    return CreateEnumerator<IEnumConnections>(data, out);
  });
}

}  // namespace fw
