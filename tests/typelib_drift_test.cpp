// The list of the surface (typelib/udp_surface.h, as udp::kSurface), the type library the built DLL
// carries and the tables the objects dispatch with describe one surface: same names, DISPIDs,
// kinds, access, parameters and types, the library's types where it declares narrower ones than
// the dispatcher takes. The library is loaded at run time and the tables are the ones in use, so a
// list entry that the IDL's expansion, the embedded library or a table contradicts fails here.
#include <gtest/gtest.h>
#include <olectl.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "control/surface.h"
#include "control/udp_ctrl.h"
#include "server/udp_socket.h"
#include "support/trace.h"
#include "support/typelib.h"
#include "typelib/udp_guids.h"

namespace {

using udp::SurfaceMember;

struct Param {
  std::wstring name;
  VARTYPE type;
  bool optional;      // the caller may leave it out
  LONG defaultValue;  // what it then is, 0 when nothing is filled in
  bool operator==(const Param&) const = default;
};

struct Member {
  DISPID id = 0;
  bool method = false;
  VARTYPE type = VT_EMPTY;  // a property's type, a method's result
  bool readOnly = false;    // the library: marked readonly; a table: refuses a put
  std::vector<Param> params{};
  bool operator==(const Member&) const = default;
};

using Surface = std::map<std::wstring, Member>;

enum class View { Library, Dispatcher };
using Selection = std::function<bool(const SurfaceMember&)>;

// The list's members that `selected` picks, as the library or the dispatcher must see them.
Surface Expected(View view, const Selection& selected) {
  const bool library = view == View::Library;
  Surface s;
  for (const SurfaceMember* m : udp::kSurface) {
    if (!selected(*m)) continue;
    Member& e = s[m->name];
    e.id = m->dispid;
    e.method = m->kind == fw::DispKind::Method;
    e.type = library ? m->surfaceType.library : m->surfaceType.dispatcher;
    e.readOnly = library ? m->LibraryMarksReadOnly() : m->access == fw::DispAccess::ReadOnly;
    for (size_t i = 0; i < m->paramCount; ++i) {
      const udp::SurfaceParam& p = m->surfaceParams[i];
      const bool defaulted = p.use == udp::ParamUse::Defaulted;
      // The dispatcher fills in a number left out; a Variant left out arrives as "not given".
      e.params.push_back({p.name, library ? p.type.library : p.type.dispatcher,
                          library ? p.use != udp::ParamUse::Required : defaulted,
                          defaulted ? p.defaultValue : 0});
    }
  }
  return s;
}

template <typename Entry>
Surface FromDispatchTable(std::span<const Entry> table) {
  Surface s;
  for (const auto& e : table) {
    Member m{e.dispid, e.binding == fw::DispBinding::Method, e.type,
             e.binding != fw::DispBinding::Method && !e.put};
    for (const fw::DispParam& p : e.Params())
      m.params.push_back({p.name, p.type, p.optional, p.defaultValue});
    EXPECT_TRUE(s.emplace(e.name, m).second)
        << "twice in the table: " << testing::PrintToString(std::wstring(e.name));
  }
  return s;
}

Surface FromEventTable() {
  Surface s;
  for (const auto& e : udp::kUdpEvents) {
    Member& m = s[e.name];
    m = {e.dispid, true, VT_EMPTY};
    for (const fw::DispParam& p : e.params) m.params.push_back({p.name, p.type, false, 0});
  }
  return s;
}

LONG DefaultOf(const ELEMDESC& param) {
  if (!(param.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) || !param.paramdesc.pparamdescex)
    return 0;
  fw::unique_variant value;
  ::VariantChangeType(&value, &param.paramdesc.pparamdescex->varDefaultValue, 0, VT_I4);
  return V_VT(&value) == VT_I4 ? V_I4(&value) : -1;
}

Surface FromTypeInfo(ITypeInfo* info) {
  Surface s;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return s;
  for (UINT i = 0; i < attr->cVars; ++i) {
    VARDESC* var = nullptr;
    if (FAILED(info->GetVarDesc(i, &var))) continue;
    EXPECT_EQ(var->varkind, VAR_DISPATCH);
    s[host::NameOf(info, var->memid)] = {var->memid, false, host::VarTypeOf(var->elemdescVar.tdesc),
                                         (var->wVarFlags & VARFLAG_FREADONLY) != 0};
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
    Member m{func->memid, true, host::VarTypeOf(func->elemdescFunc.tdesc)};
    for (SHORT p = 0; p < func->cParams; ++p) {
      const UINT n = static_cast<UINT>(p) + 1;
      const ELEMDESC& param = func->lprgelemdescParam[p];
      m.params.push_back({n < got && names[n] ? names[n] : L"", host::VarTypeOf(param.tdesc),
                          (param.paramdesc.wParamFlags & PARAMFLAG_FOPT) != 0, DefaultOf(param)});
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
  std::string out = "id " + std::to_string(m->id) + (m->method ? " method" : " property") + " vt " +
                    std::to_string(m->type) + (m->readOnly ? " read-only" : "") + " (";
  for (const auto& p : m->params)
    out += testing::PrintToString(p.name) + ":" + std::to_string(p.type) +
           (p.optional ? " optional=" + std::to_string(p.defaultValue) : "") + " ";
  return out + ")";
}

// Reports every name whose description differs between the two surfaces.
void ExpectSameSurface(const Surface& expected, const Surface& actual, const std::string& what,
                       const host::Where& where = host::Where::current()) {
  const host::CallerTrace trace(where);
  std::map<std::wstring, bool> names;
  for (auto& [n, m] : expected) names[n] = true;
  for (auto& [n, m] : actual) names[n] = true;
  for (auto& [name, unused] : names) {
    std::optional<Member> e, a;
    if (auto it = expected.find(name); it != expected.end()) e = it->second;
    if (auto it = actual.find(name); it != actual.end()) a = it->second;
    EXPECT_TRUE(e && a && *e == *a)
        << what << " " << testing::PrintToString(name) << ": the list says " << Describe(e)
        << ", found " << Describe(a);
  }
}

bool OnControl(const SurfaceMember& m) { return m.OfferedByControl(); }
bool OnSocket(const SurfaceMember& m) { return m.OfferedBySocket(); }
bool Shared(const SurfaceMember& m) { return !m.event && m.offeredBy == udp::OfferedBy::Both; }
bool ControlsOwn(const SurfaceMember& m) { return m.offeredBy == udp::OfferedBy::ControlOnly; }
bool SocketsOwn(const SurfaceMember& m) { return m.offeredBy == udp::OfferedBy::SocketOnly; }
bool IsEvent(const SurfaceMember& m) { return m.event; }

TEST(TypeLibDrift, EachInterfaceOfTheLibraryDeclaresTheListsMembers) {
  auto lib = host::LoadOcxTypeLib();
  ASSERT_TRUE(lib);
  const fw::ControlClassInfo& control = udp::CUdpCtrl::ClassInfoOfUdp();
  const struct {
    const IID* iid;
    Selection selected;
    const char* name;
  } interfaces[] = {{&control.dispatchIid[0], OnControl, "_DUdp"},
                    {&DIID_DUdpSocket, OnSocket, "_DUdpSocket"},
                    {&control.eventsIid[0], IsEvent, "_DUdpEvents"}};
  for (const auto& itf : interfaces) {
    fw::com_ptr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(*itf.iid, info.put()), S_OK) << itf.name;
    ExpectSameSurface(Expected(View::Library, itf.selected), FromTypeInfo(info.get()), itf.name);
  }
}

TEST(TypeLibDrift, EachDispatchTableBindsTheListsMembers) {
  // The control and UdpSocket run the members they share on one table, bound to the endpoint.
  ExpectSameSurface(Expected(View::Dispatcher, Shared), FromDispatchTable(udp::kUdpDispatch),
                    "the shared table");
  ExpectSameSurface(Expected(View::Dispatcher, ControlsOwn),
                    FromDispatchTable(udp::kUdpControlOwnDispatch), "the control's own table");
  ExpectSameSurface(Expected(View::Dispatcher, SocketsOwn),
                    FromDispatchTable(server::kUdpSocketDispatch), "UdpSocket's own table");
  ExpectSameSurface(Expected(View::Dispatcher, IsEvent), FromEventTable(), "the event table");
}

}  // namespace
