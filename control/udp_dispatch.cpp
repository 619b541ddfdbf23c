// The automation surface the control and UdpSocket share, bound to the engine; the control's own
// member; the events of _DUdpEvents.
#include "control/endpoint_access.h"
#include "control/udp_ctrl.h"
#include "typelib/udp_dispids.h"

namespace udp {

namespace {

using fw::DispParam;

using Table = fw::DispTable<Endpoint>;

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

// The table is EndpointAccess's own member: its thunks may bind private members.
const fw::DispEntry<Endpoint> EndpointAccess::kDispatch[] = {
    // lifecycle and user texts
    Table::Member<&Endpoint::m_state>(L"State", UDP_DISPID(State)),
    Table::Member<&Endpoint::m_userData1>(L"UserData1", UDP_DISPID(UserData1)),
    Table::Member<&Endpoint::m_userData2>(L"UserData2", UDP_DISPID(UserData2)),
    Table::Member<&Endpoint::m_userData3>(L"UserData3", UDP_DISPID(UserData3)),
    Table::Member<&Endpoint::m_userData4>(L"UserData4", UDP_DISPID(UserData4)),
    Table::Member<&Endpoint::m_userData5>(L"UserData5", UDP_DISPID(UserData5)),
    Table::Member<&Endpoint::m_userFlag>(L"UserFlag", UDP_DISPID(UserFlag)),
    Table::Member<&Endpoint::m_lastError>(L"LastError", UDP_DISPID(LastError)),

    // options
    Table::Member<&Endpoint::m_broadcast, &Endpoint::OnBroadcastChanged>(L"Broadcast",
                                                                         UDP_DISPID(Broadcast)),
    Table::Accessors(
        L"Rcvbuf", UDP_DISPID(Rcvbuf), VT_I4,
        [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetRcvbuf()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetRcvbuf(a.I4(0)); }),
    Table::Accessors(
        L"Sndbuf", UDP_DISPID(Sndbuf), VT_I4,
        [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetSndbuf()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetSndbuf(a.I4(0)); }),

    // the Inet trio
    Table::Member<&Endpoint::m_inetAddress, &Endpoint::OnInetAddressChanged>(
        L"InetAddress", UDP_DISPID(InetAddress)),
    Table::Member<&Endpoint::m_inetIp, &Endpoint::OnInetIpChanged>(L"InetIp", UDP_DISPID(InetIp)),
    Table::Member<&Endpoint::m_inetName, &Endpoint::OnInetNameChanged>(L"InetName",
                                                                       UDP_DISPID(InetName)),

    // the endpoint
    Table::Accessors(L"Socket", UDP_DISPID(Socket), VT_I4,
                     [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetSocket()); }),
    Table::Method(
        L"Open", UDP_DISPID(Open), VT_EMPTY,
        [](Endpoint& c, const fw::DispArgs& a, VARIANT*) { c.Open(std::wstring(a.Text(0))); },
        kOpenParams),
    Table::Method(L"Close", UDP_DISPID(Close), VT_EMPTY,
                  [](Endpoint& c, const fw::DispArgs&, VARIANT*) { c.Close(); }),

    // sending and receiving
    Table::Accessors(L"Sendable", UDP_DISPID(Sendable), VT_BOOL,
                     [](Endpoint& c, VARIANT* r) { fw::ResultBool(r, c.GetSendable()); }),
    Table::Method(
        L"SendTo", UDP_DISPID(SendTo), VT_EMPTY,
        [](Endpoint& c, const fw::DispArgs& a,
           VARIANT*) { c.SendTo(a.Text(0), a.Text(1), a.Variant(2)); },
        kSendToParams),
    Table::Accessors(
        L"AnyData", UDP_DISPID(AnyData), VT_VARIANT,
        [](Endpoint& c, VARIANT* r) { c.GetAnyData(r); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetAnyData(a.Variant(0)); }),

