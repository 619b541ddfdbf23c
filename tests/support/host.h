// A test host: creates the control, sites and initialises it, connects an event sink by Advise,
// calls it through IDispatch by name and pumps messages, as a container would. Also the pieces
// every host is made of, for tests that assemble their own: the one event sink, the one client
// site, the one way to call IDispatch::Invoke, and the message pump.
//
// Helpers that can fail name the line that called them: they take the caller's location as a
// defaulted last argument and put it in what they throw.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <functional>
#include <initializer_list>
#include <source_location>
#include <string>
#include <vector>

#include "framework/unique_any.h"
#include "support/udp_test.h"

namespace udp {
class CUdpCtrl;
}

namespace host {

// The caller's file and line, for helpers that report failures.
using Where = std::source_location;

// An owned VARIANT that tests can copy and compare.
class Var {
 public:
  Var() { ::VariantInit(&v_); }
  Var(const VARIANT& v);
  Var(const Var& o) : Var(o.v_) {}
  Var& operator=(const Var& o);
  ~Var() { ::VariantClear(&v_); }
  Var(const wchar_t* text);
  Var(const std::wstring& text);
  Var(int value);
  Var(double value);
  Var(bool value);
  static Var Short(short value);
  static Var Missing();
  static Var NullBstr();
  static Var Bytes(std::initializer_list<unsigned char> bytes, LONG lowerBound = 0);
  static Var Bytes(const std::vector<unsigned char>& bytes, LONG lowerBound = 0);
  // VT_VARIANT | VT_BYREF to target: a script's variable passed by reference.
  static Var Ref(Var& target);
  // VT_DISPATCH, without a reference of its own (the object outlives the Var).
  static Var Object(IDispatch* object);

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARTYPE vt() const { return V_VT(&v_); }
  std::wstring text() const;  // VT_BSTR only
  LONG i4() const;
  short i2() const;
  double r8() const;
  bool boolean() const;
  std::vector<unsigned char> bytes() const;  // VT_ARRAY|VT_UI1; checks one dimension, bound 0

 private:
  VARIANT v_;
};

struct CallResult {
  HRESULT hr = E_FAIL;
  SCODE scode = 0;           // from EXCEPINFO when hr is DISP_E_EXCEPTION
  std::wstring description;  // ditto
  UINT argErr = 0xFFFFFFFF;
  Var value;
};

struct Event {
  DISPID id;
  std::vector<Var> args;  // in declared order; a by-reference flag is recorded by value
};

// The arguments of a call as its DISPPARAMS hold them, in declared order; a VT_BOOL by reference
// is recorded by its value.
std::vector<Var> ArgumentsOf(const DISPPARAMS* params);

// A callable object as a script hands it over, living on its owner's stack or in static storage:
// it answers only Invoke, which the derived class gives.
class StaticDispatch : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
};

// The event sink a host connects with IConnectionPoint::Advise. It lives on its owner's stack or
// inside it: the reference count is only checked, never acted on.
class EventSink : public IDispatch {
 public:
  std::vector<Event> events;
  // Runs inside the event, after it is recorded, before it returns to the control.
  std::function<void(const Event&, DISPPARAMS*)> handler;
  // When set, the sink records nothing and runs only this: a benchmark's sink costs nothing more.
  std::function<void(DISPID, DISPPARAMS*)> onRaw;

  int Count(DISPID id) const;
  std::vector<DISPID> Order() const;
  // The recorded events of one kind, in order.
  std::vector<Event> Of(DISPID id) const;
  void Clear() { events.clear(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override;

 private:
  ULONG refs_ = 1;
};

// Sets CancelClose inside a WsError handler.
void SetCancelClose(DISPPARAMS* params);

// A client site that answers what a control asks of any container; a container with more sites
// builds on it (support/container.h). It lives on its owner's stack or in static storage.
class ClientSite : public IOleClientSite {
 public:
  int showObjectCalls = 0;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override;
  STDMETHODIMP GetContainer(IOleContainer** c) override;
  STDMETHODIMP ShowObject() override;
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
};

// The client site every Host gives its control.
IOleClientSite* TestClientSite();

// One IDispatch::Invoke as a host makes it (a put passes its value as DISPID_PROPERTYPUT).
CallResult InvokeOn(IDispatch* object, DISPID id, WORD flags, std::vector<Var> args,
                    bool wantResult = true);
// The same with the named arguments and the interface identifier a C++ client chooses.
CallResult InvokeNamed(IDispatch* object, DISPID id, WORD flags, std::vector<Var> args,
                       std::vector<DISPID> named, REFIID iid = IID_NULL);
// By name, as a script does: the name's look-up first, whose failure is then the result. A put
// never asks for a result.
CallResult Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<Var> args = {},
                  bool wantResult = true);
// Calls that must succeed; a failure throws, naming the caller's line.
Var MustGet(IDispatch* object, const wchar_t* name, const Where& where = Where::current());
void MustPut(IDispatch* object, const wchar_t* name, Var value,
             const Where& where = Where::current());
Var MustCall(IDispatch* object, const wchar_t* name, std::vector<Var> args = {},
             const Where& where = Where::current());

// Connects a sink to the default source interface an object names (IProvideClassInfo2), for the
// cookie's lifetime.
fw::unique_advise_cookie AdviseEvents(IUnknown* object, IDispatch* sink);

class Host {
 public:
  enum class Init { New, None };
  // Creates the control from the module this process links (support/in_process.cpp).
  explicit Host(Init init = Init::New);
  // Hosts a control created elsewhere (by a class factory, or by CoCreateInstance); an object
  // that is no control (no IOleObject) is neither sited nor initialised, only connected.
  explicit Host(IUnknown* control, Init init = Init::New);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  IDispatch* dispatch() const { return dispatch_.get(); }
  IUnknown* unknown() const { return dispatch_.get(); }
  EventSink& sink() { return sink_; }

