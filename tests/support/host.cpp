#include "support/host.h"

#include <winsock.h>

#include <cstdio>
#include <cwchar>
#include <stdexcept>


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
Var Var::Ref(Var& target) {
  Var v;
  V_VT(&v.v_) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&v.v_) = &target.v_;
  return v;
}
Var Var::Object(IDispatch* object) {
  VARIANT v;
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = object;
  return Var(v);
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

std::vector<Var> ArgumentsOf(const DISPPARAMS* params) {
  std::vector<Var> args;
  for (UINT i = params->cArgs; i-- > 0;) {
    const VARIANT& a = params->rgvarg[i];
    if (V_VT(&a) == (VT_BOOL | VT_BYREF))
      args.emplace_back(*V_BOOLREF(&a) != VARIANT_FALSE);
    else
      args.emplace_back(a);
  }
  return args;
}

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                               EXCEPINFO*, UINT*) {
  if (onRaw) {
    onRaw(id, params);
    return S_OK;
  }
  events.push_back(Event{id, ArgumentsOf(params)});
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

std::vector<Event> EventSink::Of(DISPID id) const {
  std::vector<Event> out;
  for (auto& e : events)
    if (e.id == id) out.push_back(e);
  return out;
}

void SetCancelClose(DISPPARAMS* params) { *V_BOOLREF(&params->rgvarg[0]) = VARIANT_TRUE; }

// ClientSite

STDMETHODIMP ClientSite::QueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
    *out = static_cast<IOleClientSite*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP ClientSite::GetMoniker(DWORD, DWORD, IMoniker** m) {
  *m = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP ClientSite::GetContainer(IOleContainer** c) {
  *c = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP ClientSite::ShowObject() {
  ++showObjectCalls;
  return S_OK;
}

IOleClientSite* TestClientSite() {
  static ClientSite site;
  return &site;
}

// Host

Host::Host(IUnknown* control, Init init) {
  if (!control) throw std::runtime_error("no control to host");
  Attach(control, init);
}

void Host::Attach(IUnknown* control, Init init) {
  fw::com_ptr<IUnknown> unknown(control, true);
  if (auto ole = unknown.query<IOleObject>(IID_IOleObject)) {
    ole->SetClientSite(TestClientSite());
    if (init == Init::New) unknown.query<IPersistStreamInit>(IID_IPersistStreamInit)->InitNew();
  }
  dispatch_ = unknown.query<IDispatch>(IID_IDispatch);
  if (!dispatch_) throw std::runtime_error("no IDispatch");
  cookie_ = AdviseEvents(unknown.get(), &sink_);
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

namespace {

CallResult Dispatch(IDispatch* object, DISPID id, REFIID iid, WORD flags,
                    const std::vector<Var>& args, std::vector<DISPID> named, bool wantResult) {
  CallResult r;
  std::vector<VARIANT> raw;
  for (auto it = args.rbegin(); it != args.rend(); ++it) raw.push_back(*it->get());
  DISPPARAMS dp = {raw.data(), named.empty() ? nullptr : named.data(),
                   static_cast<UINT>(raw.size()), static_cast<UINT>(named.size())};
  EXCEPINFO ei = {};
  VARIANT result;
  ::VariantInit(&result);
  r.hr = object->Invoke(id, iid, LOCALE_USER_DEFAULT, flags, &dp, wantResult ? &result : nullptr,
                        &ei, &r.argErr);
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

}  // namespace

CallResult InvokeNamed(IDispatch* object, DISPID id, WORD flags, std::vector<Var> args,
                       std::vector<DISPID> named, REFIID iid) {
  return Dispatch(object, id, iid, flags, args, std::move(named), true);
}

CallResult InvokeOn(IDispatch* object, DISPID id, WORD flags, std::vector<Var> args,
                    bool wantResult) {
  std::vector<DISPID> named;
  if (flags & DISPATCH_PROPERTYPUT) named.push_back(DISPID_PROPERTYPUT);
  return Dispatch(object, id, IID_NULL, flags, args, std::move(named), wantResult);
}

namespace {

bool IdOf(IDispatch* object, const wchar_t* name, DISPID& id, HRESULT* hr = nullptr) {
  LPOLESTR n = const_cast<LPOLESTR>(name);
  const HRESULT found = object->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
  if (hr) *hr = found;
  return SUCCEEDED(found);
}

DISPID MustIdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  if (!IdOf(object, name, id))
    throw std::runtime_error("no member " + std::string(name, name + std::wcslen(name)));
  return id;
}

const CallResult& Must(const CallResult& r, const wchar_t* name, const Where& where) {
  if (FAILED(r.hr)) {
    char msg[512];
    std::snprintf(msg, sizeof msg, "%s:%u: %ls failed: hr 0x%08lx scode 0x%08lx", where.file_name(),
                  static_cast<unsigned>(where.line()), name, static_cast<unsigned long>(r.hr),
                  static_cast<unsigned long>(r.scode));
    throw std::runtime_error(msg);
  }
  return r;
}

}  // namespace

CallResult Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<Var> args,
                  bool wantResult) {
  CallResult r;
  DISPID id = DISPID_UNKNOWN;
  if (!IdOf(object, name, id, &r.hr)) return r;
  return InvokeOn(object, id, flags, std::move(args),
                  wantResult && !(flags & DISPATCH_PROPERTYPUT));
}

Var MustGet(IDispatch* object, const wchar_t* name, const Where& where) {
  return Must(Invoke(object, name, DISPATCH_PROPERTYGET), name, where).value;
}
void MustPut(IDispatch* object, const wchar_t* name, Var value, const Where& where) {
  Must(Invoke(object, name, DISPATCH_PROPERTYPUT, {value}), name, where);
}
Var MustCall(IDispatch* object, const wchar_t* name, std::vector<Var> args, const Where& where) {
  return Must(Invoke(object, name, DISPATCH_METHOD, std::move(args)), name, where).value;
}

fw::unique_advise_cookie AdviseEvents(IUnknown* object, IDispatch* sink) {
  fw::com_ptr<IUnknown> unknown(object, true);
  auto cpc = unknown.query<IConnectionPointContainer>(IID_IConnectionPointContainer);
  if (!cpc) throw std::runtime_error("no IConnectionPointContainer");
  auto info = unknown.query<IProvideClassInfo2>(IID_IProvideClassInfo2);
  if (!info) throw std::runtime_error("no IProvideClassInfo2");
  IID events = {};
  if (FAILED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events)))
    throw std::runtime_error("no default source interface");
  fw::com_ptr<IConnectionPoint> point;
  if (FAILED(cpc->FindConnectionPoint(events, point.put())))
    throw std::runtime_error("no connection point");
  DWORD cookie = 0;
  if (FAILED(point->Advise(sink, &cookie))) throw std::runtime_error("Advise failed");
  return fw::unique_advise_cookie(point.get(), cookie);
}

CallResult Host::InvokeId(DISPID id, WORD flags, std::vector<Var> args, bool wantResult) {
  return InvokeOn(dispatch_.get(), id, flags, std::move(args), wantResult);
}

CallResult Host::Call(const wchar_t* name, std::vector<Var> args) {
  return InvokeId(MustIdOf(dispatch_.get(), name), DISPATCH_METHOD, std::move(args));
}
CallResult Host::Get(const wchar_t* name) {
  return InvokeId(MustIdOf(dispatch_.get(), name), DISPATCH_PROPERTYGET, {});
}
CallResult Host::Put(const wchar_t* name, Var value) {
  return InvokeId(MustIdOf(dispatch_.get(), name), DISPATCH_PROPERTYPUT, {value}, false);
}

bool Host::Has(const wchar_t* name) const {
  DISPID id = DISPID_UNKNOWN;
  return IdOf(dispatch_.get(), name, id);
}

Var Host::MustGet(const wchar_t* name, const Where& where) {
  return Must(Get(name), name, where).value;
}
void Host::MustPut(const wchar_t* name, Var value, const Where& where) {
  Must(Put(name, value), name, where);
}
Var Host::MustCall(const wchar_t* name, std::vector<Var> args, const Where& where) {
  return Must(Call(name, std::move(args)), name, where).value;
}

namespace {
// Messages this thread's pumps have dispatched, for PumpUntilIdle.
thread_local size_t t_dispatched = 0;
}  // namespace

bool Pump(const std::function<bool()>& done, int timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ++t_dispatched;
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

namespace {

// Markers go to a window of their own, so that a nested pump (a handler's) that dispatches one
// still records it.
constexpr UINT kIdleMarker = WM_APP + 0x100;
thread_local LPARAM t_markerSeen = 0;

LRESULT CALLBACK IdleProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kIdleMarker) return ::DefWindowProcW(window, message, wParam, lParam);
  t_markerSeen = lParam;
  return 0;
}

HWND IdleProbe() {
  thread_local HWND probe = [] {
    static const ATOM atom = [] {
      WNDCLASSW wc = {};
      wc.lpfnWndProc = IdleProbeProc;
      wc.hInstance = ::GetModuleHandleW(nullptr);
      wc.lpszClassName = L"UdpTestIdleProbe";
      return ::RegisterClassW(&wc);
    }();
    (void)atom;
    return ::CreateWindowExW(0, L"UdpTestIdleProbe", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
  }();
  return probe;
}

}  // namespace

bool PumpUntilIdle(int timeoutMs) {
  static LPARAM markers = 0;
  const HWND probe = IdleProbe();
  const DWORD start = ::GetTickCount();
  for (;;) {
    // Posted messages come out in the order they were posted: once the marker is through, so is
    // everything posted before it. A round that dispatched nothing else leaves nothing behind.
    const LPARAM marker = ++markers;
    const size_t before = t_dispatched;
    ::PostMessageW(probe, kIdleMarker, 0, marker);
    const int left = timeoutMs - static_cast<int>(::GetTickCount() - start);
    if (left <= 0 || !Pump([&] { return t_markerSeen == marker; }, left)) return false;
    if (t_dispatched == before + 1) return true;
  }
}

bool Host::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  return Pump(done, timeoutMs);
}
void Host::PumpFor(int ms) { Pump(nullptr, ms); }
bool Host::WaitForEvents(DISPID id, int count, int timeoutMs) {
  return Pump([&] { return sink_.Count(id) >= count; }, timeoutMs);
}

