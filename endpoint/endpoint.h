// Endpoint: one UDP endpoint, the engine that the control and UdpSocket both drive. It owns the
// socket, Windows Sockets start-up for its owner, the notification ring, the pending datagram, the
// look-up channels, the options and group memberships, and the sender's texts; it reports what
// happens through the owner's EndpointEvents and knows nothing of forms, sinks or dispatch. Every
// Windows Sockets call goes through the sockets seam (winsock_api.h).
//
// It runs on the thread that created it and is re-entered only through its owner's handlers. All
// state is in plain private members; the automation tables and the tests that must look inside
// reach them through EndpointAccess, which the control's layer defines.
#pragma once
#include <winsock.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "endpoint/address_lookup.h"
#include "endpoint/data_variant.h"
#include "endpoint/endpoint_events.h"
#include "endpoint/lookup_channel.h"
#include "endpoint/packet_info.h"
#include "endpoint/sender_texts.h"
#include "endpoint/socket_address.h"
#include "endpoint/winsock_api.h"
#include "framework/unique_any.h"

namespace udp {

// Private messages of the owner's notification window, which hands them to Endpoint::OnMessage.
inline constexpr UINT kMsgSocketNotify = WM_USER + 1;
inline constexpr UINT kMsgGetHost = WM_USER + 2;
inline constexpr UINT kMsgGetServ = WM_USER + 3;
inline constexpr UINT kMsgGetLocalServ = WM_USER + 5;
inline constexpr UINT kMsgGetInetHost = WM_USER + 6;
inline constexpr UINT kMsgGetAddrInfo = WM_USER + 7;

// State values the endpoint stores itself.
inline constexpr short kStateClosed = 0;
inline constexpr short kStateOpened = 1;
inline constexpr short kStateLookedUp = 5;
inline constexpr short kStateFailed = 9;

inline constexpr int kNotifyRingSize = 32;
inline constexpr int kHostNameBufferSize = 50;

struct SocketNotification {
  WPARAM socket;
  LPARAM eventWord;
};

class Endpoint {
 public:
  // The events go to the owner, which outlives the endpoint. Nothing is started yet: the owner
  // calls Start once it can hear a failure.
  explicit Endpoint(EndpointEvents& events);
  // Closes the socket without an event and gives outstanding look-ups to the relay; a failed
  // clean-up is not reported (the owner is going).
  ~Endpoint();
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  // Windows Sockets start-up and the facts it gives; a failure is reported, and State says so.
  void Start();
  // Closes without an event, then the clean-up, whose failure is reported as Start's is.
  void Stop();

  // The members below are the automation surface's, one C++ member per automation member.

  // --- the endpoint (open_close.cpp) ---
  void Open(const std::wstring& localPort);
  void Close();
  LONG GetSocket() const;
  bool IsOpen() const { return static_cast<bool>(m_socket); }
  // IPv6 sockets: serve IPv6 peers only, or IPv4 ones too (dual stack, the default); counts at
  // Open. The family of the open socket: AF_INET, kFamilyIpv6, 0 when closed.
  BOOL GetIpv6Only() const { return m_ipv6Only; }
  void SetIpv6Only(BOOL only) { m_ipv6Only = only ? TRUE : FALSE; }
  LONG GetAddressFamily() const { return m_socket ? m_socketFamily : 0; }
  // The destination of the datagram the owner presents to its host (the control: the one whose
  // Received is being raised; UdpSocket: the one Receive last returned or whose event is being
  // raised): its text ("" where unknown) and the interface it arrived on (0 where unknown).
  std::wstring GetToAddress() const;
  LONG GetToInterface() const { return static_cast<LONG>(m_currentDestination.interfaceIndex); }
  const PacketDestination& CurrentDestination() const { return m_currentDestination; }
  // The local address the next datagrams leave from on a socket bound to every address; empty:
  // the system's choice. Not saved with the form.
  std::wstring GetSourceAddress() const { return m_sourceAddressText; }
  void SetSourceAddress(std::wstring_view address);
  void SetCurrentDestination(const PacketDestination& to) { m_currentDestination = to; }

