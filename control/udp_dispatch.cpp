// The automation surface the control and UdpSocket share, bound to the engine; the control's own
// member; the events of _DUdpEvents.
#include "control/endpoint_access.h"
#include "control/surface.h"
#include "control/udp_ctrl.h"

namespace udp {

namespace {

using Table = fw::DispTable<Endpoint>;

}  // namespace

// The table is EndpointAccess's own member: its thunks may bind private members.
const fw::DispEntry<Endpoint> EndpointAccess::kDispatch[] = {
    // lifecycle and user texts
    Table::Member<&Endpoint::m_state>(surface::State),
    Table::Member<&Endpoint::m_userData1>(surface::UserData1),
    Table::Member<&Endpoint::m_userData2>(surface::UserData2),
    Table::Member<&Endpoint::m_userData3>(surface::UserData3),
    Table::Member<&Endpoint::m_userData4>(surface::UserData4),
    Table::Member<&Endpoint::m_userData5>(surface::UserData5),
    Table::Member<&Endpoint::m_userFlag>(surface::UserFlag),
    Table::Member<&Endpoint::m_lastError>(surface::LastError),

    // options
    Table::Member<&Endpoint::m_broadcast, &Endpoint::OnBroadcastChanged>(surface::Broadcast),
    Table::Accessors(
        surface::Rcvbuf, [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetRcvbuf()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetRcvbuf(a.I4(0)); }),
    Table::Accessors(
        surface::Sndbuf, [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetSndbuf()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetSndbuf(a.I4(0)); }),

    // the Inet trio
    Table::Member<&Endpoint::m_inetAddress, &Endpoint::OnInetAddressChanged>(surface::InetAddress),
    Table::Member<&Endpoint::m_inetIp, &Endpoint::OnInetIpChanged>(surface::InetIp),
    Table::Member<&Endpoint::m_inetName, &Endpoint::OnInetNameChanged>(surface::InetName),

    // the endpoint
    Table::Accessors(surface::Socket,
                     [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetSocket()); }),
    Table::Method(surface::Open, [](Endpoint& c, const fw::DispArgs& a,
                                    VARIANT*) { c.Open(std::wstring(a.Text(0))); }),
    Table::Method(surface::Close, [](Endpoint& c, const fw::DispArgs&, VARIANT*) { c.Close(); }),

    // sending and receiving
    Table::Accessors(surface::Sendable,
                     [](Endpoint& c, VARIANT* r) { fw::ResultBool(r, c.GetSendable()); }),
    Table::Method(surface::SendTo, [](Endpoint& c, const fw::DispArgs& a,
                                      VARIANT*) { c.SendTo(a.Text(0), a.Text(1), a.Variant(2)); }),
    Table::Accessors(
        surface::AnyData, [](Endpoint& c, VARIANT* r) { c.GetAnyData(r); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetAnyData(a.Variant(0)); }),