void Host::CancelCloseOnWsError(bool cancel) {
  sink_.handler = [cancel](const Event& e, DISPPARAMS* params) {
    if (e.id == kWsError && cancel) SetCancelClose(params);
  };
}

bool Host::IsModified() const {
  auto persist = dispatch_.query<IPersistStreamInit>(IID_IPersistStreamInit);
  return persist && persist->IsDirty() == S_OK;
}

bool Host::SaveAndClearModified() {
  auto persist = dispatch_.query<IPersistStreamInit>(IID_IPersistStreamInit);
  fw::com_ptr<IStream> stream;
  return persist && SUCCEEDED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) &&
         SUCCEEDED(persist->Save(stream.get(), TRUE));
}

bool WaitForReady(Host& h, int count, int timeoutMs) {
  return h.WaitForEvents(kReady, count, timeoutMs);
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
  a.sin_addr.s_addr = ::inet_addr(kLoopback);
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
  to.sin_addr.s_addr = ::inet_addr(kLoopback);
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

HWND SocketWindowOfThisThread() {
  for (HWND w = nullptr;
       (w = ::FindWindowExW(HWND_MESSAGE, w, L"KarvoDgramixSocket", nullptr)) != nullptr;)
    if (::GetWindowThreadProcessId(w, nullptr) == ::GetCurrentThreadId()) return w;
  return nullptr;
}

}  // namespace host
