// Endpoint texts: numbers are converted at once, names start an asynchronous look-up.
// Every request is addressed to the thread's look-up relay rather than to the owner's window: the
// relay outlives that window, and forwards the completion to whatever window the owner has by
// then.
#include "endpoint/errors.h"
#include "endpoint/lookup_relay.h"
#include "endpoint/endpoint.h"
#include "framework/text.h"

namespace udp {

HANDLE Endpoint::StartLookup(LookupChannel& channel, bool cancelOutstanding,
                             const LookupChannel::StartFn& start) {
  if (cancelOutstanding)
    CancelLookup(channel);
  else
    channel.Retire();
  return channel.Start(this, start);
}

void Endpoint::CancelLookup(LookupChannel& channel) noexcept {
  if (const auto error = channel.Cancel()) m_wsaError = *error;
}

void Endpoint::HandOverLookups() {
  for (LookupChannel* channel : {&m_hostLookup, &m_servLookup, &m_localServLookup, &m_inetLookup})
    channel->HandOver();
  m_addressLookup.HandOver();
  lookup_relay::ForgetOwner(this);
}

namespace {
// What a look-up start hands its caller: the task handle, or -1 when the request did not start.
INT_PTR StartResult(HANDLE task) { return task ? reinterpret_cast<INT_PTR>(task) : -1; }

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

std::optional<u_short> LeadingNumberLow16(const std::string& text) {
  // Read as atoi and sscanf("%d") read it (white space, a sign, digits), but modulo 2^16 as it
  // goes: a number beyond the range of int then still gives the low 16 bits of its value, where
  // those functions would overflow.
  size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  if (i == text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  unsigned value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = (value * 10 + static_cast<unsigned>(text[i] - '0')) & 0xFFFFu;
  return static_cast<u_short>(negative ? (0x10000u - value) & 0xFFFFu : value);
}

bool IsBroadcastText(std::wstring_view address) {
  return address == L"255.255.255.255" || address == L"-1";
}

INT_PTR Endpoint::StartServiceLookup(LookupChannel& channel, UINT message,
                                     const std::string& service) {
  return StartResult(StartLookup(channel, true, [&](char* entry) {
    return Winsock().WSAAsyncGetServByName(lookup_relay::Window(), message, service.c_str(), "udp",
                                           entry, kLookupBufferSize);
  }));
}

INT_PTR Endpoint::AsyncGetHostByName(const std::string& host) {
  auto& ws = Winsock();
  // A host sending to one peer names it the same way datagram after datagram: parse it once.
  if (!m_lastDottedParsed || host != m_lastDottedHost) {
    m_lastDottedAddress = ws.inet_addr(host.c_str());
    m_lastDottedHost = host;
    m_lastDottedParsed = true;
  }
  const unsigned long address = m_lastDottedAddress;
  if (address != INADDR_NONE) {
    // An outstanding host look-up would overwrite this destination when it completes.
    CancelLookup(m_hostLookup);
    m_sockAddr.SetIpv4Net(address);
    return 0;
  }
  return StartResult(StartLookup(m_hostLookup, true, [&](char* buffer) {
    return ws.WSAAsyncGetHostByName(lookup_relay::Window(), kMsgGetHost, host.c_str(), buffer,
                                    kLookupBufferSize);
  }));
}

INT_PTR Endpoint::ResolveIpv6Destination(std::wstring_view text) {
  auto& ws = Winsock();
  const std::wstring_view host = UpToNul(text);
  // A destination the socket cannot reach fails the call as the send would, nothing pending.
  auto unreachable = [&] { FailCall(WSAEAFNOSUPPORT, true); };
  if (LooksLikeIpv6(host)) {
    const std::optional<SocketAddress> literal = SocketAddress::ParseIpv6(host);
    if (!literal) ThrowUdpError(kErrBadArgument);
    // An IPv4-mapped literal is an IPv4 peer: a socket that serves none cannot reach it.
    if (m_ipv6Only && literal->Unmapped().Family() == AF_INET) unreachable();
    m_addressLookup.Cancel();
    m_sockAddr.SetHost(*literal);
    return 0;
  }
  const std::string ansi = fw::AnsiFromWide(host);
  const unsigned long dotted =
      IsBroadcastText(host) ? INADDR_BROADCAST : ws.inet_addr(ansi.c_str());
  if (IsBroadcastText(host) || dotted != INADDR_NONE) {
    // IPv6 has no broadcast; an IPv4 peer is reached by its mapped address on a dual-stack socket.
    if (IsBroadcastText(host) || m_ipv6Only) unreachable();
    m_addressLookup.Cancel();
    m_sockAddr.SetHost(SocketAddress::Ipv4(dotted).Mapped());
    return 0;
  }
  // An outstanding look-up of an earlier name would overwrite the destination when it completes.
  m_addressLookup.Cancel();
  if (const std::optional<int> error = m_addressLookup.Start(this, std::wstring(host), !m_ipv6Only))
    FailCall(*error, true);
  return 1;
}

INT_PTR Endpoint::AsyncGetServByName(const std::string& port) {
  m_sockAddr.SetPortNet(Winsock().htons(LeadingNumberLow16(port).value_or(0)));
  if (m_sockAddr.PortNet() != 0) {
    // An outstanding service look-up would overwrite this port when it completes.
    CancelLookup(m_servLookup);
    return 0;
  }
  return StartServiceLookup(m_servLookup, kMsgGetServ, port);
}

INT_PTR Endpoint::AsyncGetLocalServByName(const std::string& port) {
  if (const auto number = LeadingNumberLow16(port)) {
    m_localPortNet = Winsock().htons(*number);
    return 0;
  }
  return StartServiceLookup(m_localServLookup, kMsgGetLocalServ, port);
}

void Endpoint::SetLocalSockAddr(const std::wstring& address, u_short portNet) {
  if (LooksLikeIpv6(address)) {
    // Open has checked the text. While open the address reads as the system writes it ("::"
    // for every address).
    m_bindAddr =
        SocketAddress::ParseIpv6(UpToNul(address)).value_or(SocketAddress::AnyOf(kFamilyIpv6));
    m_bindAddr.SetPortNet(portNet);
    m_localPort = static_cast<short>(portNet);
    m_localIp = 0;
    m_localAddress = fw::WideFromAnsi(m_bindAddr.AddressText());
    return;
  }
  m_bindAddr = SocketAddress::Ipv4(INADDR_ANY, portNet);
  m_localPort = static_cast<short>(portNet);
  if (!address.empty() && !IsBroadcastText(address)) {
    const unsigned long a = Winsock().inet_addr(fw::AnsiFromWide(address).c_str());
    m_bindAddr.SetIpv4Net(a);
    m_localIp = static_cast<LONG>(a);
    m_localAddress = address;
  } else {
    m_localIp = 0;
    m_localAddress = L"255.255.255.255";
  }
}

}  // namespace udp
