// CUdpCtrl: one UDP endpoint as an ActiveX control. All state is in plain private members; the
// control's own tables and the tests that must look inside reach them through CUdpCtrlAccess
// (udp_ctrl_access.h). The control runs on the thread that created it and is re-entered only
// through its own event handlers.
#pragma once
#include <winsock.h>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <deque>
#include <vector>

#include "control/data_variant.h"
#include "control/endpoint_listener.h"
#include "control/lookup_channel.h"
#include "control/sender_texts.h"
#include "control/socket_address.h"
#include "control/winsock_api.h"
#include "framework/ole_control.h"
#include "typelib/udp_dispids.h"

namespace udp {

// Private messages of the control's window.
inline constexpr UINT kMsgSocketNotify = WM_USER + 1;
inline constexpr UINT kMsgGetHost = WM_USER + 2;
inline constexpr UINT kMsgGetServ = WM_USER + 3;
inline constexpr UINT kMsgGetLocalServ = WM_USER + 5;
inline constexpr UINT kMsgGetInetHost = WM_USER + 6;

// Event identifiers of _DUdpEvents.
enum EventId : DISPID {
  kEventWsError = UDP_DISPID(WsError),
  kEventReceived = UDP_DISPID(Received),
  kEventClosed = UDP_DISPID(Closed),
  kEventReady = UDP_DISPID(Ready),
  kEventSent = UDP_DISPID(Sent),
};

// State values the control stores itself.
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

class CUdpCtrl : public fw::COleControl {
 public:
  CUdpCtrl();

  static const fw::ControlClassInfo& ClassInfoOfUdp();

  // The members below are the control's automation surface, one C++ member per automation member
  // (udp_dispatch.cpp binds them); everything else is reached through CUdpCtrlAccess.

  // --- the endpoint (endpoint.cpp) ---
  void Open(const std::wstring& localPort);
  void Close();
  LONG GetSocket() const;
  bool IsOpen() const { return m_socket != INVALID_SOCKET; }

  // --- the automation surface and the window messages (udp_dispatch.cpp) ---
  DISPID MemberId(const wchar_t* name) const override;
  HRESULT InvokeMember(DISPID id, REFIID iid, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excepInfo, UINT* argErr) override;
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  // --- an owner without a form (lifecycle.cpp) ---
  // The listener hears the endpoint's events instead of the connection point; nullptr detaches
  // it. The control does not hold it.
  void SetListener(EndpointListener* listener) { m_listener = listener; }
  // A failure the listener has raised: the automatic close of its endpoint unless cancelClose,
  // and the drop of a failed datagram.
  void SettleFailure(const EndpointFailure& failure, bool cancelClose);

  // --- sending and receiving (send.cpp, receive.cpp) ---
  void SendTo(std::wstring_view remoteIp, std::wstring_view remotePort, VARIANT* data);
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

  // --- the About box (about.cpp) ---
  void AboutBox();

 protected:
  ~CUdpCtrl() override;

 private:
  friend struct CUdpCtrlAccess;

  // --- lifecycle and failure convention (lifecycle.cpp) ---
  void DoPropExchange(fw::CPropExchange& px) override;
  void OnSetClientSite() override;
  bool OnSetExtent(const SIZEL& size) override;
  void OnDraw(HDC dc, const RECT& bounds) override;
  void OnEventsThawed() override;
  void OnMessageHandled() override;
  void FireWsError(LONG ecode, const std::wstring& description, const wchar_t* where,
                   BOOL* cancelClose);
  void FireReceived(BSTR ipAddress, BSTR port, VARIANT* data);
  void FireClosed();
  void FireReady();
  void FireSent();
  // An event without arguments: to the listener when there is one, else to the sinks.
  void FireToListenerOrSinks(DISPID event, void (EndpointListener::*heard)());
  // Raises WsError, then closes unless the handler cancelled the close or reopened the port.
  // While events are held all of it waits its turn, so that the handler still decides; a
  // listener raises it itself. A failed datagram is not tried again meanwhile, and a second
  // failure of the same datagram (its other look-up, say) is not reported.
  void ReportFailure(LONG ecode, const wchar_t* description, const wchar_t* where,
                     bool failedDatagram = false);
  void RaiseFailure(const EndpointFailure& failure);
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

