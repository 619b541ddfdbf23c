// The type library and the dispatcher's tables describe one surface: same names, DISPIDs, kinds,
// parameter names and types, with the few places where the dispatcher deliberately takes or
// gives another type than the library declares.
#include <gtest/gtest.h>
#include <olectl.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "control/udp_ctrl.h"
#include "support/trace.h"
#include "support/typelib.h"
#include "support/udp_test.h"
#include "typelib/udp_guids.h"

namespace {

enum class Kind { Property, Method };
// How the dispatcher reaches a property: a member it reads and writes, the same with a
// notification after each write, or accessors. Unused for methods and in the library.
enum class Binding { None, Member, MemberNotified, Accessors };

struct Param {
  std::wstring name;
  VARTYPE type;
  bool operator==(const Param&) const = default;
};

struct Member {
  DISPID id = 0;
  Kind kind = Kind::Property;
  VARTYPE type = VT_EMPTY;  // a property's type, a method's result
  std::vector<Param> params;
  bool readOnly = false;  // the dispatcher's access; the library marks nothing read-only
  Binding binding = Binding::None;
};

using Surface = std::map<std::wstring, Member>;

// The surface as it must be, in the dispatcher's types.
Surface ExpectedDispatch() {
  Surface s;
  auto prop = [&](const wchar_t* name, DISPID id, VARTYPE type, bool readOnly,
                  Binding binding = Binding::Accessors) {
    s[name] = {id, Kind::Property, type, {}, readOnly, binding};
  };
  const Binding member = Binding::Member, notified = Binding::MemberNotified;
  auto method = [&](const wchar_t* name, DISPID id, VARTYPE result, std::vector<Param> params) {
    s[name] = {id, Kind::Method, result, std::move(params), false};
  };
  prop(L"State", UDP_DISPID(State), VT_I2, false, member);
  prop(L"UserData1", UDP_DISPID(UserData1), VT_BSTR, false, member);
  prop(L"UserData2", UDP_DISPID(UserData2), VT_BSTR, false, member);
  prop(L"UserData3", UDP_DISPID(UserData3), VT_BSTR, false, member);
  prop(L"UserData4", UDP_DISPID(UserData4), VT_BSTR, false, member);
  prop(L"UserData5", UDP_DISPID(UserData5), VT_BSTR, false, member);
  prop(L"UserFlag", UDP_DISPID(UserFlag), VT_BSTR, false, member);
  prop(L"LastError", UDP_DISPID(LastError), VT_I4, false, member);
  prop(L"Broadcast", UDP_DISPID(Broadcast), VT_BOOL, false, notified);
  prop(L"InetAddress", UDP_DISPID(InetAddress), VT_BSTR, false, notified);
  prop(L"InetIp", UDP_DISPID(InetIp), VT_I4, false, notified);
  prop(L"InetName", UDP_DISPID(InetName), VT_BSTR, false, notified);
  prop(L"Copyright", UDP_DISPID(Copyright), VT_BSTR, true);
  prop(L"Socket", UDP_DISPID(Socket), VT_I4, true);
  prop(L"WinsockVer", UDP_DISPID(WinsockVer), VT_BSTR, true);
  prop(L"WinsockDesc", UDP_DISPID(WinsockDesc), VT_BSTR, true);
  prop(L"WinsockSysStat", UDP_DISPID(WinsockSysStat), VT_BSTR, true);
  prop(L"WinsockMaxSockets", UDP_DISPID(WinsockMaxSockets), VT_BSTR, true);
  prop(L"WinsockMaxDatagram", UDP_DISPID(WinsockMaxDatagram), VT_BSTR, true);
  prop(L"Version", UDP_DISPID(Version), VT_I2, true);
  prop(L"Rcvbuf", UDP_DISPID(Rcvbuf), VT_I4, false);
  prop(L"Sndbuf", UDP_DISPID(Sndbuf), VT_I4, false);
  prop(L"Sendable", UDP_DISPID(Sendable), VT_BOOL, true);
  prop(L"LocalIp", UDP_DISPID(LocalIp), VT_I4, true);
  prop(L"LocalPort", UDP_DISPID(LocalPort), VT_I2, true);
  prop(L"LocalAddress", UDP_DISPID(LocalAddress), VT_BSTR, false);
  prop(L"LocalHost", UDP_DISPID(LocalHost), VT_BSTR, true);
  prop(L"AnyData", UDP_DISPID(AnyData), VT_VARIANT, false);
  method(L"Open", UDP_DISPID(Open), VT_EMPTY, {{L"LocalPort", VT_BSTR}});
  method(L"Close", UDP_DISPID(Close), VT_EMPTY, {});
  method(L"htonl", UDP_DISPID(htonl), VT_VARIANT, {{L"host", VT_R8}});
  method(L"htons", UDP_DISPID(htons), VT_VARIANT, {{L"host", VT_I4}});
  method(L"ntohl", UDP_DISPID(ntohl), VT_R8, {{L"net", VT_VARIANT}});
  method(L"ntohs", UDP_DISPID(ntohs), VT_I4, {{L"net", VT_VARIANT}});
  method(L"SendTo", UDP_DISPID(SendTo), VT_EMPTY,
         {{L"RemoteIp", VT_BSTR}, {L"RemotePort", VT_BSTR}, {L"Data", VT_VARIANT}});
  method(L"HostIp", UDP_DISPID(HostIp), VT_BSTR, {{L"Remote", VT_BSTR}});
  method(L"AboutBox", UDP_DISPID(AboutBox), VT_EMPTY, {});
  prop(L"MulticastTtl", UDP_DISPID(MulticastTtl), VT_I4, false);
  prop(L"MulticastLoopback", UDP_DISPID(MulticastLoopback), VT_BOOL, false);
  prop(L"MulticastInterface", UDP_DISPID(MulticastInterface), VT_BSTR, false);
  prop(L"ReuseAddress", UDP_DISPID(ReuseAddress), VT_BOOL, false);
  method(L"JoinGroup", UDP_DISPID(JoinGroup), VT_EMPTY,
         {{L"Group", VT_BSTR}, {L"Interface", VT_VARIANT}});
  method(L"LeaveGroup", UDP_DISPID(LeaveGroup), VT_EMPTY,
         {{L"Group", VT_BSTR}, {L"Interface", VT_VARIANT}});
  return s;
}

// The only places where the library's type differs from the dispatcher's.
Surface ExpectedTypeLib() {
  Surface s = ExpectedDispatch();
  s[L"htonl"].params[0].type = VT_I4;
  s[L"htons"].params[0].type = VT_I2;
  s[L"ntohl"].type = VT_I4;
  s[L"ntohs"].type = VT_I2;
  for (auto& [name, m] : s) {
    m.readOnly = false;
    m.binding = Binding::None;
  }
  return s;
}

Surface ExpectedEvents() {
  Surface s;
  auto event = [&](const wchar_t* name, DISPID id, std::vector<Param> params) {
    s[name] = {id, Kind::Method, VT_EMPTY, std::move(params), false};
  };
  event(L"WsError", host::kWsError,
        {{L"Ecode", VT_I4},
         {L"Description", VT_BSTR},
         {L"Where", VT_BSTR},
         {L"CancelClose", VT_BOOL | VT_BYREF}});
  event(L"Received", host::kReceived,
        {{L"IpAddress", VT_BSTR}, {L"Port", VT_BSTR}, {L"Data", VT_VARIANT}});
  event(L"Closed", host::kClosed, {});
  event(L"Ready", host::kReady, {});
  event(L"Sent", host::kSent, {});
  return s;
}

std::vector<Param> ParamsOf(std::span<const fw::DispParam> params) {
  std::vector<Param> out;
  for (const auto& p : params) out.push_back({p.name, p.type});
  return out;
}

Surface FromDispatchTable() {
  Surface s;
  auto add = [&](const auto& table) {
    for (const auto& e : table) {
      Member m;
      m.id = e.dispid;
      m.kind = e.binding == fw::DispBinding::Method ? Kind::Method : Kind::Property;
      m.type = e.type;
      m.params = ParamsOf(e.params);
      m.readOnly = e.binding != fw::DispBinding::Method &&
                   (e.readOnly || (e.binding == fw::DispBinding::Accessors && !e.put));
      if (e.binding == fw::DispBinding::Accessors) m.binding = Binding::Accessors;
      if (e.binding == fw::DispBinding::Member)
        m.binding = e.notifies ? Binding::MemberNotified : Binding::Member;
      EXPECT_TRUE(s.emplace(e.name, m).second)
          << "twice in the tables: " << testing::PrintToString(std::wstring(e.name));
    }
  };
  add(udp::kUdpDispatch);
  add(udp::kUdpControlOwnDispatch);
  return s;
}

Surface FromEventTable() {
  Surface s;
  for (const auto& e : udp::kUdpEvents)
    s[e.name] = {e.dispid, Kind::Method, VT_EMPTY, ParamsOf(e.params), false};
  return s;
}

Surface FromTypeInfo(ITypeInfo* info) {
  Surface s;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return s;
  for (UINT i = 0; i < attr->cVars; ++i) {
    VARDESC* var = nullptr;
    if (FAILED(info->GetVarDesc(i, &var))) continue;
    EXPECT_EQ(var->varkind, VAR_DISPATCH);
    s[host::NameOf(info, var->memid)] = {
        var->memid, Kind::Property, host::VarTypeOf(var->elemdescVar.tdesc), {}, false};
    info->ReleaseVarDesc(var);
  }
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(i, &func))) continue;
    EXPECT_EQ(func->funckind, FUNC_DISPATCH);
    EXPECT_EQ(func->invkind, INVOKE_FUNC);
    std::vector<BSTR> names(func->cParams + 1u, nullptr);
    UINT got = 0;
    info->GetNames(func->memid, names.data(), static_cast<UINT>(names.size()), &got);
    Member m{func->memid, Kind::Method, host::VarTypeOf(func->elemdescFunc.tdesc), {}, false};
    if (m.type == VT_VOID) m.type = VT_EMPTY;
    for (SHORT p = 0; p < func->cParams; ++p) {
      const UINT n = static_cast<UINT>(p) + 1;
      m.params.push_back({n < got && names[n] ? names[n] : L"",
                          host::VarTypeOf(func->lprgelemdescParam[p].tdesc)});
    }
    s[got > 0 && names[0] ? names[0] : L""] = m;
    for (BSTR b : names) ::SysFreeString(b);
    info->ReleaseFuncDesc(func);
  }
  info->ReleaseTypeAttr(attr);
  return s;
}