  // --- sending and receiving (send.cpp, receive.cpp) ---
  void SendTo(std::wstring_view remoteIp, std::wstring_view remotePort, VARIANT* data);
  // One pending datagram to the directed broadcast address of every IPv4 interface that is up
  // and can broadcast (loopback excluded): one Sent when the last copy is out, one failure if any
  // copy failed (the others are sent).
  void BroadcastAll(std::wstring_view remotePort, VARIANT* data);
  BOOL GetSendable() const;
  void GetAnyData(VARIANT* result) const;
  void SetAnyData(VARIANT* value);

  // --- the local endpoint (lookups.cpp) ---
  LONG GetLocalIp() const;
  short GetLocalPort() const;
  std::wstring GetLocalAddress() const;
  void SetLocalAddress(const std::wstring& address);
  std::wstring GetLocalHost() const;
  std::wstring HostIp(const std::wstring& remote);

  // --- byte order (byte_order.cpp) ---
  void htonl(double host, VARIANT* result);
  void htons(LONG host, VARIANT* result);
  double ntohl(VARIANT* net);
  LONG ntohs(VARIANT* net);

  // --- options and information (options.cpp) ---
  LONG GetSndbuf();
  void SetSndbuf(LONG value);
  LONG GetRcvbuf();
  void SetRcvbuf(LONG value);
  std::wstring GetCopyright() const;
  short GetVersion() const;
  std::wstring GetWinsockVer() const;
  std::wstring GetWinsockDesc() const;
  std::wstring GetWinsockSysStat() const;
  std::wstring GetWinsockMaxSockets() const;
  std::wstring GetWinsockMaxDatagram() const;

  // --- multicast and port sharing (multicast.cpp); not saved with the form ---
  void JoinGroup(std::wstring_view group, VARIANT* iface);
  void LeaveGroup(std::wstring_view group, VARIANT* iface);
  LONG GetMulticastTtl() const { return m_multicastTtl; }
  void SetMulticastTtl(LONG ttl);
  BOOL GetMulticastLoopback() const { return m_multicastLoopback; }
  void SetMulticastLoopback(BOOL loopback);
  std::wstring GetMulticastInterface() const { return m_multicastInterface; }
  void SetMulticastInterface(std::wstring_view address);
  BOOL GetReuseAddress() const { return m_reuseAddress; }
  void SetReuseAddress(BOOL reuse);

  // --- for the owner (notify.cpp, failures.cpp) ---
  // One of the endpoint's messages (kMsg*) that reached the owner's notification window; false
  // for any other message. Errors no call takes are the owner's barrier's.
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // One of those messages that reached another window (a look-up completion at the relay): the
  // owner runs it as its notification window would.
  void RunMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    m_events.RunEndpointMessage(message, wParam, lParam);
  }
  // The owner's notification window is a new one (or now exists): what was posted to the old one
  // is posted again, and the open socket reports to the new one.
  void OnWindowChanged();
  // The owner holds events no more: notifications that waited in the ring are dispatched.
  void ResumeWaitingNotifications();
  // A failure the owner has raised: the automatic close of its endpoint unless cancelClose, and
  // the drop of a failed datagram.
  void SettleFailure(const EndpointFailure& failure, bool cancelClose);
  // A failure outside a call, by the failure convention: the owner raises it and settles it.
  // While one datagram failed, a second failure of the same datagram is not reported.
  void ReportFailure(LONG ecode, const wchar_t* description, const wchar_t* where,
                     bool failedDatagram = false);

 private:
  friend struct EndpointAccess;