  CallResult Call(const wchar_t* name, std::vector<Var> args = {});
  CallResult Get(const wchar_t* name);
  CallResult Put(const wchar_t* name, Var value);
  CallResult InvokeId(DISPID id, WORD flags, std::vector<Var> args, bool wantResult = true);

  // Calls that must succeed; a failure throws, naming the caller's line.
  Var MustGet(const wchar_t* name, const Where& where = Where::current());
  void MustPut(const wchar_t* name, Var value, const Where& where = Where::current());
  Var MustCall(const wchar_t* name, std::vector<Var> args = {},
               const Where& where = Where::current());
  // Whether the control's dispatch interface has a member of that name.
  bool Has(const wchar_t* name) const;

  // Pumps this thread's messages until done() holds or timeoutMs passes; returns done().
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs = kEventTimeoutMs);
  // Pumps for a while whatever comes: the window in which something that must not happen would.
  void PumpFor(int ms);
  // Pumps until the sink has recorded `count` events of that kind in all.
  bool WaitForEvents(DISPID id, int count, int timeoutMs = kEventTimeoutMs);

  HWND Window() const;  // the control's own window (in this process only)
  void Release();  // drops the control (destruction) while the host lives on
  void Disconnect() { cookie_.reset(); }  // the sink no longer hears the events
  // The sink's handler becomes one that cancels the close after every WsError (or, with false,
  // one that does nothing).
  void CancelCloseOnWsError(bool cancel = true);

  // The container's view of the modified mark (IPersistStreamInit::IsDirty).
  bool IsModified() const;
  // Saves the control to a scratch stream and clears the mark, as a container does after saving;
  // false when that failed.
  bool SaveAndClearModified();

 private:
  void Attach(IUnknown* control, Init init);

  fw::com_ptr<IDispatch> dispatch_;
  EventSink sink_;
  fw::unique_advise_cookie cookie_;
};

// The control object behind a host of a control created in this process (the tests share the
// control's module; support/in_process.cpp).
udp::CUdpCtrl& ControlOf(const Host& h);

// Pumps this thread's messages until done() holds or timeoutMs passes; returns done() (true when
// there is no condition).
bool Pump(const std::function<bool()>& done, int timeoutMs);
// Pumps until every message posted to this thread so far, and every message those posted in
// turn, has been dispatched; false when that takes longer than timeoutMs. What other threads or
// the sockets layer post later is not waited for.
bool PumpUntilIdle(int timeoutMs = kEventTimeoutMs);

// Message boxes shown by the control are recorded here instead of blocking.
struct ShownMessageBox {
  std::wstring text;
  std::wstring caption;
  UINT type;
};
std::vector<ShownMessageBox>& MessageBoxes();

// A plain loopback UDP socket for the far end of a scenario.
class PeerSocket {
 public:
  PeerSocket();                       // bound to loopback, a port of the system's choice
  explicit PeerSocket(u_short port);  // bound to loopback:port; bound() tells whether it could
  ~PeerSocket();
  u_short port() const { return port_; }
  bool bound() const { return port_ != 0; }
  bool SendTo(u_short port, const std::vector<unsigned char>& bytes);
  // Waits up to timeoutMs for one datagram; returns false when none came.
  bool Receive(std::vector<unsigned char>& bytes, u_short* fromPort = nullptr,
               int timeoutMs = 3000);

 private:
  SOCKET s_ = INVALID_SOCKET;
  u_short port_ = 0;
};

// The first UdpSocket notification window of this thread, or nullptr.
HWND SocketWindowOfThisThread();

// A free loopback UDP port (bound and released at once).
u_short FreeUdpPort();

}  // namespace host
