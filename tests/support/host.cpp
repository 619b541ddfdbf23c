#include "support/host.h"

#include <winsock.h>

#include <stdexcept>

#include "control/udp_ctrl.h"

namespace host {

// Var

Var::Var(const VARIANT& v) {
  ::VariantInit(&v_);
  ::VariantCopy(&v_, const_cast<VARIANT*>(&v));
}
Var& Var::operator=(const Var& o) {
  if (this != &o) ::VariantCopy(&v_, const_cast<VARIANT*>(&o.v_));
  return *this;
}
Var::Var(const wchar_t* text) : Var(std::wstring(text)) {}
Var::Var(const std::wstring& text) {
  ::VariantInit(&v_);
  V_VT(&v_) = VT_BSTR;
  V_BSTR(&v_) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}
Var::Var(int value) {
  ::VariantInit(&v_);
  V_VT(&v_) = VT_I4;
  V_I4(&v_) = value;
}
Var::Var(double value) {
  ::VariantInit(&v_);
  V_VT(&v_) = VT_R8;
  V_R8(&v_) = value;
}
Var::Var(bool value) {
  ::VariantInit(&v_);
  V_VT(&v_) = VT_BOOL;
  V_BOOL(&v_) = value ? VARIANT_TRUE : VARIANT_FALSE;
}
Var Var::Short(short value) {
  Var v;
  V_VT(&v.v_) = VT_I2;
  V_I2(&v.v_) = value;
  return v;
}
Var Var::Missing() {
  Var v;
  V_VT(&v.v_) = VT_ERROR;
  V_ERROR(&v.v_) = DISP_E_PARAMNOTFOUND;
  return v;
}
Var Var::NullBstr() {
  Var v;
  V_VT(&v.v_) = VT_BSTR;
  V_BSTR(&v.v_) = nullptr;
  return v;
}
Var Var::Bytes(std::initializer_list<unsigned char> bytes, LONG lowerBound) {
  return Bytes(std::vector<unsigned char>(bytes), lowerBound);
}
Var Var::Bytes(const std::vector<unsigned char>& bytes, LONG lowerBound) {
  Var v;
  SAFEARRAYBOUND bound = {static_cast<ULONG>(bytes.size()), lowerBound};
  SAFEARRAY* a = ::SafeArrayCreate(VT_UI1, 1, &bound);
  void* data = nullptr;
  ::SafeArrayAccessData(a, &data);
  if (!bytes.empty()) ::CopyMemory(data, bytes.data(), bytes.size());
  ::SafeArrayUnaccessData(a);
  V_VT(&v.v_) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v.v_) = a;
  return v;
}

std::wstring Var::text() const {
  if (V_VT(&v_) != VT_BSTR) throw std::runtime_error("not a BSTR");
  BSTR b = V_BSTR(&v_);
  return b ? std::wstring(b, ::SysStringLen(b)) : std::wstring();
}
LONG Var::i4() const {
  if (V_VT(&v_) != VT_I4) throw std::runtime_error("not VT_I4");
  return V_I4(&v_);
}
short Var::i2() const {
  if (V_VT(&v_) != VT_I2) throw std::runtime_error("not VT_I2");
  return V_I2(&v_);
}
double Var::r8() const {
  if (V_VT(&v_) != VT_R8) throw std::runtime_error("not VT_R8");
  return V_R8(&v_);
}
bool Var::boolean() const {
  if (V_VT(&v_) != VT_BOOL) throw std::runtime_error("not VT_BOOL");
  if (V_BOOL(&v_) != VARIANT_TRUE && V_BOOL(&v_) != VARIANT_FALSE)
    throw std::runtime_error("VT_BOOL neither true nor false");
  return V_BOOL(&v_) == VARIANT_TRUE;
}
std::vector<unsigned char> Var::bytes() const {
  if (V_VT(&v_) != (VT_ARRAY | VT_UI1)) throw std::runtime_error("not VT_ARRAY|VT_UI1");
  SAFEARRAY* a = V_ARRAY(&v_);
  if (::SafeArrayGetDim(a) != 1) throw std::runtime_error("not one-dimensional");
  LONG lo = 0, hi = -1;
  ::SafeArrayGetLBound(a, 1, &lo);
  ::SafeArrayGetUBound(a, 1, &hi);
  if (lo != 0) throw std::runtime_error("lower bound not 0");
  std::vector<unsigned char> out(static_cast<size_t>(hi - lo + 1));
  void* data = nullptr;
  ::SafeArrayAccessData(a, &data);
  if (!out.empty()) ::CopyMemory(out.data(), data, out.size());
  ::SafeArrayUnaccessData(a);
  return out;
}