  // --- start-up and the failure convention (startup.cpp, failures.cpp) ---
  // A Windows Sockets failure outside a call: State 9, LastError, then ReportFailure.
  void ReportWinsockFailure(int wsaError, const wchar_t* where, bool failedDatagram = false);
  // A Windows Sockets failure inside a call: LastError (and State 9 when asked), then the throw.
  [[noreturn]] void FailCall(int wsaError, bool setFailedState);
  // An option setter's check: the open socket, if any, took the value; else the call fails with
  // Windows Sockets' error and the property keeps its value.
  void RequireOpenSocketTook(bool took);
  // Thin wrappers that record m_wsaError.
  int WsaStartup();
  int WsaCleanup();
  int GetLocalHostName(char* buffer, int length);
  int ReleaseEndpoint(SOCKET socket);
  // Stop's work; the destructor's reports nothing.
  void Release(bool reportFailure);
  HWND Window() const { return m_events.NotificationWindow(); }

  // --- endpoint texts and look-up starts (lookup_starts.cpp) ---
  INT_PTR AsyncGetHostByName(const std::string& host);
  INT_PTR AsyncGetServByName(const std::string& port);
  INT_PTR AsyncGetLocalServByName(const std::string& port);
  void SetLocalSockAddr(const std::wstring& address, u_short portNet);
  // LocalAddress up to its first NUL, as every text of the control reads on its way to ANSI.
  std::wstring_view LocalAddressText() const {
    return std::wstring_view(m_localAddress).substr(0, m_localAddress.find(L'\0'));
  }
  // A destination text on an IPv6 socket: a literal or a dotted text at once (0), a name by the
  // address resolver (1); fails the call when the socket's family cannot reach it.
  INT_PTR ResolveIpv6Destination(std::wstring_view text);
  // The socket is IPv6 and also serves IPv4 peers.
  bool IsDualStack() const { return m_socketFamily == kFamilyIpv6 && !m_ipv6Only; }
  // The data of a new pending datagram, and its number; fails the call for data that cannot be
  // sent.
  void TakePendingData(VARIANT* data);
  // SendTo's check of SourceAddress against the open socket and this host's addresses.
  void CheckSourceAddress();
  // A look-up of the pending datagram's destination is outstanding.
  bool DestinationLookupOutstanding() const {
    return m_hostLookup.IsOutstanding() || m_servLookup.IsOutstanding() ||
           m_addressLookup.IsOutstanding();
  }
  // Starts a service look-up for protocol "udp" on one of the two service channels.
  INT_PTR StartServiceLookup(LookupChannel& channel, UINT message, const std::string& service);
  // Starts a request of a channel; the outstanding one is cancelled first, or else retired.
  HANDLE StartLookup(LookupChannel& channel, bool cancelOutstanding,
                     const LookupChannel::StartFn& start);
  // Cancels a channel's outstanding request, recording the error of a cancel that failed.
  void CancelLookup(LookupChannel& channel) noexcept;
  // On destruction: the buffers the sockets layer may still write go to the look-up relay.
  void HandOverLookups();

  // --- multicast (multicast.cpp) ---
  // Gives a new socket the stored options that differ from the system's defaults; false with the
  // Windows Sockets error left for the caller.
  // 0, or the Windows Sockets error of the option that failed.
  int ApplyMulticastOptions(SOCKET socket, int family);
  // WSAEAFNOSUPPORT when a MulticastInterface value (an IPv4 interface, or an IPv6 one named by
  // index or address) is one a socket of the family cannot use, else 0.
  int InterfaceMismatch(int family, unsigned long ipv4Interface, bool isIpv6) const;
  // IPV6_V6ONLY off (dual stack) or on; false with the Windows Sockets error left for the caller.
  static bool SetDualStack(SOCKET socket, bool dualStack);
  // The IPv6 side (ipv6_options.cpp): groups joined by interface index, and the IPv6 level's
  // options, each false with the Windows Sockets error left for the caller.
  void JoinIpv6Group(const SocketAddress& group, VARIANT* iface);
  void LeaveIpv6Group(const SocketAddress& group, VARIANT* iface);
  // The interface index a MulticastInterface or JoinGroup text names: an index, or an IPv6
  // address of an interface. Throws for anything else.
  unsigned long Ipv6InterfaceIndexOf(std::wstring_view text);
  static bool SetIpv6Hops(SOCKET socket, int hops);
  static bool SetIpv6Loopback(SOCKET socket, bool loopback);
  static bool SetIpv6Interface(SOCKET socket, unsigned long index);

