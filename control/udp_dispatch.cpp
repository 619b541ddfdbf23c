// The control's automation surface, its events and its window messages, as plain tables.
#include "control/udp_ctrl.h"

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
  return {name, id, DispBinding::Member, type, false, member, notify, nullptr, nullptr, nullptr, {}};
}
// A property with accessors; read-only without a put accessor.
constexpr DispEntry Accessors(const wchar_t* name, DISPID id, VARTYPE type, fw::DispGetFn get,
                              fw::DispPutFn put = nullptr) {
  return {name, id, DispBinding::Accessors, type, put == nullptr, nullptr, nullptr, get, put,
          nullptr, {}};
}
constexpr DispEntry Method(const wchar_t* name, DISPID id, VARTYPE result, fw::DispCallFn call,
                           std::span<const DispParam> params = {}) {
  return {name, id, DispBinding::Method, result, false, nullptr, nullptr, nullptr, nullptr, call,
          params};
}

constexpr DispParam kOpenParams[] = {{L"LocalPort", VT_BSTR}};
constexpr DispParam kSendToParams[] = {
    {L"RemoteIp", VT_BSTR}, {L"RemotePort", VT_BSTR}, {L"Data", VT_VARIANT}};

const DispEntry kEntries[] = {
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
    Member(L"Broadcast", 9, VT_BOOL, UDP_MEMBER(m_broadcast)),

    // the Inet trio
    Member(L"InetAddress", 10, VT_BSTR, UDP_MEMBER(m_inetAddress)),
    Member(L"InetIp", 11, VT_I4, UDP_MEMBER(m_inetIp)),
    Member(L"InetName", 12, VT_BSTR, UDP_MEMBER(m_inetName)),

    // the endpoint
    Accessors(L"Socket", 14, VT_I4,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultI4(r, Ctrl(s)->GetSocket()); }),
    Method(L"Open", 31, VT_EMPTY,
           [](fw::COleControl* s, const fw::DispArgs& a, VARIANT*) { Ctrl(s)->Open(a.Text(0)); },
           kOpenParams),
    Method(L"Close", 32, VT_EMPTY,
           [](fw::COleControl* s, const fw::DispArgs&, VARIANT*) { Ctrl(s)->Close(); }),

    // sending and receiving
    Accessors(L"Sendable", 26, VT_BOOL,
              [](fw::COleControl* s, VARIANT* r) { fw::ResultBool(r, Ctrl(s)->GetSendable()); }),
    Method(L"SendTo", 37, VT_EMPTY,
           [](fw::COleControl* s, const fw::DispArgs& a, VARIANT*) {
             Ctrl(s)->SendTo(a.Text(0), a.Text(1), a.Variant(2));
           },
           kSendToParams),
    Accessors(
        L"AnyData", 41, VT_VARIANT, [](fw::COleControl* s, VARIANT* r) { Ctrl(s)->GetAnyData(r); },
        [](fw::COleControl* s, const fw::DispArgs& a) { Ctrl(s)->SetAnyData(a.Variant(0)); }),

    // look-ups and the local endpoint

    // byte order

    // information

    // about
    Method(L"AboutBox", DISPID_ABOUTBOX, VT_EMPTY,
           [](fw::COleControl* s, const fw::DispArgs&, VARIANT*) { Ctrl(s)->AboutBox(); }),
};

constexpr DispParam kWsErrorParams[] = {{L"Ecode", VT_I4},
                                        {L"Description", VT_BSTR},
                                        {L"Where", VT_BSTR},
                                        {L"CancelClose", VT_BOOL | VT_BYREF}};
constexpr DispParam kReceivedParams[] = {
    {L"IpAddress", VT_BSTR}, {L"Port", VT_BSTR}, {L"Data", VT_VARIANT}};

const fw::EventEntry kEventEntries[] = {
    {L"WsError", kEventWsError, kWsErrorParams},
    {L"Received", kEventReceived, kReceivedParams},
    {L"Closed", kEventClosed, {}},
    {L"Ready", kEventReady, {}},
    {L"Sent", kEventSent, {}},
};

#define UDP_HANDLER(fn) \
  [](fw::COleControl* s, WPARAM w, LPARAM l) -> LRESULT { return Ctrl(s)->fn(w, l); }

const fw::MessageMapEntry kMessageEntries[] = {
    {kMsgSocketNotify, UDP_HANDLER(OnSocketNotify)},
};

}  // namespace

const std::span<const fw::DispEntry> kUdpDispatch = kEntries;
const std::span<const fw::EventEntry> kUdpEvents = kEventEntries;
const std::span<const fw::MessageMapEntry> kUdpMessages = kMessageEntries;

}  // namespace udp
