#include "framework/connection_point.h"

#include <algorithm>
#include <new>
#include <utility>

#include <olectl.h>

#include "framework/automation_error.h"
#include "framework/module.h"

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

STDMETHODIMP EventConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
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
    return CreateConnectionsEnum(data, out);
  });
}

namespace {

// IEnumXxx over a copied list of COM references.
template <typename Enum, typename Item, const IID& kIid>
class ListEnum : public Enum {
 public:
  // Its code lives in the module: an enumerator keeps it loaded, even past the control.
  explicit ListEnum(std::vector<Item> items) : items_(std::move(items)) {
    for (auto& i : items_) Unknown(i)->AddRef();
    ModuleAddRef();
  }
  virtual ~ListEnum() {
    for (auto& i : items_) Unknown(i)->Release();
    ModuleRelease();
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIid)) {
      *out = static_cast<Enum*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = ::InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }
  STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && pos_ < items_.size(); ++n, ++pos_) {
      out[n] = items_[pos_];
      Unknown(out[n])->AddRef();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    pos_ += count;
    if (pos_ > items_.size()) {
      pos_ = items_.size();
      return S_FALSE;
    }
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    pos_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Enum** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return ComBarrier([&] {
      auto* copy = new ListEnum(items_);
      copy->pos_ = pos_;
      *out = copy;
      return S_OK;
    });
  }

 private:
  static IUnknown* Unknown(IConnectionPoint* p) { return p; }
  static IUnknown* Unknown(const CONNECTDATA& c) { return c.pUnk; }
  std::vector<Item> items_;
  size_t pos_ = 0;
  LONG refs_ = 1;
};

}  // namespace

HRESULT CreateConnectionPointEnum(std::span<IConnectionPoint* const> points,
                                  IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = new ListEnum<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints>(
      std::vector<IConnectionPoint*>(points.begin(), points.end()));
  return S_OK;
}

HRESULT CreateConnectionsEnum(std::span<const CONNECTDATA> connections, IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = new ListEnum<IEnumConnections, CONNECTDATA, IID_IEnumConnections>(
      std::vector<CONNECTDATA>(connections.begin(), connections.end()));
  return S_OK;
}

}  // namespace fw