  // --- notification dispatch (notify.cpp) ---
  LRESULT OnSocketNotify(WPARAM socket, LPARAM eventWord);
  LRESULT OnSocketEvent2(WPARAM socket, LPARAM eventWord);
  // A socket notification (or, with 0, a continue message) to the owner's window.
  bool PostSocketNotify(LPARAM eventWord);

  // --- sending and receiving (send.cpp, receive.cpp) ---
  void HandleWrite(WPARAM socket, LPARAM eventWord);
  int udp_send(SOCKET s, const char* data, int length, int flags, const sockaddr* to, int toLength);
  void HandleRead(WPARAM socket, LPARAM eventWord);
  int udp_recv(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength);

  // --- look-up completions and the Inet trio (lookups.cpp) ---
  // Each runs only for a completion its channel claims (see lookup_channel.h).
  void OnAsyncGetHostByName(const LookupCompletion& completion);
  void OnAsyncGetServByName(const LookupCompletion& completion);
  void OnAsyncGetLocalServByName(const LookupCompletion& completion);
  void OnAsyncGetInetHost(const LookupCompletion& completion);
  void OnGetAddrInfoEx(const AddressLookupResult& result);
  void OnInetAddressChanged();
  void OnInetIpChanged();
  void OnInetNameChanged();
  void OnBroadcastChanged();
  void StartInetLookup(const std::function<HANDLE(HWND window, char* buffer)>& start);
  // The Inet trio's look-up of the name of an IPv4 address (network order).
  void StartInetLookupOfAddress(unsigned long addressNet);
  void MakeDeferredBind();
  // Sends the pending datagram on once nothing holds it back any more: no look-up of its
  // destination is outstanding and no bind is owed.
  void SendWhenResolved();
  // Posts the write notification for the pending datagram. Outside a call: when it cannot be
  // posted the datagram is dropped, since nothing else would send it, and the failure reported.
  void PostPendingWrite();

