// The pieces every benchmark shares: a clock, a message pump with a deadline, plain loopback
// sockets, the control hosted as a lean container would host it, and a bare WSAAsyncSelect window.
#pragma once
#include <winsock.h>
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>

#include "endpoint/socket_address.h"
#include "framework/unique_any.h"
#include "support/host.h"

namespace bench {

constexpr UINT kNotify = WM_USER + 1;
constexpr int kReceiveWindow = 32;  // datagrams in flight in the receive rows: fits SO_RCVBUF
constexpr int kIdleTimeoutMs = 1000;

// --- timing and pumping, shared by both sides of every row ---

inline double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / frequency;
}

// Dispatches this thread's messages until done() holds; false when nothing arrived for idleMs.
inline bool RunUntil(const std::function<bool()>& done, int idleMs = kIdleTimeoutMs) {
  MSG msg;
  while (!done()) {
    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::DispatchMessageW(&msg);
      continue;
    }
    if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(idleMs), QS_ALLINPUT) ==
        WAIT_TIMEOUT)
      return done();
  }
  return true;
}

// The rows run on IPv4 (127.0.0.1) unless they name IPv6 (::1).
enum class Family { Ipv4, Ipv6 };

inline const wchar_t* LoopbackText(Family f) {
  return f == Family::Ipv6 ? L"::1" : host::kLoopbackText;
}

inline udp::SocketAddress Loopback(u_short port, Family f = Family::Ipv4) {
  udp::SocketAddress a = f == Family::Ipv6 ? *udp::SocketAddress::ParseIpv6(LoopbackText(f))
                                           : udp::SocketAddress::Ipv4(::inet_addr(host::kLoopback));
  a.SetPortNet(::htons(port));
  return a;
}

// The port a socket is bound to, of either family.
inline u_short BoundPort(SOCKET s) {
  udp::SocketAddress a;
  int len = 0;
  ::getsockname(s, a.Out(&len), &len);
  a.Written(len);
  return ::ntohs(a.PortNet());
}

// A plain UDP socket on the loopback of a family.
struct PlainSocket {
  SOCKET s = INVALID_SOCKET;
  u_short port = 0;
  explicit PlainSocket(Family f = Family::Ipv4) {
    const udp::SocketAddress a = Loopback(0, f);
    s = ::socket(a.Family(), SOCK_DGRAM, 0);
    ::bind(s, a.Get(), a.Length());
    port = BoundPort(s);
  }
  ~PlainSocket() { ::closesocket(s); }
  PlainSocket(const PlainSocket&) = delete;
  PlainSocket& operator=(const PlainSocket&) = delete;
};

// --- the control, hosted as a lean container would host it ---

// The tests' host, with its event sink recording nothing: each row sets the one function its
// events run (sink().onRaw), and SendTo reuses arguments built once, as a host's loop would.
class Control {
 public:
  Control() : sendTo_(Id(L"SendTo")) { Idle(); }
  // Drives another object with the control's members (a UdpSocket), connected to its events.
  explicit Control(IUnknown* object) : host_(object), sendTo_(Id(L"SendTo")) { Idle(); }
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  host::EventSink& sink() { return host_.sink(); }

  // Opens on a port of the system's choice (on ::1 for IPv6), waits for Ready and returns the
  // port.
  u_short Open(Family f = Family::Ipv4) {
    if (f == Family::Ipv6) host_.MustPut(L"LocalAddress", LoopbackText(f));
    bool ready = false;
    sink().onRaw = [&](DISPID id, DISPPARAMS*) { ready = ready || id == host::kReady; };
    VARIANT port;
    V_VT(&port) = VT_BSTR;
    V_BSTR(&port) = ::SysAllocString(L"0");
    Invoke(Id(L"Open"), DISPATCH_METHOD, &port, 1);
    ::VariantClear(&port);
    if (!RunUntil([&] { return ready; })) throw std::runtime_error("no Ready");
    Idle();
    VARIANT socket;
    ::VariantInit(&socket);
    Invoke(Id(L"Socket"), DISPATCH_PROPERTYGET, nullptr, 0, &socket);
    socket_ = static_cast<SOCKET>(static_cast<ULONG>(V_I4(&socket)));
    return BoundPort(socket_);
  }
  // Reads a property through IDispatch.
  HRESULT Get(DISPID id, VARIANT* result) {
    ::VariantClear(result);
    return Invoke(id, DISPATCH_PROPERTYGET, nullptr, 0, result);
  }
  // The open socket (after Open).
  SOCKET Socket() const { return socket_; }

