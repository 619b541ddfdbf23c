// How the control answers IDispatch::Invoke before any member runs, and how a member's failure
// reaches the host.
#include <gtest/gtest.h>

#include <vector>

#include "support/host.h"

namespace {

using host::CallResult;
using host::Host;
using host::Var;

using host::kScodeSetNotSupported;


// Invoke with explicit named arguments, as a C++ client may call.
HRESULT InvokeNamed(IDispatch* d, DISPID id, WORD flags, std::vector<Var> args,
                    std::vector<DISPID> named, REFIID iid = IID_NULL) {
  return host::InvokeNamed(d, id, flags, std::move(args), std::move(named), iid).hr;
}

TEST(AutomationInvoke, NothingIsCalledBeforeTheContainerInitialisesTheControl) {
  Host h(Host::Init::None);
  EXPECT_EQ(h.Get(L"State").hr, E_UNEXPECTED);
  EXPECT_EQ(h.Put(L"UserData1", Var(L"x")).hr, E_UNEXPECTED);
  EXPECT_EQ(h.Call(L"Open", {Var(L"0")}).hr, E_UNEXPECTED);
  EXPECT_EQ(h.InvokeId(23, DISPATCH_METHOD, {}).hr, E_UNEXPECTED);
  // Another interface identifier is refused first.
  EXPECT_EQ(InvokeNamed(h.dispatch(), UDP_DISPID(State), DISPATCH_PROPERTYGET, {}, {}, IID_IDispatch),
            DISP_E_UNKNOWNINTERFACE);

  auto init =
      fw::com_ptr<IUnknown>(h.unknown(), true).query<IPersistStreamInit>(IID_IPersistStreamInit);
  ASSERT_HRESULT_SUCCEEDED(init->InitNew());
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"UserData1").text(), L"");
  EXPECT_EQ(InvokeNamed(h.dispatch(), UDP_DISPID(State), DISPATCH_PROPERTYGET, {}, {}, IID_IDispatch),
            DISP_E_UNKNOWNINTERFACE);
}

TEST(AutomationInvoke, DispidsOfNoMemberAreUnknown) {
  Host h;
  for (DISPID id : {23, 24, 25, 38, 39, 0, 42, -551}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(h.InvokeId(id, DISPATCH_METHOD, {}).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(h.InvokeId(id, DISPATCH_PROPERTYGET, {}).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(h.InvokeId(id, DISPATCH_PROPERTYPUT, {Var(1)}, false).hr, DISP_E_MEMBERNOTFOUND);
  }
}

TEST(AutomationInvoke, OnlyThePutValueMayBeNamed) {
  Host h;
  h.MustCall(L"Open", {Var(L"0")});
  IDispatch* d = h.dispatch();
  EXPECT_EQ(InvokeNamed(d, UDP_DISPID(SendTo), DISPATCH_METHOD,
                        {Var(host::kLoopbackText), Var(L"9"), Var(L"x")}, {0}),
            DISP_E_NONAMEDARGS);
  EXPECT_EQ(InvokeNamed(d, UDP_DISPID(UserData1), DISPATCH_PROPERTYPUT, {Var(L"a"), Var(L"b")},
                        {DISPID_PROPERTYPUT, 0}),
            DISP_E_NONAMEDARGS);
  EXPECT_EQ(InvokeNamed(d, UDP_DISPID(UserData1), DISPATCH_PROPERTYPUT, {Var(L"a")}, {1}),
            DISP_E_NONAMEDARGS);
  // Refused even for a DISPID that names nothing: the arguments are looked at first.
  EXPECT_EQ(InvokeNamed(d, 23, DISPATCH_METHOD, {Var(1)}, {0}), DISP_E_NONAMEDARGS);
  EXPECT_EQ(h.MustGet(L"UserData1").text(), L"");
  EXPECT_EQ(h.MustGet(L"Sendable").boolean(), true);

  EXPECT_EQ(InvokeNamed(d, UDP_DISPID(UserData1), DISPATCH_PROPERTYPUT, {Var(L"named")},
                        {DISPID_PROPERTYPUT}),
            S_OK);
  EXPECT_EQ(h.MustGet(L"UserData1").text(), L"named");
}

TEST(AutomationInvoke, EveryReadOnlyPropertyRefusesAPutAndKeepsItsValue) {
  Host h;
  h.MustCall(L"Open", {Var(L"0")});
  const wchar_t* readOnly[] = {L"Copyright",          L"Socket",
                               L"WinsockVer",         L"WinsockDesc",
                               L"WinsockSysStat",     L"WinsockMaxSockets",
                               L"WinsockMaxDatagram", L"Version",
                               L"Sendable",           L"LocalIp",
                               L"LocalPort",          L"LocalHost"};
  for (const wchar_t* name : readOnly) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    CallResult before = h.Get(name);
    ASSERT_EQ(before.hr, S_OK);
    CallResult r = h.Put(name, Var(1));
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, kScodeSetNotSupported);
    EXPECT_EQ(r.description, L"");
    CallResult after = h.Get(name);
    ASSERT_EQ(after.hr, S_OK);
    EXPECT_EQ(after.value.vt(), before.value.vt());
    EXPECT_EQ(::VarCmp(after.value.get(), before.value.get(), LOCALE_USER_DEFAULT, 0),
              static_cast<HRESULT>(VARCMP_EQ));
  }
  EXPECT_EQ(h.MustGet(L"State").i2(), 1);
}

