// The control's automation surface, its events and its window messages, as plain tables.
#include "control/udp_ctrl_access.h"

namespace udp {

namespace {

using fw::DispBinding;
using fw::DispEntry;
using fw::DispParam;

CUdpCtrl* Ctrl(fw::COleControl* self) { return static_cast<CUdpCtrl*>(self); }

#define UDP_MEMBER(field) [](fw::COleControl* s) -> void* { return &Ctrl(s)->field; }
#define UDP_NOTIFY(fn) [](fw::COleControl* s) { Ctrl(s)->fn(); }

// A property bound to a member, with or without a notification.
constexpr DispEntry Member(const wchar_t* name, DISPID id, VARTYPE type, fw::DispMemberFn member,
                           fw::DispNotifyFn notify = nullptr) {
  return {name,    id, DispBinding::Member, type, false, member, notify, nullptr, nullptr,
          nullptr, {}};
}
// A property with accessors; read-only without a put accessor.
constexpr DispEntry Accessors(const wchar_t* name, DISPID id, VARTYPE type, fw::DispGetFn get,
                              fw::DispPutFn put = nullptr) {
  return {name,    id, DispBinding::Accessors, type, put == nullptr, nullptr, nullptr, get, put,
          nullptr, {}};
}
constexpr DispEntry Method(const wchar_t* name, DISPID id, VARTYPE result, fw::DispCallFn call,
                           std::span<const DispParam> params = {}) {
  return {name, id,    DispBinding::Method, result, false, nullptr, nullptr, nullptr, nullptr,
          call, params};
}

// The byte-order methods take wider types than the type library declares, so that the whole
// unsigned range of a long or a short can be passed.
constexpr DispParam kHtonlParams[] = {{L"host", VT_R8}};
constexpr DispParam kHtonsParams[] = {{L"host", VT_I4}};
constexpr DispParam kNtohParams[] = {{L"net", VT_VARIANT}};

constexpr DispParam kOpenParams[] = {{L"LocalPort", VT_BSTR}};
constexpr DispParam kHostIpParams[] = {{L"Remote", VT_BSTR}};
constexpr DispParam kSendToParams[] = {
    {L"RemoteIp", VT_BSTR}, {L"RemotePort", VT_BSTR}, {L"Data", VT_VARIANT}};
// Interface is an optional VARIANT: a script that leaves it out passes one argument, and the
// dispatcher fills the missing one in as "not given".
constexpr DispParam kGroupParams[] = {{L"Group", VT_BSTR}, {L"Interface", VT_VARIANT}};

}  // namespace

// The tables are CUdpCtrlAccess's own members: their thunks may bind private members.
const DispEntry CUdpCtrlAccess::kDispatch[] = {
    // lifecycle and user texts
    Member(L"State", 1, VT_I2, UDP_MEMBER(m_state)),
    Member(L"UserData1", 2, VT_BSTR, UDP_MEMBER(m_userData1)),
    Member(L"UserData2", 3, VT_BSTR, UDP_MEMBER(m_userData2)),
    Member(L"UserData3", 4, VT_BSTR, UDP_MEMBER(m_userData3)),
    Member(L"UserData4", 5, VT_BSTR, UDP_MEMBER(m_userData4)),
    Member(L"UserData5", 6, VT_BSTR, UDP_MEMBER(m_userData5)),
    Member(L"UserFlag", 7, VT_BSTR, UDP_MEMBER(m_userFlag)),
    Member(L"LastError", 8, VT_I4, UDP_MEMBER(m_lastError)),

    // options
    Member(L"Broadcast", 9, VT_BOOL, UDP_MEMBER(m_broadcast), UDP_NOTIFY(OnBroadcastChanged)),
    Accessors(
        L"Rcvbuf", 21, VT_I4,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetRcvbuf()); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetRcvbuf(a.I4(0)); }),
    Accessors(
        L"Sndbuf", 22, VT_I4,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetSndbuf()); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetSndbuf(a.I4(0)); }),

    // the Inet trio
    Member(L"InetAddress", 10, VT_BSTR, UDP_MEMBER(m_inetAddress),
           UDP_NOTIFY(OnInetAddressChanged)),
    Member(L"InetIp", 11, VT_I4, UDP_MEMBER(m_inetIp), UDP_NOTIFY(OnInetIpChanged)),
    Member(L"InetName", 12, VT_BSTR, UDP_MEMBER(m_inetName), UDP_NOTIFY(OnInetNameChanged)),

    // the endpoint
    Accessors(L"Socket", 14, VT_I4,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetSocket()); }),
    Method(
        L"Open", 31, VT_EMPTY,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT*) { Ctrl(s)->Open(std::wstring(a.Text(0))); },
        kOpenParams),
    Method(L"Close", 32, VT_EMPTY,
           [](fw::COleControl* s, const fw::DispArgs&, VARIANT*) { Ctrl(s)->Close(); }),

    // sending and receiving
    Accessors(L"Sendable", 26, VT_BOOL,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultBool(r, Ctrl(s)->GetSendable()); }),
    Method(
        L"SendTo", 37, VT_EMPTY,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT*) {
          Ctrl(s)->SendTo(a.Text(0), a.Text(1), a.Variant(2));
        },
        kSendToParams),
    Accessors(
        L"AnyData", 41, VT_VARIANT, [](fw::COleControl* s, VARIANT* r) { Ctrl(s)->GetAnyData(r); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetAnyData(a.Variant(0)); }),

    // look-ups and the local endpoint
    Accessors(L"LocalIp", 27, VT_I4,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetLocalIp()); }),
    Accessors(L"LocalPort", 28, VT_I2,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultI2(r, Ctrl(s)->GetLocalPort()); }),
    Accessors(
        L"LocalAddress", 29, VT_BSTR,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetLocalAddress()); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetLocalAddress(std::wstring(a.Text(0))); }),
    Accessors(L"LocalHost", 30, VT_BSTR,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetLocalHost()); }),
    Method(
        L"HostIp", 40, VT_BSTR,
        [](fw::COleControl* s, const fw::DispArgs& a,
           VARIANT* r) { fw::ResultText(r, Ctrl(s)->HostIp(std::wstring(a.Text(0)))); },
        kHostIpParams),

    // byte order
    Method(
        L"htonl", 33, VT_VARIANT,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT* r) { Ctrl(s)->htonl(a.R8(0), r); },
        kHtonlParams),
    Method(
        L"htons", 34, VT_VARIANT,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT* r) { Ctrl(s)->htons(a.I4(0), r); },
        kHtonsParams),
    Method(
        L"ntohl", 35, VT_R8,
        [](fw::COleControl* s, const fw::DispArgs& a,
           VARIANT* r) { fw::ResultR8(r, Ctrl(s)->ntohl(a.Variant(0))); },
        kNtohParams),
    Method(
        L"ntohs", 36, VT_I4,
        [](fw::COleControl* s, const fw::DispArgs& a,
           VARIANT* r) { fw::ResultI4(r, Ctrl(s)->ntohs(a.Variant(0))); },
        kNtohParams),

    // information
    Accessors(L"Copyright", 13, VT_BSTR,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetCopyright()); }),
    Accessors(L"WinsockVer", 15, VT_BSTR,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetWinsockVer()); }),
    Accessors(L"WinsockDesc", 16, VT_BSTR,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetWinsockDesc()); }),
    Accessors(
        L"WinsockSysStat", 17, VT_BSTR,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetWinsockSysStat()); }),
    Accessors(
        L"WinsockMaxSockets", 18, VT_BSTR,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetWinsockMaxSockets()); }),
    Accessors(L"WinsockMaxDatagram", 19, VT_BSTR,
              [](fw::COleControl* s, VARIANT* r) {
                fw::ResultText(r, Ctrl(s)->GetWinsockMaxDatagram());
              }),
    Accessors(L"Version", 20, VT_I2,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultI2(r, Ctrl(s)->GetVersion()); }),

    // multicast and port sharing (extension members, 120 to 125)
    Method(
        L"JoinGroup", 120, VT_EMPTY,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT*) {
          Ctrl(s)->JoinGroup(a.Text(0), a.Variant(1));
        },
        kGroupParams),
    Method(
        L"LeaveGroup", 121, VT_EMPTY,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT*) {
          Ctrl(s)->LeaveGroup(a.Text(0), a.Variant(1));
        },
        kGroupParams),
    Accessors(
        L"MulticastTtl", 122, VT_I4,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetMulticastTtl()); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetMulticastTtl(a.I4(0)); }),
    Accessors(
        L"MulticastLoopback", 123, VT_BOOL,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultBool(r, Ctrl(s)->GetMulticastLoopback()); },
        [](fw::COleControl* s, const fw::DispArgs& a) {
          Ctrl(s)->SetMulticastLoopback(a.Bool(0));
        }),
    Accessors(
        L"MulticastInterface", 124, VT_BSTR,
        [](fw::COleControl* s, VARIANT* r) {
          fw::ResultText(r, Ctrl(s)->GetMulticastInterface());
        },
        [](fw::COleControl* s, const fw::DispArgs& a) {
          Ctrl(s)->SetMulticastInterface(a.Text(0));
        }),
    Accessors(
        L"ReuseAddress", 125, VT_BOOL,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultBool(r, Ctrl(s)->GetReuseAddress()); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetReuseAddress(a.Bool(0)); }),

    // about
    Method(L"AboutBox", DISPID_ABOUTBOX, VT_EMPTY,
           [](fw::COleControl* s, const fw::DispArgs&, VARIANT*) { Ctrl(s)->AboutBox(); }),
};

