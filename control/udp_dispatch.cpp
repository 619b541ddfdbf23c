// The control's automation surface, its events and its window messages, as plain tables.
#include "control/udp_ctrl_access.h"
#include "typelib/udp_dispids.h"

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
    Member(L"State", UDP_DISPID(State), VT_I2, UDP_MEMBER(m_state)),
    Member(L"UserData1", UDP_DISPID(UserData1), VT_BSTR, UDP_MEMBER(m_userData1)),
    Member(L"UserData2", UDP_DISPID(UserData2), VT_BSTR, UDP_MEMBER(m_userData2)),
    Member(L"UserData3", UDP_DISPID(UserData3), VT_BSTR, UDP_MEMBER(m_userData3)),
    Member(L"UserData4", UDP_DISPID(UserData4), VT_BSTR, UDP_MEMBER(m_userData4)),
    Member(L"UserData5", UDP_DISPID(UserData5), VT_BSTR, UDP_MEMBER(m_userData5)),
    Member(L"UserFlag", UDP_DISPID(UserFlag), VT_BSTR, UDP_MEMBER(m_userFlag)),
    Member(L"LastError", UDP_DISPID(LastError), VT_I4, UDP_MEMBER(m_lastError)),

    // options
    Member(L"Broadcast", UDP_DISPID(Broadcast), VT_BOOL, UDP_MEMBER(m_broadcast), UDP_NOTIFY(OnBroadcastChanged)),
    Accessors(
        L"Rcvbuf", UDP_DISPID(Rcvbuf), VT_I4,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetRcvbuf()); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetRcvbuf(a.I4(0)); }),
    Accessors(
        L"Sndbuf", UDP_DISPID(Sndbuf), VT_I4,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetSndbuf()); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetSndbuf(a.I4(0)); }),

    // the Inet trio
    Member(L"InetAddress", UDP_DISPID(InetAddress), VT_BSTR, UDP_MEMBER(m_inetAddress),
           UDP_NOTIFY(OnInetAddressChanged)),
    Member(L"InetIp", UDP_DISPID(InetIp), VT_I4, UDP_MEMBER(m_inetIp), UDP_NOTIFY(OnInetIpChanged)),
    Member(L"InetName", UDP_DISPID(InetName), VT_BSTR, UDP_MEMBER(m_inetName), UDP_NOTIFY(OnInetNameChanged)),

    // the endpoint
    Accessors(L"Socket", UDP_DISPID(Socket), VT_I4,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetSocket()); }),
    Method(
        L"Open", UDP_DISPID(Open), VT_EMPTY,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT*) { Ctrl(s)->Open(std::wstring(a.Text(0))); },
        kOpenParams),
    Method(L"Close", UDP_DISPID(Close), VT_EMPTY,
           [](fw::COleControl* s, const fw::DispArgs&, VARIANT*) { Ctrl(s)->Close(); }),

    // sending and receiving
    Accessors(L"Sendable", UDP_DISPID(Sendable), VT_BOOL,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultBool(r, Ctrl(s)->GetSendable()); }),
    Method(
        L"SendTo", UDP_DISPID(SendTo), VT_EMPTY,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT*) {
          Ctrl(s)->SendTo(a.Text(0), a.Text(1), a.Variant(2));
        },
        kSendToParams),
    Accessors(
        L"AnyData", UDP_DISPID(AnyData), VT_VARIANT, [](fw::COleControl* s, VARIANT* r) { Ctrl(s)->GetAnyData(r); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetAnyData(a.Variant(0)); }),

    // look-ups and the local endpoint
    Accessors(L"LocalIp", UDP_DISPID(LocalIp), VT_I4,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetLocalIp()); }),
    Accessors(L"LocalPort", UDP_DISPID(LocalPort), VT_I2,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultI2(r, Ctrl(s)->GetLocalPort()); }),
    Accessors(
        L"LocalAddress", UDP_DISPID(LocalAddress), VT_BSTR,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetLocalAddress()); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetLocalAddress(std::wstring(a.Text(0))); }),
    Accessors(L"LocalHost", UDP_DISPID(LocalHost), VT_BSTR,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetLocalHost()); }),
    Method(
        L"HostIp", UDP_DISPID(HostIp), VT_BSTR,
        [](fw::COleControl* s, const fw::DispArgs& a,
           VARIANT* r) { fw::ResultText(r, Ctrl(s)->HostIp(std::wstring(a.Text(0)))); },
        kHostIpParams),

    // byte order
    Method(
        L"htonl", UDP_DISPID(htonl), VT_VARIANT,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT* r) { Ctrl(s)->htonl(a.R8(0), r); },
        kHtonlParams),
    Method(
        L"htons", UDP_DISPID(htons), VT_VARIANT,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT* r) { Ctrl(s)->htons(a.I4(0), r); },
        kHtonsParams),
    Method(
        L"ntohl", UDP_DISPID(ntohl), VT_R8,
        [](fw::COleControl* s, const fw::DispArgs& a,
           VARIANT* r) { fw::ResultR8(r, Ctrl(s)->ntohl(a.Variant(0))); },
        kNtohParams),
    Method(
        L"ntohs", UDP_DISPID(ntohs), VT_I4,
        [](fw::COleControl* s, const fw::DispArgs& a,
           VARIANT* r) { fw::ResultI4(r, Ctrl(s)->ntohs(a.Variant(0))); },
        kNtohParams),

    // information
    Accessors(L"Copyright", UDP_DISPID(Copyright), VT_BSTR,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetCopyright()); }),
    Accessors(L"WinsockVer", UDP_DISPID(WinsockVer), VT_BSTR,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetWinsockVer()); }),
    Accessors(L"WinsockDesc", UDP_DISPID(WinsockDesc), VT_BSTR,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetWinsockDesc()); }),
    Accessors(
        L"WinsockSysStat", UDP_DISPID(WinsockSysStat), VT_BSTR,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetWinsockSysStat()); }),
    Accessors(
        L"WinsockMaxSockets", UDP_DISPID(WinsockMaxSockets), VT_BSTR,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultText(r, Ctrl(s)->GetWinsockMaxSockets()); }),
    Accessors(L"WinsockMaxDatagram", UDP_DISPID(WinsockMaxDatagram), VT_BSTR,
              [](fw::COleControl* s, VARIANT* r) {
                fw::ResultText(r, Ctrl(s)->GetWinsockMaxDatagram());
              }),
    Accessors(L"Version", UDP_DISPID(Version), VT_I2,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultI2(r, Ctrl(s)->GetVersion()); }),

    // multicast and port sharing (extension members, 120 to 125)
    Method(
        L"JoinGroup", UDP_DISPID(JoinGroup), VT_EMPTY,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT*) {
          Ctrl(s)->JoinGroup(a.Text(0), a.Variant(1));
        },
        kGroupParams),
    Method(
        L"LeaveGroup", UDP_DISPID(LeaveGroup), VT_EMPTY,
        [](fw::COleControl* s, const fw::DispArgs& a, VARIANT*) {
          Ctrl(s)->LeaveGroup(a.Text(0), a.Variant(1));
        },
        kGroupParams),
    Accessors(
        L"MulticastTtl", UDP_DISPID(MulticastTtl), VT_I4,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetMulticastTtl()); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetMulticastTtl(a.I4(0)); }),
    Accessors(
        L"MulticastLoopback", UDP_DISPID(MulticastLoopback), VT_BOOL,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultBool(r, Ctrl(s)->GetMulticastLoopback()); },
        [](fw::COleControl* s, const fw::DispArgs& a) {
          Ctrl(s)->SetMulticastLoopback(a.Bool(0));
        }),
    Accessors(
        L"MulticastInterface", UDP_DISPID(MulticastInterface), VT_BSTR,
        [](fw::COleControl* s, VARIANT* r) {
          fw::ResultText(r, Ctrl(s)->GetMulticastInterface());
        },
        [](fw::COleControl* s, const fw::DispArgs& a) {
          Ctrl(s)->SetMulticastInterface(a.Text(0));
        }),
    Accessors(
        L"ReuseAddress", UDP_DISPID(ReuseAddress), VT_BOOL,
        [](fw::COleControl* s, VARIANT* r) { fw::ResultBool(r, Ctrl(s)->GetReuseAddress()); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetReuseAddress(a.Bool(0)); }),

    // about
    Method(L"AboutBox", UDP_DISPID(AboutBox), VT_EMPTY,
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