std::string Describe(const std::optional<Member>& m) {
  if (!m) return "(absent)";
  std::string out = "id " + std::to_string(m->id) +
                    (m->kind == Kind::Method ? " method" : " property") + " vt " +
                    std::to_string(m->type) + (m->readOnly ? " read-only" : "") + " binding " +
                    std::to_string(static_cast<int>(m->binding)) + " (";
  for (const auto& p : m->params)
    out += testing::PrintToString(p.name) + ":" + std::to_string(p.type) + " ";
  return out + ")";
}

// Reports every name whose description differs between the two surfaces.
void ExpectSameSurface(const Surface& expected, const Surface& actual, const char* what,
                       const host::Where& where = host::Where::current()) {
  const host::CallerTrace trace(where);
  std::map<std::wstring, bool> names;
  for (auto& [n, m] : expected) names[n] = true;
  for (auto& [n, m] : actual) names[n] = true;
  for (auto& [name, unused] : names) {
    std::optional<Member> e, a;
    if (auto it = expected.find(name); it != expected.end()) e = it->second;
    if (auto it = actual.find(name); it != actual.end()) a = it->second;
    const bool same = e && a && e->id == a->id && e->kind == a->kind && e->type == a->type &&
                      e->params == a->params && e->readOnly == a->readOnly &&
                      e->binding == a->binding;
    EXPECT_TRUE(same) << what << " " << testing::PrintToString(name) << ": expected " << Describe(e)
                      << ", found " << Describe(a);
  }
}