namespace {
constexpr DispParam kWsErrorParams[] = {{L"Ecode", VT_I4},
                                        {L"Description", VT_BSTR},
                                        {L"Where", VT_BSTR},
                                        {L"CancelClose", VT_BOOL | VT_BYREF}};
constexpr DispParam kReceivedParams[] = {
    {L"IpAddress", VT_BSTR}, {L"Port", VT_BSTR}, {L"Data", VT_VARIANT}};

}  // namespace

const fw::EventEntry CUdpCtrlAccess::kEvents[] = {
    {L"WsError", kEventWsError, kWsErrorParams},
    {L"Received", kEventReceived, kReceivedParams},
    {L"Closed", kEventClosed, {}},
    {L"Ready", kEventReady, {}},
    {L"Sent", kEventSent, {}},
};

#define UDP_HANDLER(fn) \
  [](fw::COleControl* s, WPARAM w, LPARAM l) -> LRESULT { return Ctrl(s)->fn(w, l); }
// A look-up completion reaches its handler only when the channel claims it as its own.
#define UDP_COMPLETION(channel, fn)                                                       \
  [](fw::COleControl* s, WPARAM task, LPARAM result) -> LRESULT {                         \
    if (auto completion = Ctrl(s)->channel.Claim(task, result)) Ctrl(s)->fn(*completion); \
    return 0;                                                                             \
  }

const fw::MessageMapEntry CUdpCtrlAccess::kMessages[] = {
    {kMsgSocketNotify, UDP_HANDLER(OnSocketNotify)},
    // look-up completions
    {kMsgGetHost, UDP_COMPLETION(m_hostLookup, OnAsyncGetHostByName)},
    {kMsgGetServ, UDP_COMPLETION(m_servLookup, OnAsyncGetServByName)},
    {kMsgGetLocalServ, UDP_COMPLETION(m_localServLookup, OnAsyncGetLocalServByName)},
    {kMsgGetInetHost, UDP_COMPLETION(m_inetLookup, OnAsyncGetInetHost)},
};

const std::span<const fw::DispEntry> kUdpDispatch = CUdpCtrlAccess::kDispatch;
const std::span<const fw::EventEntry> kUdpEvents = CUdpCtrlAccess::kEvents;
const std::span<const fw::MessageMapEntry> kUdpMessages = CUdpCtrlAccess::kMessages;

}  // namespace udp
