#include "framework/connection_point.h"

#include <algorithm>
#include <utility>

#include <olectl.h>

#include "framework/automation_error.h"
#include "framework/enumerator.h"

namespace fw {

EventConnectionPoint::~EventConnectionPoint() { DisconnectAll(); }

void EventConnectionPoint::DisconnectAll() {
  auto dropped = std::move(connections_);
  connections_.clear();
}

void EventConnectionPoint::Fire(DISPID id, std::span<VARIANT> args) {
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
  const size_t count = connections_.size();
  com_ptr<IDispatch> inlineSinks[kInline];
  std::vector<com_ptr<IDispatch>> manySinks;
  com_ptr<IDispatch>* sinks = inlineSinks;
  if (count > kInline) {
    manySinks.resize(count);
    sinks = manySinks.data();
  }
  for (size_t i = 0; i < count; ++i) sinks[i] = connections_[i].sink;
  for (size_t i = 0; i < count; ++i) {
    sinks[i]->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                     nullptr);
  }
}

STDMETHODIMP EventConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

STDMETHODIMP EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  *out = container_;
  container_->AddRef();
  return S_OK;
}

STDMETHODIMP EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  return ComBarrier([&]() -> HRESULT {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    com_ptr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(iid_, dispatch.put_void())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.put_void())))
      return CONNECT_E_CANNOTCONNECT;
    connections_.push_back({nextCookie_, dispatch});
    *cookie = nextCookie_++;
    return S_OK;
  });
}

STDMETHODIMP EventConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->cookie == cookie) {
      auto dropped = std::move(it->sink);
      connections_.erase(it);
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP EventConnectionPoint::EnumConnections(IEnumConnections** out) {
  return ComBarrier([&]() -> HRESULT {
    std::vector<CONNECTDATA> data;
    for (auto& c : connections_) data.push_back({c.sink.get(), c.cookie});
    return CreateEnumerator<IEnumConnections>(data, out);
  });
}

}  // namespace fw