// EventSink

STDMETHODIMP EventSink::QueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                               EXCEPINFO*, UINT*) {
  Event e{id, {}};
  for (UINT i = params->cArgs; i-- > 0;) {
    VARIANT& a = params->rgvarg[i];
    if (V_VT(&a) == (VT_BOOL | VT_BYREF))
      e.args.emplace_back(*V_BOOLREF(&a) != VARIANT_FALSE);
    else
      e.args.emplace_back(a);
  }
  events.push_back(e);
  if (handler) handler(events.back(), params);
  return S_OK;
}

int EventSink::Count(DISPID id) const {
  int n = 0;
  for (auto& e : events) n += e.id == id;
  return n;
}

std::vector<DISPID> EventSink::Order() const {
  std::vector<DISPID> out;
  for (auto& e : events) out.push_back(e.id);
  return out;
}

void SetCancelClose(DISPPARAMS* params) { *V_BOOLREF(&params->rgvarg[0]) = VARIANT_TRUE; }

// A client site that answers what a control asks of its container.
class ClientSite : public IOleClientSite {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
      *out = static_cast<IOleClientSite*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override {
    *m = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
};

static ClientSite g_site;
IOleClientSite* TestClientSite() { return &g_site; }

// Host

Host::Host(Init init) {
  fw::com_ptr<IUnknown> unknown;
  if (FAILED(udp::CreateUdpCtrl(IID_IUnknown, unknown.put_void())))
    throw std::runtime_error("cannot create the control");
  Attach(unknown.get(), init);
}

Host::Host(IUnknown* control, Init init) {
  if (!control) throw std::runtime_error("no control to host");
  Attach(control, init);
}

void Host::Attach(IUnknown* control, Init init) {
  fw::com_ptr<IUnknown> unknown(control, true);
  auto ole = unknown.query<IOleObject>(IID_IOleObject);
  ole->SetClientSite(&g_site);
  if (init == Init::New) unknown.query<IPersistStreamInit>(IID_IPersistStreamInit)->InitNew();
  dispatch_ = unknown.query<IDispatch>(IID_IDispatch);
  auto container = unknown.query<IConnectionPointContainer>(IID_IConnectionPointContainer);
  fw::com_ptr<IConnectionPoint> point;
  container->FindConnectionPoint(udp::CUdpCtrl::ClassInfoOfUdp().eventsIid[0], point.put());
  DWORD cookie = 0;
  if (FAILED(point->Advise(static_cast<IDispatch*>(&sink_), &cookie)))
    throw std::runtime_error("Advise failed");
  cookie_ = fw::unique_advise_cookie(point.get(), cookie);
}

Host::~Host() { Release(); }

void Host::Release() {
  cookie_.reset();
  if (dispatch_) {
    if (auto ole = dispatch_.query<IOleObject>(IID_IOleObject)) {
      ole->SetClientSite(nullptr);
    }
  }
  dispatch_.reset();
}

CallResult InvokeOn(IDispatch* object, DISPID id, WORD flags, std::vector<Var> args,
                    bool wantResult) {
  CallResult r;
  std::vector<VARIANT> raw;
  for (auto it = args.rbegin(); it != args.rend(); ++it) raw.push_back(*it->get());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS dp = {raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
  if (flags & DISPATCH_PROPERTYPUT) {
    dp.rgdispidNamedArgs = &put;
    dp.cNamedArgs = 1;
  }
  EXCEPINFO ei = {};
  VARIANT result;
  ::VariantInit(&result);
  r.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp,
                        wantResult ? &result : nullptr, &ei, &r.argErr);
  if (r.hr == DISP_E_EXCEPTION) {
    r.scode = ei.scode;
    if (ei.bstrDescription)
      r.description.assign(ei.bstrDescription, ::SysStringLen(ei.bstrDescription));
  }
  ::SysFreeString(ei.bstrDescription);
  ::SysFreeString(ei.bstrSource);
  ::SysFreeString(ei.bstrHelpFile);
  r.value = Var(result);
  ::VariantClear(&result);
  return r;
}

CallResult Host::InvokeId(DISPID id, WORD flags, std::vector<Var> args, bool wantResult) {
  return InvokeOn(dispatch_.get(), id, flags, std::move(args), wantResult);
}

static DISPID IdOf(IDispatch* d, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  if (FAILED(d->GetIDsOfNames(IID_NULL, &n, 1, 0, &id)))
    throw std::runtime_error("unknown member name");
  return id;
}

CallResult Host::Call(const wchar_t* name, std::vector<Var> args) {
  return InvokeId(IdOf(dispatch_.get(), name), DISPATCH_METHOD, std::move(args));
}
CallResult Host::Get(const wchar_t* name) {
  return InvokeId(IdOf(dispatch_.get(), name), DISPATCH_PROPERTYGET, {});
}
CallResult Host::Put(const wchar_t* name, Var value) {
  return InvokeId(IdOf(dispatch_.get(), name), DISPATCH_PROPERTYPUT, {value}, false);
}

bool Host::Has(const wchar_t* name) const {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  return SUCCEEDED(dispatch_->GetIDsOfNames(IID_NULL, &n, 1, 0, &id));
}

static void Must(const CallResult& r, const wchar_t* name) {
  if (FAILED(r.hr)) {
    char msg[256];
    std::snprintf(msg, sizeof msg, "%ls failed: hr 0x%08lx scode 0x%08lx", name,
                  static_cast<unsigned long>(r.hr), static_cast<unsigned long>(r.scode));
    throw std::runtime_error(msg);
  }
}

Var Host::MustGet(const wchar_t* name) {
  auto r = Get(name);
  Must(r, name);
  return r.value;
}
void Host::MustPut(const wchar_t* name, Var value) { Must(Put(name, value), name); }
Var Host::MustCall(const wchar_t* name, std::vector<Var> args) {
  auto r = Call(name, std::move(args));
  Must(r, name);
  return r.value;
}

bool Pump(const std::function<bool()>& done, int timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
      if (done && done()) return true;
    }
    if (done && done()) return true;
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= static_cast<DWORD>(timeoutMs)) return done ? done() : true;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeoutMs) - elapsed,
                                QS_ALLINPUT);
  }
}