  // The arguments of one SendTo, built once and reused as a host's loop would.
  struct SendArgs {
    VARIANT args[3];  // last first: Data, RemotePort, RemoteIp
    SendArgs(u_short port, size_t size, Family f = Family::Ipv4) {
      V_VT(&args[2]) = VT_BSTR;
      V_BSTR(&args[2]) = ::SysAllocString(LoopbackText(f));
      V_VT(&args[1]) = VT_BSTR;
      V_BSTR(&args[1]) = ::SysAllocString(std::to_wstring(port).c_str());
      SAFEARRAYBOUND bound = {static_cast<ULONG>(size), 0};
      V_VT(&args[0]) = VT_ARRAY | VT_UI1;
      V_ARRAY(&args[0]) = ::SafeArrayCreate(VT_UI1, 1, &bound);
      std::memset(V_ARRAY(&args[0])->pvData, 0x5A, size);
    }
    ~SendArgs() {
      for (auto& a : args) ::VariantClear(&a);
    }
  };
  void SendTo(SendArgs& a) {
    if (FAILED(Invoke(sendTo_, DISPATCH_METHOD, a.args, 3)))
      throw std::runtime_error("SendTo failed");
  }
  // UdpSocket's Receive with a time: whether a datagram came.
  bool Receive(DISPID receive, LONG milliseconds) {
    VARIANT time, data;
    V_VT(&time) = VT_I4;
    V_I4(&time) = milliseconds;
    ::VariantInit(&data);
    const HRESULT hr = Invoke(receive, DISPATCH_METHOD, &time, 1, &data);
    const bool got = SUCCEEDED(hr) && V_VT(&data) == (VT_ARRAY | VT_UI1);
    ::VariantClear(&data);
    return got;
  }

  // No sink any more: a UdpSocket then keeps its datagrams for Receive.
  void Disconnect() { host_.Disconnect(); }
  // Between rows the events run nothing, and are not recorded either.
  void Idle() {
    sink().onRaw = [](DISPID, DISPPARAMS*) {};
  }

 public:
  DISPID Id(const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR n = const_cast<LPOLESTR>(name);
    host_.dispatch()->GetIDsOfNames(IID_NULL, &n, 1, 0, &id);
    return id;
  }
 private:
  HRESULT Invoke(DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result = nullptr) {
    DISPPARAMS params = {args, nullptr, count, 0};
    return host_.dispatch()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                                    nullptr, nullptr);
  }

  host::Host host_;
  DISPID sendTo_ = DISPID_UNKNOWN;
  SOCKET socket_ = INVALID_SOCKET;
};

// --- the bare loops: one window, sockets registered with WSAAsyncSelect ---

class BareWindow {
 public:
  std::function<void(SOCKET, WORD event)> onNotify;

  BareWindow() {
    static const ATOM atom = [] {
      WNDCLASSW wc = {};
      wc.lpfnWndProc = Proc;
      wc.hInstance = ::GetModuleHandleW(nullptr);
      wc.lpszClassName = L"UdpBenchBare";
      return ::RegisterClassW(&wc);
    }();
    (void)atom;
    hwnd_ = ::CreateWindowW(L"UdpBenchBare", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~BareWindow() { ::DestroyWindow(hwnd_); }
  BareWindow(const BareWindow&) = delete;
  BareWindow& operator=(const BareWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  // Registers a socket and waits for its first write notification, as the control does on Open.
  void Register(SOCKET s) {
    bool writable = false;
    onNotify = [&](SOCKET from, WORD event) {
      writable = writable || (from == s && event == FD_WRITE);
    };
    ::WSAAsyncSelect(s, hwnd_, kNotify, FD_READ | FD_WRITE);
    RunUntil([&] { return writable; });
    onNotify = nullptr;
  }
  void PostWrite(SOCKET s) { ::PostMessageW(hwnd_, kNotify, static_cast<WPARAM>(s), FD_WRITE); }

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kNotify) {
      auto* self = reinterpret_cast<BareWindow*>(::GetWindowLongPtrW(w, GWLP_USERDATA));
      if (self && self->onNotify) self->onNotify(static_cast<SOCKET>(wp), WSAGETSELECTEVENT(lp));
      return 0;
    }
    return ::DefWindowProcW(w, m, wp, lp);
  }
  HWND hwnd_ = nullptr;
};

}  // namespace bench