    // look-ups and the local endpoint
    Table::Accessors(L"LocalIp", UDP_DISPID(LocalIp), VT_I4,
                     [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetLocalIp()); }),
    Table::Accessors(L"LocalPort", UDP_DISPID(LocalPort), VT_I2,
                     [](Endpoint& c, VARIANT* r) { fw::ResultI2(r, c.GetLocalPort()); }),
    Table::Accessors(
        L"LocalAddress", UDP_DISPID(LocalAddress), VT_BSTR,
        [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetLocalAddress()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetLocalAddress(std::wstring(a.Text(0))); }),
    Table::Accessors(L"LocalHost", UDP_DISPID(LocalHost), VT_BSTR,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetLocalHost()); }),
    Table::Method(
        L"HostIp", UDP_DISPID(HostIp), VT_BSTR,
        [](Endpoint& c, const fw::DispArgs& a,
           VARIANT* r) { fw::ResultText(r, c.HostIp(std::wstring(a.Text(0)))); },
        kHostIpParams),

    // byte order
    Table::Method(
        L"htonl", UDP_DISPID(htonl), VT_VARIANT,
        [](Endpoint& c, const fw::DispArgs& a, VARIANT* r) { c.htonl(a.R8(0), r); }, kHtonlParams),
    Table::Method(
        L"htons", UDP_DISPID(htons), VT_VARIANT,
        [](Endpoint& c, const fw::DispArgs& a, VARIANT* r) { c.htons(a.I4(0), r); }, kHtonsParams),
    Table::Method(
        L"ntohl", UDP_DISPID(ntohl), VT_R8,
        [](Endpoint& c, const fw::DispArgs& a,
           VARIANT* r) { fw::ResultR8(r, c.ntohl(a.Variant(0))); },
        kNtohParams),
    Table::Method(
        L"ntohs", UDP_DISPID(ntohs), VT_I4,
        [](Endpoint& c, const fw::DispArgs& a,
           VARIANT* r) { fw::ResultI4(r, c.ntohs(a.Variant(0))); },
        kNtohParams),

    // information
    Table::Accessors(L"Copyright", UDP_DISPID(Copyright), VT_BSTR,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetCopyright()); }),
    Table::Accessors(L"WinsockVer", UDP_DISPID(WinsockVer), VT_BSTR,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockVer()); }),
    Table::Accessors(L"WinsockDesc", UDP_DISPID(WinsockDesc), VT_BSTR,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockDesc()); }),
    Table::Accessors(L"WinsockSysStat", UDP_DISPID(WinsockSysStat), VT_BSTR,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockSysStat()); }),
    Table::Accessors(L"WinsockMaxSockets", UDP_DISPID(WinsockMaxSockets), VT_BSTR,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockMaxSockets()); }),
    Table::Accessors(L"WinsockMaxDatagram", UDP_DISPID(WinsockMaxDatagram), VT_BSTR,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockMaxDatagram()); }),
    Table::Accessors(L"Version", UDP_DISPID(Version), VT_I2,
                     [](Endpoint& c, VARIANT* r) { fw::ResultI2(r, c.GetVersion()); }),

    // multicast and port sharing (extension members, 120 to 125)
    Table::Method(
        L"JoinGroup", UDP_DISPID(JoinGroup), VT_EMPTY,
        [](Endpoint& c, const fw::DispArgs& a, VARIANT*) { c.JoinGroup(a.Text(0), a.Variant(1)); },
        kGroupParams),
    Table::Method(
        L"LeaveGroup", UDP_DISPID(LeaveGroup), VT_EMPTY,
        [](Endpoint& c, const fw::DispArgs& a, VARIANT*) { c.LeaveGroup(a.Text(0), a.Variant(1)); },
        kGroupParams),
    Table::Accessors(
        L"MulticastTtl", UDP_DISPID(MulticastTtl), VT_I4,
        [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetMulticastTtl()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetMulticastTtl(a.I4(0)); }),
    Table::Accessors(
        L"MulticastLoopback", UDP_DISPID(MulticastLoopback), VT_BOOL,
        [](Endpoint& c, VARIANT* r) { fw::ResultBool(r, c.GetMulticastLoopback()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetMulticastLoopback(a.Bool(0)); }),
    Table::Accessors(
        L"MulticastInterface", UDP_DISPID(MulticastInterface), VT_BSTR,
        [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetMulticastInterface()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetMulticastInterface(a.Text(0)); }),
    Table::Accessors(
        L"ReuseAddress", UDP_DISPID(ReuseAddress), VT_BOOL,
        [](Endpoint& c, VARIANT* r) { fw::ResultBool(r, c.GetReuseAddress()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetReuseAddress(a.Bool(0)); }),
};

namespace {
constexpr DispParam kWsErrorParams[] = {{L"Ecode", VT_I4},
                                        {L"Description", VT_BSTR},
                                        {L"Where", VT_BSTR},
                                        {L"CancelClose", VT_BOOL | VT_BYREF}};
constexpr DispParam kReceivedParams[] = {
    {L"IpAddress", VT_BSTR}, {L"Port", VT_BSTR}, {L"Data", VT_VARIANT}};

const fw::EventEntry kEvents[] = {
    {L"WsError", kEventWsError, kWsErrorParams},
    {L"Received", kEventReceived, kReceivedParams},
    {L"Closed", kEventClosed, {}},
    {L"Ready", kEventReady, {}},
    {L"Sent", kEventSent, {}},
};

// The control's own member, which UdpSocket has not: the About box needs a form.
const fw::DispEntry<CUdpCtrl> kControlOnly[] = {
    fw::DispTable<CUdpCtrl>::Method(
        L"AboutBox", UDP_DISPID(AboutBox), VT_EMPTY,
        [](CUdpCtrl& c, const fw::DispArgs&, VARIANT*) { c.AboutBox(); }),
};

const fw::Dispatcher<CUdpCtrl>& ControlOnlyMembers() {
  static const fw::Dispatcher<CUdpCtrl> dispatcher(kControlOnly);
  return dispatcher;
}

}  // namespace

const std::span<const fw::DispEntry<CUdpCtrl>> kUdpControlOwnDispatch = kControlOnly;

const std::span<const fw::DispEntry<Endpoint>> kUdpDispatch = EndpointAccess::kDispatch;
const std::span<const fw::EventEntry> kUdpEvents = kEvents;

const fw::Dispatcher<Endpoint>& UdpDispatcher() {
  static const fw::Dispatcher<Endpoint> dispatcher(kUdpDispatch);
  return dispatcher;
}

DISPID CUdpCtrl::MemberId(const wchar_t* name) const {
  if (const auto* own = ControlOnlyMembers().Find(name)) return own->dispid;
  const auto* entry = UdpDispatcher().Find(name);
  return entry ? entry->dispid : DISPID_UNKNOWN;
}

HRESULT CUdpCtrl::InvokeMember(DISPID id, REFIID iid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  if (ControlOnlyMembers().Find(id))
    return ControlOnlyMembers().Invoke(*this, IsInitialised(), id, iid, flags, params, result,
                                       excepInfo, argErr, ClassInfo().userTypeName);
  return UdpDispatcher().Invoke(m_endpoint, IsInitialised(), id, iid, flags, params, result,
                                excepInfo, argErr, ClassInfo().userTypeName);
}

// The endpoint's messages come to the control's window.
bool CUdpCtrl::OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  return m_endpoint.OnMessage(message, wParam, lParam, result);
}

}  // namespace udp