bool Host::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  return Pump(done, timeoutMs);
}
void Host::PumpFor(int ms) { Pump(nullptr, ms); }
bool Host::WaitForEvents(DISPID id, int count, int timeoutMs) {
  return Pump([&] { return sink_.Count(id) >= count; }, timeoutMs);
}

HWND Host::Window() const {
  // The test shares the control's module, so it may look at the object itself.
  return static_cast<udp::CUdpCtrl*>(static_cast<fw::COleControl*>(dispatch_.get()))->GetSafeHwnd();
}

// Message boxes

std::vector<ShownMessageBox>& MessageBoxes() {
  static std::vector<ShownMessageBox> shown;
  return shown;
}

// PeerSocket

PeerSocket::PeerSocket() : PeerSocket(0) {}

PeerSocket::PeerSocket(u_short port) {
  WSADATA data;
  ::WSAStartup(0x0101, &data);
  s_ = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = ::htons(port);
  a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
  if (::bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
  int len = sizeof a;
  ::getsockname(s_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ::ntohs(a.sin_port);
}

PeerSocket::~PeerSocket() {
  ::closesocket(s_);
  ::WSACleanup();
}

bool PeerSocket::SendTo(u_short port, const std::vector<unsigned char>& bytes) {
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = ::htons(port);
  to.sin_addr.s_addr = ::inet_addr("127.0.0.1");
  return ::sendto(s_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
                  0, reinterpret_cast<sockaddr*>(&to), sizeof to) == static_cast<int>(bytes.size());
}

bool PeerSocket::Receive(std::vector<unsigned char>& bytes, u_short* fromPort, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s_, &set);
  timeval tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (::select(0, &set, nullptr, nullptr, &tv) != 1) return false;
  std::vector<char> buffer(70000);
  sockaddr_in from = {};
  int len = sizeof from;
  int n = ::recvfrom(s_, buffer.data(), static_cast<int>(buffer.size()), 0,
                     reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return false;
  bytes.assign(buffer.begin(), buffer.begin() + n);
  if (fromPort) *fromPort = ::ntohs(from.sin_port);
  return true;
}

u_short FreeUdpPort() {
  PeerSocket probe;
  return probe.port();
}

}  // namespace host