  // --- members ---
  EndpointEvents& m_events;
  short m_state = kStateClosed;
  std::wstring m_userData1, m_userData2, m_userData3, m_userData4, m_userData5;
  std::wstring m_userFlag;
  LONG m_lastError = 0;
  BOOL m_broadcast = FALSE;
  std::wstring m_inetAddress;
  LONG m_inetIp = 0;
  std::wstring m_inetName;
  fw::unique_variant m_anyData;
  std::wstring m_banner;
  unique_socket m_socket;
  LONG m_openCount = 0;
  PendingDatagram m_pendingData;
  // The pending datagram failed and waits for its failure to be reported: it is not sent again,
  // and nothing else about it is reported.
  bool m_pendingFailed = false;
  // The pending datagram's number (each SendTo that keeps one gives the next), so that settling a
  // failure drops the datagram that failed and never one sent since.
  uint64_t m_pendingNumber = 0;
  uint64_t m_datagramsTaken = 0;
  BOOL m_bindPending = FALSE;
  LONG m_rcvbuf = 0, m_sndbuf = 0;
  // The destination of the pending datagram (for BroadcastAll: its port).
  SocketAddress m_sockAddr;
  // BroadcastAll's destinations (network order), the next one to send to, and the first error of
  // a copy; empty for a datagram of SendTo.
  std::vector<unsigned long> m_broadcastTargets;
  size_t m_broadcastNext = 0;
  int m_broadcastError = 0;
  // Sends the pending datagram to one destination, from SourceAddress when one is set; as sendto.
  int SendPending(const SocketAddress& to, size_t length);
  // Sends BroadcastAll's copies from the next one on; false while the sockets layer is full.
  bool SendBroadcastCopies(size_t length);
  // The local address of the next bind; kept apart from the destination so that a SendTo made
  // while Open waits for its service look-up keeps the destination it named.
  SocketAddress m_bindAddr;
  SocketAddress m_fromAddr;
  // Reads each datagram's destination where the system can tell it (set up at Open); the
  // destination the owner presents.
  DestinationReader m_destinations;
  PacketDestination m_currentDestination;
  // SourceAddress as set, what it names (no address: the system's choice), and the endpoint
  // (Open count) it was last found to be this host's on.
  std::wstring m_sourceAddressText;
  SocketAddress m_sourceAddress;
  LONG m_sourceCheckedOn = 0;
  // Kept from one datagram to the next while the endpoint is open: the read buffer, the texts
  // of the last sender, and the SO_BROADCAST value the socket has (-1: not set on this socket).
  std::unique_ptr<char[]> m_receiveBuffer;
  SenderTexts m_senderTexts;
  int m_socketBroadcast = -1;
  // The last destination text SendTo parsed, and what inet_addr made of it.
  std::string m_lastDottedHost;
  unsigned long m_lastDottedAddress = INADDR_NONE;
  bool m_lastDottedParsed = false;
  u_short m_localPortNet = 0;
  WSADATA m_wsaData{};
  bool m_wsaStarted = false;
  // The destination's host and service, the local service of Open, and the Inet trio.
  LookupChannel m_hostLookup, m_servLookup, m_localServLookup, m_inetLookup;
  // The destination's host on an IPv6 socket.
  AddressLookup m_addressLookup;
  // IPv6 and dual stack: the option the next Open applies, and the open socket's family.
  BOOL m_ipv6Only = FALSE;
  int m_socketFamily = 0;
  std::wstring m_winsockVer, m_winsockDesc, m_winsockSysStat, m_winsockMaxSockets,
      m_winsockMaxDatagram;
  LONG m_wsaError = 0;
  std::wstring m_localAddress;
  LONG m_localIp = -1;
  short m_localPort = -1;
  std::wstring m_hostName;
  LONG m_maxDatagram = 0;
  bool m_readyFired = false;
  SocketNotification m_notifyQueue[kNotifyRingSize] = {};
  int m_notifyIn = 0, m_notifyOut = 0;
  bool m_inNotify = false;
  // Notifications that arrived while the ring was full, oldest first.
  std::deque<SocketNotification> m_notifyOverflow;
  // Multicast and port sharing: what the next Open applies, or the open socket has.
  LONG m_multicastTtl = 1;
  BOOL m_multicastLoopback = TRUE;
  std::wstring m_multicastInterface;
  unsigned long m_multicastInterfaceNet = INADDR_ANY;
  BOOL m_reuseAddress = FALSE;
  // The IPv6 interface MulticastInterface names, by index (0: the system's choice).
  unsigned long m_multicastInterfaceIndex = 0;
  // The groups the open socket joined, with the interface of each; the socket's close ends them.
  std::vector<ip_mreq> m_memberships;
  struct Ipv6Membership {
    SocketAddress group;
    unsigned long index;
  };
  std::vector<Ipv6Membership> m_ipv6Memberships;
};

// The optional interface argument of JoinGroup and LeaveGroup as text: left out, empty or Null
// (every interface) give nothing; a value that is no text is refused.
std::optional<std::wstring> InterfaceArgument(VARIANT* argument);
// Four decimal numbers of 0 to 255 with dots between them and nothing else, in network order.
std::optional<unsigned long> ParseDotted(std::wstring_view text);
// A text up to its first NUL: Wine's WScript.Shell leaves one at the end of an expanded variable.
std::wstring_view UpToNul(std::wstring_view text);

// "255.255.255.255" and "-1": the broadcast address as a destination, any address as the local one.
bool IsBroadcastText(std::wstring_view address);

// The low 16 bits of the decimal number a port text begins with (white space, a sign, digits),
// whatever its size; nothing when the text does not begin with a number.
std::optional<u_short> LeadingNumberLow16(const std::string& text);

}  // namespace udp