fw::com_ptr<ITypeInfo> TypeInfoOf(ITypeLib* lib, REFGUID guid) {
  fw::com_ptr<ITypeInfo> info;
  if (lib) lib->GetTypeInfoOfGuid(guid, info.put());
  return info;
}

TEST(TypeLibDrift, DispatchTableHoldsEveryMemberOfTheInterface) {
  ExpectSameSurface(ExpectedDispatch(), FromDispatchTable(), "dispatch table");
}

TEST(TypeLibDrift, TypeLibraryDeclaresTheSameSurfaceWithItsOwnTypes) {
  auto lib = host::LoadOcxTypeLib();
  ASSERT_TRUE(lib);
  auto info = TypeInfoOf(lib.get(), udp::CUdpCtrl::ClassInfoOfUdp().dispatchIid[0]);
  ASSERT_TRUE(info);
  ExpectSameSurface(ExpectedTypeLib(), FromTypeInfo(info.get()), "type library");
}

TEST(TypeLibDrift, TableAndLibraryDifferOnlyWhereTheDispatcherConverts) {
  auto lib = host::LoadOcxTypeLib();
  ASSERT_TRUE(lib);
  auto info = TypeInfoOf(lib.get(), udp::CUdpCtrl::ClassInfoOfUdp().dispatchIid[0]);
  ASSERT_TRUE(info);
  Surface fromLibrary = FromTypeInfo(info.get());
  // Apply the deliberate differences to the library's view: what remains must equal the table.
  const std::map<std::wstring, std::pair<int, VARTYPE>> conversions = {{L"htonl", {0, VT_R8}},
                                                                       {L"htons", {0, VT_I4}},
                                                                       {L"ntohl", {-1, VT_R8}},
                                                                       {L"ntohs", {-1, VT_I4}}};
  for (auto& [name, change] : conversions) {
    auto it = fromLibrary.find(name);
    if (it == fromLibrary.end()) continue;
    if (change.first < 0)
      it->second.type = change.second;
    else if (static_cast<size_t>(change.first) < it->second.params.size())
      it->second.params[change.first].type = change.second;
  }
  Surface table = FromDispatchTable();
  for (auto& [name, m] : table) {
    m.readOnly = false;
    m.binding = Binding::None;
  }
  ExpectSameSurface(fromLibrary, table, "library vs table");
}

