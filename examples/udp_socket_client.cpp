// A short C++ client of UdpSocket: sends one text to a UDP echo service and prints the answer.
// Plain COM through IDispatch, as any language that speaks automation does it. For events, ask
// the object for IProvideClassInfo2::GetGUID (the event interface), find that connection point
// through IConnectionPointContainer and Advise an IDispatch of your own.
// Usage: udp_socket_client <port> [host]        (udp.ocx registered with regsvr32)
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Calls a member by name; the arguments in declared order. A failure is printed.
HRESULT Call(IDispatch* object, const wchar_t* name, WORD kind, std::vector<VARIANT> args,
             VARIANT* result = nullptr) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (SUCCEEDED(hr)) {
    std::reverse(args.begin(), args.end());  // IDispatch takes the last argument first
    DISPPARAMS params = {args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    EXCEPINFO error = {};
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, &error, nullptr);
    if (hr == DISP_E_EXCEPTION)
      std::fprintf(stderr, "%ls: error %ld: %ls\n", name, static_cast<long>(error.scode & 0xFFFF),
                   error.bstrDescription ? error.bstrDescription : L"");
    ::SysFreeString(error.bstrSource);
    ::SysFreeString(error.bstrDescription);
    ::SysFreeString(error.bstrHelpFile);
  }
  if (FAILED(hr)) std::fprintf(stderr, "%ls failed: 0x%08lx\n", name, static_cast<unsigned long>(hr));
  return hr;
}

// A VARIANT holding text; the caller clears it.
VARIANT Text(const wchar_t* text) {
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = ::SysAllocString(text);
  return v;
}

VARIANT Long(LONG value) {
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

int Run(const wchar_t* host, const wchar_t* port) {
  CLSID clsid;
  IDispatch* udp = nullptr;
  if (FAILED(::CLSIDFromProgID(L"UDP.UdpSocket", &clsid)) ||
      FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&udp)))) {
    std::fprintf(stderr, "UDP.UdpSocket is not registered (regsvr32 udp.ocx)\n");
    return 1;
  }
  int status = 1;
  VARIANT localPort = Text(L"0"), remoteIp = Text(host), remotePort = Text(port),
          message = Text(L"hello from C++"), bytes, reply, text, from;
  ::VariantInit(&bytes);
  ::VariantInit(&reply);
  ::VariantInit(&text);
  ::VariantInit(&from);
  if (SUCCEEDED(Call(udp, L"Open", DISPATCH_METHOD, {localPort})) &&
      SUCCEEDED(Call(udp, L"TextToBytes", DISPATCH_METHOD, {message}, &bytes)) &&
      SUCCEEDED(Call(udp, L"SendTo", DISPATCH_METHOD, {remoteIp, remotePort, bytes})) &&
      SUCCEEDED(Call(udp, L"Receive", DISPATCH_METHOD, {Long(2000)}, &reply))) {
    if (V_VT(&reply) == VT_EMPTY) {
      std::printf("no answer within 2 s\n");
    } else if (SUCCEEDED(Call(udp, L"BytesToText", DISPATCH_METHOD, {reply}, &text)) &&
               SUCCEEDED(Call(udp, L"FromAddress", DISPATCH_PROPERTYGET, {}, &from))) {
      std::printf("from %ls: %ls\n", V_BSTR(&from), V_BSTR(&text));
      status = 0;
    }
  }
  for (VARIANT* v : {&localPort, &remoteIp, &remotePort, &message, &bytes, &reply, &text, &from})
    ::VariantClear(v);
  udp->Release();
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: udp_socket_client <port> [host]\n");
    return 2;
  }
  // An apartment thread: UdpSocket is apartment-threaded, and Receive pumps this thread.
  ::CoInitialize(nullptr);
  const int status = Run(argc > 2 ? argv[2] : L"127.0.0.1", argv[1]);
  ::CoUninitialize();
  return status;
}
