// The control's automation surface, its events and its window messages, as plain tables.
#include "control/surface.h"
#include "control/udp_ctrl_access.h"

namespace udp {

namespace {

using Table = fw::DispTable<CUdpCtrl>;

}  // namespace

// The tables are CUdpCtrlAccess's own members: their thunks may bind private members.
const fw::DispEntry<CUdpCtrl> CUdpCtrlAccess::kDispatch[] = {
    // lifecycle and user texts
    Table::Member<&CUdpCtrl::m_state>(surface::State),
    Table::Member<&CUdpCtrl::m_userData1>(surface::UserData1),
    Table::Member<&CUdpCtrl::m_userData2>(surface::UserData2),
    Table::Member<&CUdpCtrl::m_userData3>(surface::UserData3),
    Table::Member<&CUdpCtrl::m_userData4>(surface::UserData4),
    Table::Member<&CUdpCtrl::m_userData5>(surface::UserData5),
    Table::Member<&CUdpCtrl::m_userFlag>(surface::UserFlag),
    Table::Member<&CUdpCtrl::m_lastError>(surface::LastError),

    // options
    Table::Member<&CUdpCtrl::m_broadcast, &CUdpCtrl::OnBroadcastChanged>(surface::Broadcast),
    Table::Accessors(
        surface::Rcvbuf, [](CUdpCtrl& c, VARIANT* r) { fw::ResultI4(r, c.GetRcvbuf()); },
        [](CUdpCtrl& c, const fw::DispArgs& a) { c.SetRcvbuf(a.I4(0)); }),
    Table::Accessors(
        surface::Sndbuf, [](CUdpCtrl& c, VARIANT* r) { fw::ResultI4(r, c.GetSndbuf()); },
        [](CUdpCtrl& c, const fw::DispArgs& a) { c.SetSndbuf(a.I4(0)); }),

    // the Inet trio
    Table::Member<&CUdpCtrl::m_inetAddress, &CUdpCtrl::OnInetAddressChanged>(surface::InetAddress),
    Table::Member<&CUdpCtrl::m_inetIp, &CUdpCtrl::OnInetIpChanged>(surface::InetIp),
    Table::Member<&CUdpCtrl::m_inetName, &CUdpCtrl::OnInetNameChanged>(surface::InetName),

    // the endpoint
    Table::Accessors(surface::Socket,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultI4(r, c.GetSocket()); }),
    Table::Method(surface::Open, [](CUdpCtrl& c, const fw::DispArgs& a,
                                    VARIANT*) { c.Open(std::wstring(a.Text(0))); }),
    Table::Method(surface::Close, [](CUdpCtrl& c, const fw::DispArgs&, VARIANT*) { c.Close(); }),

