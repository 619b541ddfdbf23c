// Nothing leaves 127.0.0.1: every argument that reaches an address, a name or a port is checked
// the way the dispatcher converts it, and replaced by a loopback value when it would go anywhere
// else. The sockets seam is guarded as well, so a miss shows up as a refusal, not as traffic.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "endpoint/local_interfaces.h"
#include "endpoint/socket_address.h"
#include "control/udp_ctrl.h"
#include "endpoint/winsock_api.h"
#include "framework/text.h"
#include "framework/unique_any.h"
#include "fuzz/fuzz.h"
#include "typelib/udp_dispids.h"

namespace fuzz {

namespace {

constexpr DISPID kInetAddress = UDP_DISPID(InetAddress), kInetIp = UDP_DISPID(InetIp),
                 kInetName = UDP_DISPID(InetName), kLocalAddress = UDP_DISPID(LocalAddress),
                 kOpen = UDP_DISPID(Open), kSendTo = UDP_DISPID(SendTo), kHostIp = UDP_DISPID(HostIp),
                 kWait = UDP_DISPID(Wait), kReceive = UDP_DISPID(Receive),
                 kJoinGroup = UDP_DISPID(JoinGroup);
// The longest Wait or Receive a call may ask for: a batch must not sit out a random time.
constexpr LONG kLongestWaitMs = 20;
constexpr u_short kEcho = 7, kDiscard = 9;  // nobody on this machine listens there
constexpr unsigned long kLoopback = 0x7F000001;  // host order

// The argument as the dispatcher sees it: script variables come as VARIANT references.
const VARIANT* ValueOf(const VARIANT* v) {
  for (int depth = 0; depth < 8 && V_VT(v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(v); ++depth)
    v = V_VARIANTREF(v);
  return v;
}

// The text a text parameter receives, or false when the conversion fails.
bool TextOf(const VARIANT* v, std::wstring& text) {
  v = ValueOf(v);
  if (V_VT(v) == VT_BSTR) {
    text = fw::WideFromBstr(V_BSTR(v));
    return true;
  }
  fw::unique_variant converted;
  if (FAILED(::VariantChangeType(&converted, const_cast<VARIANT*>(v), 0, VT_BSTR))) return false;
  text = fw::WideFromBstr(V_BSTR(&converted));
  return true;
}

bool I4Of(const VARIANT* v, LONG& value) {
  fw::unique_variant converted;
  if (FAILED(::VariantChangeType(&converted, const_cast<VARIANT*>(ValueOf(v)), 0, VT_I4)))
    return false;
  value = V_I4(&converted);
  return true;
}

// What the sockets layer gets of a text: the ANSI text up to its first NUL.
std::string WinsockText(const std::wstring& text) {
  return std::string(fw::AnsiFromWide(text).c_str());
}

bool IsLoopbackName(const std::string& name) {
  return name == "localhost" || name == "127.0.0.1";
}

// The IPv6 texts of loopback, and texts the control refuses as malformed IPv6 before any use.
bool IsSafeIpv6Text(const std::wstring& text) {
  const std::wstring_view cut = udp::UpToNul(text);
  if (!udp::LooksLikeIpv6(cut)) return false;
  const std::optional<udp::SocketAddress> address = udp::SocketAddress::ParseIpv6(cut);
  return !address || address->AddressText() == "::1" || address->AddressText() == "127.0.0.1";
}

Safety* g_safety = nullptr;
udp::WinsockApi g_real;

void Refuse(const char* what, const std::string& detail) {
  ++g_safety->refusals;
  std::fprintf(stderr, "refused: %s %s (step %s %ld)\n", what, detail.c_str(), g_step.phase,
               g_step.index);
}

// 127.0.0.1, ::1 and ::ffff:127.0.0.1.
bool IsLoopbackAddress(const sockaddr* address, int length) {
  if (!address || length < static_cast<int>(sizeof(sockaddr_in))) return false;
  const udp::SocketAddress a = udp::SocketAddress::From(address, length).Unmapped();
  if (a.Family() == AF_INET) return ::ntohl(a.Ipv4Net()) == kLoopback;
  return a.Family() == udp::kFamilyIpv6 && a.AddressText() == "::1";
}

u_short PortOf(const sockaddr* address, int length) {
  if (!address || length < static_cast<int>(sizeof(sockaddr_in))) return 0;
  return ::ntohs(udp::SocketAddress::From(address, length).PortNet());
}

std::string Describe(const sockaddr* address, int length) {
  if (!address || length < static_cast<int>(sizeof(sockaddr_in))) return "(no address)";
  return udp::SocketAddress::From(address, length).AddressText() + " port " +
         std::to_string(PortOf(address, length));
}

int PASCAL GuardedSendTo(SOCKET s, const char* data, int length, int flags, const sockaddr* to,
                         int toLength) {
  if (!IsLoopbackAddress(to, toLength) || !g_safety->AllowsPort(PortOf(to, toLength))) {
    Refuse("sendto", Describe(to, toLength));
    ::WSASetLastError(WSAEACCES);
    return SOCKET_ERROR;
  }
  return g_real.sendto(s, data, length, flags, to, toLength);
}

int PASCAL GuardedConnect(SOCKET s, const sockaddr* to, int toLength) {
  if (!IsLoopbackAddress(to, toLength)) {
    Refuse("connect", Describe(to, toLength));
    ::WSASetLastError(WSAEACCES);
    return SOCKET_ERROR;
  }
  return g_real.connect(s, to, toLength);
}

int PASCAL GuardedBind(SOCKET s, const sockaddr* address, int length) {
  const u_short port = PortOf(address, length);
  if (port != 0 && !g_safety->AllowsPort(port)) {
    Refuse("bind", Describe(address, length));
    ::WSASetLastError(WSAEACCES);
    return SOCKET_ERROR;
  }
  return g_real.bind(s, address, length);
}

hostent* PASCAL GuardedGetHostByName(const char* name) {
  if (!name || !IsLoopbackName(name)) {
    Refuse("gethostbyname", name ? name : "(null)");
    ::WSASetLastError(WSAHOST_NOT_FOUND);
    return nullptr;
  }
  return g_real.gethostbyname(name);
}

HANDLE PASCAL GuardedAsyncGetHostByName(HWND w, u_int m, const char* name, char* buffer,
                                        int length) {
  if (!name || !IsLoopbackName(name)) {
    Refuse("WSAAsyncGetHostByName", name ? name : "(null)");
    ::WSASetLastError(WSAENETDOWN);
    return nullptr;
  }
  return g_real.WSAAsyncGetHostByName(w, m, name, buffer, length);
}

HANDLE PASCAL GuardedAsyncGetHostByAddr(HWND w, u_int m, const char* address, int addressLength,
                                        int type, char* buffer, int length) {
  in_addr a{};
  if (address && addressLength == 4) std::memcpy(&a, address, 4);
  if (!address || addressLength != 4 || ::ntohl(a.s_addr) != kLoopback) {
    Refuse("WSAAsyncGetHostByAddr", ::inet_ntoa(a));
    ::WSASetLastError(WSAENETDOWN);
    return nullptr;
  }
  return g_real.WSAAsyncGetHostByAddr(w, m, address, addressLength, type, buffer, length);
}

// A group joined anywhere but on loopback would announce the membership on that network.
int PASCAL GuardedSetSockOpt(SOCKET s, int level, int option, const char* value, int length) {
  if (level == IPPROTO_IP && option == IP_ADD_MEMBERSHIP && value &&
      length >= static_cast<int>(sizeof(ip_mreq))) {
    ip_mreq m;
    std::memcpy(&m, value, sizeof m);
    if (::ntohl(m.imr_interface.s_addr) != kLoopback) {
      Refuse("IP_ADD_MEMBERSHIP on", ::inet_ntoa(m.imr_interface));
      ::WSASetLastError(WSAEACCES);
      return SOCKET_ERROR;
    }
  }
  return g_real.setsockopt(s, level, option, value, length);
}

// The address resolver of IPv6 sockets: loopback names only.
int PASCAL GuardedGetAddrInfoEx(const wchar_t* name, const wchar_t* service, DWORD nameSpace,
                                GUID* provider, const addrinfoExW* hints, addrinfoExW** results,
                                timeval* timeout, OVERLAPPED* overlapped,
                                udp::AddressLookupCompletion completion, HANDLE* handle) {
  const std::string ansi = name ? fw::AnsiFromWide(name) : "(null)";
  if (!name || !IsLoopbackName(ansi)) {
    Refuse("GetAddrInfoExW", ansi);
    return WSAHOST_NOT_FOUND;
  }
  return g_real.GetAddrInfoExW(name, service, nameSpace, provider, hints, results, timeout,
                               overlapped, completion, handle);
}

// IPv6 groups are joined by interface index: the fuzzer joins none (IPV6_ADD_MEMBERSHIP, 12).
int PASCAL GuardedWs2SetSockOpt(SOCKET s, int level, int option, const char* value, int length) {
  constexpr int kLevelIpv6 = 41, kAddMembership = 12;
  if (level == kLevelIpv6 && option == kAddMembership) {
    Refuse("IPV6_ADD_MEMBERSHIP", "");
    ::WSASetLastError(WSAEACCES);
    return SOCKET_ERROR;
  }
  return g_real.ws2_setsockopt(s, level, option, value, length);
}

// JoinGroup without an interface joins on these.
udp::MulticastInterfaces LoopbackInterfaceOnly() {
  return {0, {::htonl(kLoopback)}, {}, {udp::SocketAddress::Ipv4(::htonl(kLoopback))}, {}};
}

}  // namespace

bool Safety::AllowsPort(u_short port) const {
  if (port == kEcho || port == kDiscard) return true;
  for (u_short owned : ownedPorts)
    if (owned == port) return true;
  return false;
}

void Safety::InstallGuard() {
  g_safety = this;
  auto& table = udp::Winsock();
  g_real = table;
  table.sendto = GuardedSendTo;
  table.setsockopt = GuardedSetSockOpt;
  udp::MulticastInterfaceSource() = LoopbackInterfaceOnly;
  table.connect = GuardedConnect;
  table.bind = GuardedBind;
  table.gethostbyname = GuardedGetHostByName;
  table.WSAAsyncGetHostByName = GuardedAsyncGetHostByName;
  table.WSAAsyncGetHostByAddr = GuardedAsyncGetHostByAddr;
  table.GetAddrInfoExW = GuardedGetAddrInfoEx;
  table.ws2_setsockopt = GuardedWs2SetSockOpt;
}

Sensitive Safety::ParameterOf(DISPID dispid, UINT position, UINT count) {
  // Arguments come last first: the first parameter is the last element.
  const UINT parameter = count - 1 - position;
  switch (dispid) {
    case kInetAddress: return Sensitive::InetAddress;
    case kInetIp: return Sensitive::InetIp;
    case kInetName: return Sensitive::InetName;
    case kLocalAddress: return Sensitive::LocalAddress;
    case kHostIp: return Sensitive::HostIp;
    case kOpen: return Sensitive::OpenPort;
    case kWait:
    case kReceive: return parameter == 0 ? Sensitive::WaitTime : Sensitive::None;
    case kJoinGroup: return parameter == 1 ? Sensitive::GroupInterface : Sensitive::None;
    case kSendTo:
      return parameter == 0 ? Sensitive::RemoteIp
             : parameter == 1 ? Sensitive::SendPort
                              : Sensitive::None;
    default: return Sensitive::None;
  }
}

// A port text as Open or SendTo reads it (white space, a sign, digits, the low 16 bits of the value
// they name; for Open the whole text "" or "0" means any port, for SendTo 0 means a service name);
// a service name is safe when it names echo, discard or nothing at all.
bool Safety::IsSafePort(const std::string& text, bool open, const std::wstring& whole) const {
  if (open && (whole.empty() || whole == L"0")) return true;
  const std::optional<u_short> number = udp::LeadingNumberLow16(text);
  if (number && (open || *number != 0)) return (open && *number == 0) || AllowsPort(*number);
  const servent* service = ::getservbyname(text.c_str(), "udp");
  return !service || AllowsPort(::ntohs(static_cast<u_short>(service->s_port)));
}

bool Safety::IsSafe(Sensitive kind, const VARIANT* value) const {
  std::wstring text;
  LONG number = 0;
  switch (kind) {
    case Sensitive::None:
      return true;
    case Sensitive::InetIp:
      return !I4Of(value, number) || static_cast<unsigned long>(number) == kLoopback;
    case Sensitive::WaitTime:
      return !I4Of(value, number) || number <= kLongestWaitMs;
    default:
      break;
  }
  if (kind == Sensitive::GroupInterface) {
    const VARIANT* v = ValueOf(value);
    // Left out, empty or Null: every interface, which the guard's list makes loopback only.
    if (V_VT(v) == VT_EMPTY || V_VT(v) == VT_NULL ||
        (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND))
      return true;
  }
  if (!TextOf(value, text)) return true;  // the call fails before the member runs
  const std::string ansi = WinsockText(text);
  switch (kind) {
    case Sensitive::RemoteIp:
      return ansi == "127.0.0.1" || IsSafeIpv6Text(text);
    case Sensitive::InetAddress:
      return ::ntohl(::inet_addr(ansi.c_str())) == kLoopback;
    case Sensitive::InetName:
      return IsLoopbackName(ansi);
    case Sensitive::HostIp:
      return IsLoopbackName(ansi) || IsSafeIpv6Text(text);
    case Sensitive::LocalAddress:
      return ansi.empty() || ansi == "127.0.0.1" || IsSafeIpv6Text(text);
    case Sensitive::OpenPort:
      return IsSafePort(ansi, true, text);
    case Sensitive::SendPort:
      return IsSafePort(ansi, false, text);
    case Sensitive::GroupInterface:
      // An IPv4 interface is digits and dots with dots; anything else is refused, or names an
      // IPv6 interface (an index, an address), where the seam's guard refuses every join.
      return text.empty() || text == L"127.0.0.1" || text.find(L'.') == std::wstring::npos ||
             text.find_first_not_of(L"0123456789.") != std::wstring::npos;
    default:
      return false;
  }
}

void Safety::SafeValue(ValueContext& c, Sensitive kind, VARIANT* out) {
  Rng& rng = c.rng;
  VARIANT plain;
  ::VariantInit(&plain);
  auto text = [&](const std::wstring& t) {
    V_VT(&plain) = VT_BSTR;
    V_BSTR(&plain) = ::SysAllocStringLen(t.data(), static_cast<UINT>(t.size()));
  };
  switch (kind) {
    case Sensitive::InetIp:
      if (rng.OneIn(2)) {
        V_VT(&plain) = VT_I4;
        V_I4(&plain) = static_cast<LONG>(kLoopback);
      } else if (rng.OneIn(2)) {
        V_VT(&plain) = VT_R8;
        V_R8(&plain) = static_cast<double>(kLoopback);
      } else {
        text(L"2130706433");
      }
      break;
    case Sensitive::InetName:
    case Sensitive::HostIp:
      text(rng.OneIn(2) ? L"localhost" : L"127.0.0.1");
      break;
    case Sensitive::WaitTime:
      V_VT(&plain) = VT_I4;
      V_I4(&plain) = static_cast<LONG>(rng.Below(kLongestWaitMs + 1));
      break;
    case Sensitive::LocalAddress:
    case Sensitive::GroupInterface:
      text(rng.OneIn(2) ? L"" : L"127.0.0.1");
      break;
    case Sensitive::OpenPort:
    case Sensitive::SendPort: {
      const u_short port = ownedPorts.empty() ? kEcho : rng.Pick(ownedPorts);
      switch (rng.Below(6)) {
        case 0:
          V_VT(&plain) = VT_I4;
          V_I4(&plain) = port;
          break;
        case 1:
          V_VT(&plain) = VT_I2;  // the signed form of the events
          V_I2(&plain) = static_cast<SHORT>(port);
          break;
        case 2:
          text(L"echo");
          break;
        case 3:
          text(kind == Sensitive::OpenPort ? L"0" : L"nosuchservice");
          break;
        default:
          text(std::to_wstring(port));
      }
      break;
    }
    default:  // RemoteIp, InetAddress
      text(rng.OneIn(8) ? std::wstring(L"127.0.0.1\0tail", 14) : L"127.0.0.1");
  }
  Disguise(c, plain, out);
  if (!IsSafe(kind, out)) {  // never expected: fall back to the plainest safe form
    ::VariantClear(out);
    V_VT(out) = VT_BSTR;
    V_BSTR(out) = ::SysAllocString(kind == Sensitive::InetName || kind == Sensitive::HostIp
                                       ? L"localhost"
                                       : L"127.0.0.1");
  }
}

void Safety::Sanitize(ValueContext& c, DISPID dispid, VARIANT* args, UINT count) {
  if (!args) return;
  for (UINT i = 0; i < count; ++i) {
    const Sensitive kind = ParameterOf(dispid, i, count);
    if (IsSafe(kind, &args[i])) continue;
    ::VariantClear(&args[i]);
    SafeValue(c, kind, &args[i]);
  }
}

}  // namespace fuzz