    // look-ups and the local endpoint
    Table::Accessors(surface::LocalIp,
                     [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetLocalIp()); }),
    Table::Accessors(surface::LocalPort,
                     [](Endpoint& c, VARIANT* r) { fw::ResultI2(r, c.GetLocalPort()); }),
    Table::Accessors(
        surface::LocalAddress,
        [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetLocalAddress()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetLocalAddress(std::wstring(a.Text(0))); }),
    Table::Accessors(surface::LocalHost,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetLocalHost()); }),
    Table::Method(surface::HostIp,
                  [](Endpoint& c, const fw::DispArgs& a, VARIANT* r) {
                    fw::ResultText(r, c.HostIp(std::wstring(a.Text(0))));
                  }),

    // byte order
    Table::Method(surface::htonl,
                  [](Endpoint& c, const fw::DispArgs& a, VARIANT* r) { c.htonl(a.R8(0), r); }),
    Table::Method(surface::htons,
                  [](Endpoint& c, const fw::DispArgs& a, VARIANT* r) { c.htons(a.I4(0), r); }),
    Table::Method(surface::ntohl, [](Endpoint& c, const fw::DispArgs& a,
                                     VARIANT* r) { fw::ResultR8(r, c.ntohl(a.Variant(0))); }),
    Table::Method(surface::ntohs, [](Endpoint& c, const fw::DispArgs& a,
                                     VARIANT* r) { fw::ResultI4(r, c.ntohs(a.Variant(0))); }),

    // information
    Table::Accessors(surface::Copyright,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetCopyright()); }),
    Table::Accessors(surface::WinsockVer,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockVer()); }),
    Table::Accessors(surface::WinsockDesc,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockDesc()); }),
    Table::Accessors(surface::WinsockSysStat,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockSysStat()); }),
    Table::Accessors(surface::WinsockMaxSockets,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockMaxSockets()); }),
    Table::Accessors(surface::WinsockMaxDatagram,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockMaxDatagram()); }),
    Table::Accessors(surface::Version,
                     [](Endpoint& c, VARIANT* r) { fw::ResultI2(r, c.GetVersion()); }),

    // multicast and port sharing (extension members, 120 to 125)
    Table::Method(surface::JoinGroup, [](Endpoint& c, const fw::DispArgs& a,
                                         VARIANT*) { c.JoinGroup(a.Text(0), a.Variant(1)); }),
    Table::Method(surface::LeaveGroup, [](Endpoint& c, const fw::DispArgs& a,
                                          VARIANT*) { c.LeaveGroup(a.Text(0), a.Variant(1)); }),
    Table::Accessors(
        surface::MulticastTtl,
        [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetMulticastTtl()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetMulticastTtl(a.I4(0)); }),
    Table::Accessors(
        surface::MulticastLoopback,
        [](Endpoint& c, VARIANT* r) { fw::ResultBool(r, c.GetMulticastLoopback()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetMulticastLoopback(a.Bool(0)); }),
    Table::Accessors(
        surface::MulticastInterface,
        [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetMulticastInterface()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetMulticastInterface(a.Text(0)); }),
    Table::Accessors(
        surface::ReuseAddress,
        [](Endpoint& c, VARIANT* r) { fw::ResultBool(r, c.GetReuseAddress()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetReuseAddress(a.Bool(0)); }),

    // IPv6 and dual stack (extension members, 126 and 127)
    Table::Accessors(
        surface::Ipv6Only, [](Endpoint& c, VARIANT* r) { fw::ResultBool(r, c.GetIpv6Only()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetIpv6Only(a.Bool(0)); }),
    Table::Accessors(surface::AddressFamily,
                     [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetAddressFamily()); }),

    // multi-homed hosts (extension members, 128 to 131)
    Table::Accessors(surface::ToAddress,
                     [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetToAddress()); }),
    Table::Accessors(surface::ToInterface,
                     [](Endpoint& c, VARIANT* r) { fw::ResultI4(r, c.GetToInterface()); }),
    Table::Method(surface::BroadcastAll, [](Endpoint& c, const fw::DispArgs& a,
                                            VARIANT*) { c.BroadcastAll(a.Text(0), a.Variant(1)); }),
    Table::Accessors(
        surface::SourceAddress,
        [](Endpoint& c, VARIANT* r) { fw::ResultText(r, c.GetSourceAddress()); },
        [](Endpoint& c, const fw::DispArgs& a) { c.SetSourceAddress(a.Text(0)); }),
};

namespace {

// The events are the list's own: no thunk runs them.
const fw::EventEntry kEvents[] = {
#define UDP_EVENT(name, dispid, params) fw::Event(surface::name),
#include "typelib/udp_surface.h"
};

// The control's own member, which UdpSocket has not: the About box needs a form.
const fw::DispEntry<CUdpCtrl> kControlOnly[] = {
    fw::DispTable<CUdpCtrl>::Method(
        surface::AboutBox, [](CUdpCtrl& c, const fw::DispArgs&, VARIANT*) { c.AboutBox(); }),
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