  // --- endpoint texts and look-up starts (lookup_starts.cpp) ---
  INT_PTR AsyncGetHostByName(HWND window, const std::string& host);
  INT_PTR AsyncGetServByName(HWND window, const std::string& port);
  INT_PTR AsyncGetLocalServByName(HWND window, const std::string& port);
  void SetLocalSockAddr(const std::wstring& address, u_short portNet);
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
  bool ApplyMulticastOptions(SOCKET socket);

  // --- notification dispatch (notify.cpp) ---
  LRESULT OnSocketNotify(WPARAM socket, LPARAM eventWord);
  LRESULT OnSocketEvent2(WPARAM socket, LPARAM eventWord);
  // A socket notification (or, with 0, a continue message) to the control's own window.
  bool PostSocketNotify(LPARAM eventWord);
  // Schedules the dispatch of notifications waiting in the ring, unless one is running or
  // events are frozen.
  void ResumeWaitingNotifications();

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
  void OnInetAddressChanged();
  void OnInetIpChanged();
  void OnInetNameChanged();
  void OnBroadcastChanged();
  void StartInetLookup(const std::function<HANDLE(HWND window, char* buffer)>& start);
  void MakeDeferredBind();
  // Sends the pending datagram on once nothing holds it back any more: no look-up of its
  // destination is outstanding and no bind is owed.
  void SendWhenResolved();
  // Posts the write notification for the pending datagram. Outside a call: when it cannot be
  // posted the datagram is dropped, since nothing else would send it, and the failure reported.
  void PostPendingWrite();

  // --- members ---
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
  SOCKET m_socket = INVALID_SOCKET;
  LONG m_openCount = 0;
  PendingDatagram m_pendingData;
  // The pending datagram failed and waits for its failure to be reported: it is not sent again,
  // and nothing else about it is reported.
  bool m_pendingFailed = false;
  // The pending datagram's number (each SendTo that keeps one gives the next), so that settling a
  // failure drops the datagram that failed and never one sent since.
  uint64_t m_pendingNumber = 0;
  uint64_t m_datagramsTaken = 0;
  EndpointListener* m_listener = nullptr;
  BOOL m_bindPending = FALSE;
  LONG m_rcvbuf = 0, m_sndbuf = 0;
  // The destination of the pending datagram.
  SocketAddress m_sockAddr;
  // The local address of the next bind; kept apart from the destination so that a SendTo made
  // while Open waits for its service look-up keeps the destination it named.
  SocketAddress m_bindAddr;
  SocketAddress m_fromAddr;
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
  // The groups the open socket joined, with the interface of each; the socket's close ends them.
  std::vector<ip_mreq> m_memberships;
};

// The control's automation surface and events, as plain tables, and the dispatcher of that
// surface (which the objects that own a control use too).
extern const std::span<const fw::DispEntry<CUdpCtrl>> kUdpDispatch;
extern const std::span<const fw::EventEntry> kUdpEvents;
const fw::Dispatcher<CUdpCtrl>& UdpDispatcher();

// "255.255.255.255" and "-1": the broadcast address as a destination, any address as the local one.
bool IsBroadcastText(std::wstring_view address);

// The low 16 bits of the decimal number a port text begins with (white space, a sign, digits),
// whatever its size; nothing when the text does not begin with a number.
std::optional<u_short> LeadingNumberLow16(const std::string& text);

// Creates a control object (the class factory's work).
HRESULT CreateUdpCtrl(REFIID iid, void** out);

}  // namespace udp