// UdpSocket's interface: the control's, without the About box, and the members of its own.
Surface ExpectedSocketTypeLib() {
  Surface s = ExpectedTypeLib();
  s.erase(L"AboutBox");
  auto prop = [&](const wchar_t* name, DISPID id, VARTYPE type) {
    s[name] = {id, Kind::Property, type, {}, false};
  };
  auto method = [&](const wchar_t* name, DISPID id, VARTYPE result, std::vector<Param> params) {
    s[name] = {id, Kind::Method, result, std::move(params), false};
  };
  method(L"Wait", UDP_DISPID(Wait), VT_BOOL, {{L"Milliseconds", VT_I4}});
  method(L"Receive", UDP_DISPID(Receive), VT_VARIANT, {{L"Milliseconds", VT_I4}});
  prop(L"FromAddress", UDP_DISPID(FromAddress), VT_BSTR);
  prop(L"FromPort", UDP_DISPID(FromPort), VT_BSTR);
  prop(L"Queued", UDP_DISPID(Queued), VT_I4);
  prop(L"QueueLimit", UDP_DISPID(QueueLimit), VT_I4);
  prop(L"QueueByteLimit", UDP_DISPID(QueueByteLimit), VT_I4);
  prop(L"Dropped", UDP_DISPID(Dropped), VT_I4);
  method(L"TextToBytes", UDP_DISPID(TextToBytes), VT_VARIANT, {{L"Text", VT_BSTR}, {L"CodePage", VT_I4}});
  method(L"BytesToText", UDP_DISPID(BytesToText), VT_BSTR, {{L"Data", VT_VARIANT}, {L"CodePage", VT_I4}});
  prop(L"OnReady", UDP_DISPID(OnReady), VT_DISPATCH);
  prop(L"OnReceived", UDP_DISPID(OnReceived), VT_DISPATCH);
  prop(L"OnSent", UDP_DISPID(OnSent), VT_DISPATCH);
  prop(L"OnClosed", UDP_DISPID(OnClosed), VT_DISPATCH);
  prop(L"OnWsError", UDP_DISPID(OnWsError), VT_DISPATCH);
  return s;
}

TEST(TypeLibDrift, SocketInterfaceIsTheControlsWithoutAboutBoxAndItsOwnMembers) {
  auto lib = host::LoadOcxTypeLib();
  ASSERT_TRUE(lib);
  auto info = TypeInfoOf(lib.get(), DIID_DUdpSocket);
  ASSERT_TRUE(info);
  ExpectSameSurface(ExpectedSocketTypeLib(), FromTypeInfo(info.get()), "socket interface");
}

TEST(TypeLibDrift, EventInterfaceMatchesTheEventTable) {
  auto lib = host::LoadOcxTypeLib();
  ASSERT_TRUE(lib);
  auto info = TypeInfoOf(lib.get(), udp::CUdpCtrl::ClassInfoOfUdp().eventsIid[0]);
  ASSERT_TRUE(info);
  ExpectSameSurface(ExpectedEvents(), FromTypeInfo(info.get()), "event interface");
  ExpectSameSurface(ExpectedEvents(), FromEventTable(), "event table");
}

}  // namespace
