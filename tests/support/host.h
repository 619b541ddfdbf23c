// A test host: creates the control, sites and initialises it, connects an event sink by Advise,
// calls it through IDispatch by name and pumps messages, as a container would.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "framework/unique_any.h"

namespace host {

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

// The event sink the host connects with IConnectionPoint::Advise.
class EventSink : public IDispatch {
 public:
  using Handler = std::function<void(const Event& event, DISPPARAMS* params)>;
  std::vector<Event> events;
  // Runs inside the event, before it returns to the control.
  std::function<void(const Event&, DISPPARAMS*)> handler;

  int Count(DISPID id) const;
  std::vector<DISPID> Order() const;
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

class Host {
 public:
  enum class Init { New, None };
  explicit Host(Init init = Init::New);
  // Hosts a control created elsewhere (by a class factory, or by CoCreateInstance).
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

  // Calls that must succeed.
  Var MustGet(const wchar_t* name);
  void MustPut(const wchar_t* name, Var value);
  Var MustCall(const wchar_t* name, std::vector<Var> args = {});
  // Whether the control's dispatch interface has a member of that name.
  bool Has(const wchar_t* name) const;

  // Pumps this thread's messages until done() holds or timeoutMs passes; returns done().
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
  void PumpFor(int ms);
  bool WaitForEvents(DISPID id, int count, int timeoutMs = 5000);

  HWND Window() const;
  void Release();  // drops the control (destruction) while the host lives on

 private:
  void Attach(IUnknown* control, Init init);

  fw::com_ptr<IDispatch> dispatch_;
  EventSink sink_;
  fw::unique_advise_cookie cookie_;
};

// One IDispatch::Invoke as a host makes it (a put passes its value as DISPID_PROPERTYPUT).
CallResult InvokeOn(IDispatch* object, DISPID id, WORD flags, std::vector<Var> args,
                    bool wantResult = true);

// The minimal client site every Host gives its control.
IOleClientSite* TestClientSite();

// Pumps messages for any thread-bound work.
bool Pump(const std::function<bool()>& done, int timeoutMs);

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
  PeerSocket();                       // bound to 127.0.0.1, a port of the system's choice
  explicit PeerSocket(u_short port);  // bound to 127.0.0.1:port; bound() tells whether it could
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

// A free loopback UDP port (bound and released at once).
u_short FreeUdpPort();

}  // namespace host