    // sending and receiving
    Table::Accessors(surface::Sendable,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultBool(r, c.GetSendable()); }),
    Table::Method(surface::SendTo, [](CUdpCtrl& c, const fw::DispArgs& a,
                                      VARIANT*) { c.SendTo(a.Text(0), a.Text(1), a.Variant(2)); }),
    Table::Accessors(
        surface::AnyData, [](CUdpCtrl& c, VARIANT* r) { c.GetAnyData(r); },
        [](CUdpCtrl& c, const fw::DispArgs& a) { c.SetAnyData(a.Variant(0)); }),

    // look-ups and the local endpoint
    Table::Accessors(surface::LocalIp,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultI4(r, c.GetLocalIp()); }),
    Table::Accessors(surface::LocalPort,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultI2(r, c.GetLocalPort()); }),
    Table::Accessors(
        surface::LocalAddress,
        [](CUdpCtrl& c, VARIANT* r) { fw::ResultText(r, c.GetLocalAddress()); },
        [](CUdpCtrl& c, const fw::DispArgs& a) { c.SetLocalAddress(std::wstring(a.Text(0))); }),
    Table::Accessors(surface::LocalHost,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultText(r, c.GetLocalHost()); }),
    Table::Method(surface::HostIp,
                  [](CUdpCtrl& c, const fw::DispArgs& a, VARIANT* r) {
                    fw::ResultText(r, c.HostIp(std::wstring(a.Text(0))));
                  }),

    // byte order
    Table::Method(surface::htonl,
                  [](CUdpCtrl& c, const fw::DispArgs& a, VARIANT* r) { c.htonl(a.R8(0), r); }),
    Table::Method(surface::htons,
                  [](CUdpCtrl& c, const fw::DispArgs& a, VARIANT* r) { c.htons(a.I4(0), r); }),
    Table::Method(surface::ntohl, [](CUdpCtrl& c, const fw::DispArgs& a,
                                     VARIANT* r) { fw::ResultR8(r, c.ntohl(a.Variant(0))); }),
    Table::Method(surface::ntohs, [](CUdpCtrl& c, const fw::DispArgs& a,
                                     VARIANT* r) { fw::ResultI4(r, c.ntohs(a.Variant(0))); }),

    // information
    Table::Accessors(surface::Copyright,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultText(r, c.GetCopyright()); }),
    Table::Accessors(surface::WinsockVer,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockVer()); }),
    Table::Accessors(surface::WinsockDesc,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockDesc()); }),
    Table::Accessors(surface::WinsockSysStat,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockSysStat()); }),
    Table::Accessors(surface::WinsockMaxSockets,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockMaxSockets()); }),
    Table::Accessors(surface::WinsockMaxDatagram,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultText(r, c.GetWinsockMaxDatagram()); }),
    Table::Accessors(surface::Version,
                     [](CUdpCtrl& c, VARIANT* r) { fw::ResultI2(r, c.GetVersion()); }),

    // multicast and port sharing (extension members, 120 to 125)
    Table::Method(surface::JoinGroup, [](CUdpCtrl& c, const fw::DispArgs& a,
                                         VARIANT*) { c.JoinGroup(a.Text(0), a.Variant(1)); }),
    Table::Method(surface::LeaveGroup, [](CUdpCtrl& c, const fw::DispArgs& a,
                                          VARIANT*) { c.LeaveGroup(a.Text(0), a.Variant(1)); }),
    Table::Accessors(
        surface::MulticastTtl,
        [](CUdpCtrl& c, VARIANT* r) { fw::ResultI4(r, c.GetMulticastTtl()); },
        [](CUdpCtrl& c, const fw::DispArgs& a) { c.SetMulticastTtl(a.I4(0)); }),
    Table::Accessors(
        surface::MulticastLoopback,
        [](CUdpCtrl& c, VARIANT* r) { fw::ResultBool(r, c.GetMulticastLoopback()); },
        [](CUdpCtrl& c, const fw::DispArgs& a) { c.SetMulticastLoopback(a.Bool(0)); }),
    Table::Accessors(
        surface::MulticastInterface,
        [](CUdpCtrl& c, VARIANT* r) { fw::ResultText(r, c.GetMulticastInterface()); },
        [](CUdpCtrl& c, const fw::DispArgs& a) { c.SetMulticastInterface(a.Text(0)); }),
    Table::Accessors(
        surface::ReuseAddress,
        [](CUdpCtrl& c, VARIANT* r) { fw::ResultBool(r, c.GetReuseAddress()); },
        [](CUdpCtrl& c, const fw::DispArgs& a) { c.SetReuseAddress(a.Bool(0)); }),

    // about
    Table::Method(surface::AboutBox,
                  [](CUdpCtrl& c, const fw::DispArgs&, VARIANT*) { c.AboutBox(); }),
};

// The events are the list's own: no thunk runs them.
const fw::EventEntry CUdpCtrlAccess::kEvents[] = {
#define UDP_EVENT(name, dispid, params) fw::Event(surface::name),
#include "typelib/udp_surface.h"
};

#define UDP_HANDLER(fn) [](CUdpCtrl& c, WPARAM w, LPARAM l) -> LRESULT { return c.fn(w, l); }
// A look-up completion reaches its handler only when the channel claims it as its own.
#define UDP_COMPLETION(channel, fn)                                         \
  [](CUdpCtrl& c, WPARAM task, LPARAM result) -> LRESULT {                  \
    if (auto completion = c.channel.Claim(task, result)) c.fn(*completion); \
    return 0;                                                               \
  }

const fw::MessageMapEntry<CUdpCtrl> CUdpCtrlAccess::kMessages[] = {
    {kMsgSocketNotify, UDP_HANDLER(OnSocketNotify)},
    // look-up completions
    {kMsgGetHost, UDP_COMPLETION(m_hostLookup, OnAsyncGetHostByName)},
    {kMsgGetServ, UDP_COMPLETION(m_servLookup, OnAsyncGetServByName)},
    {kMsgGetLocalServ, UDP_COMPLETION(m_localServLookup, OnAsyncGetLocalServByName)},
    {kMsgGetInetHost, UDP_COMPLETION(m_inetLookup, OnAsyncGetInetHost)},
};

const std::span<const fw::DispEntry<CUdpCtrl>> kUdpDispatch = CUdpCtrlAccess::kDispatch;
const std::span<const fw::EventEntry> kUdpEvents = CUdpCtrlAccess::kEvents;

const fw::Dispatcher<CUdpCtrl>& UdpDispatcher() {
  static const fw::Dispatcher<CUdpCtrl> dispatcher(kUdpDispatch);
  return dispatcher;
}

DISPID CUdpCtrl::MemberId(const wchar_t* name) const {
  const auto* entry = UdpDispatcher().Find(name);
  return entry ? entry->dispid : DISPID_UNKNOWN;
}

HRESULT CUdpCtrl::InvokeMember(DISPID id, REFIID iid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  return UdpDispatcher().Invoke(*this, IsInitialised(), id, iid, flags, params, result, excepInfo,
                                argErr, ClassInfo().userTypeName);
}

bool CUdpCtrl::OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  return fw::RunMessageHandler<CUdpCtrl>(CUdpCtrlAccess::kMessages, *this, message, wParam, lParam,
                                         result);
}

}  // namespace udp