TEST(AutomationInvoke, AMethodCallOnAPropertyReadsItOrWritesItsLastArgument) {
  Host h;
  CallResult version = h.InvokeId(UDP_DISPID(Version), DISPATCH_METHOD, {});
  ASSERT_EQ(version.hr, S_OK);
  EXPECT_EQ(version.value.i2(), h.MustGet(L"Version").i2());
  EXPECT_EQ(h.InvokeId(UDP_DISPID(State), DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}).value.i2(), 0);
  EXPECT_EQ(h.InvokeId(UDP_DISPID(UserFlag), DISPATCH_METHOD, {Var(L"flag")}, false).hr, S_OK);
  EXPECT_EQ(h.MustGet(L"UserFlag").text(), L"flag");
  // A read-only property written this way is refused like any put.
  CallResult r = h.InvokeId(UDP_DISPID(Version), DISPATCH_METHOD, {Var(5)});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, kScodeSetNotSupported);
}

TEST(AutomationInvoke, CountsAndCallKindsAreCheckedBeforeTheControlIsEntered) {
  Host h;
  EXPECT_EQ(h.InvokeId(UDP_DISPID(State), DISPATCH_PROPERTYGET, {Var(1)}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(h.InvokeId(UDP_DISPID(State), DISPATCH_PROPERTYGET, {}, false).hr,
            DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(h.InvokeId(UDP_DISPID(State), DISPATCH_PROPERTYPUT, {Var(1), Var(2)}, false).hr,
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(h.Put(L"Close", Var(1)).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(h.Put(L"Open", Var(L"0")).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(h.Call(L"Close", {Var(1)}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(h.Call(L"Open", {}).hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(h.Call(L"Open", {Var(L"0"), Var(L"0")}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  EXPECT_EQ(h.MustGet(L"Socket").i4(), -1);
  EXPECT_TRUE(h.sink().events.empty());
}

TEST(AutomationInvoke, ControlFailuresArriveAsExceptionsWithTheirOwnTexts) {
  Host h;
  CallResult r = h.Call(L"SendTo", {Var(host::kLoopbackText), Var(L"9"), Var(L"x")});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, host::kScodeNotOpen);
  EXPECT_EQ(r.description, host::kNotOpenMessage);

  h.MustCall(L"Open", {Var(L"0")});
  r = h.Call(L"Open", {Var(L"0")});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, host::kScodeAlreadyOpen);
  EXPECT_EQ(r.description, host::kAlreadyOpenMessage);

  r = h.Call(L"ntohl", {Var(1)});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, host::kScodeBadArgument);
  EXPECT_EQ(r.description, host::kBadArgumentMessage);
  EXPECT_EQ(r.value.vt(), VT_EMPTY);
}

}  // namespace
