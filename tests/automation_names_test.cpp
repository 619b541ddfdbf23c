// Name look-up and type information as a script engine asks for them: the control's own table
// for the neutral locale, the registered type library for a named one.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "control/udp_ctrl.h"
#include "support/host.h"
#include "support/typelib.h"
#include "typelib/udp_guids.h"

namespace {

using host::Host;

struct Lookup {
  HRESULT hr;
  std::vector<DISPID> ids;
};

Lookup IdsOf(IDispatch* d, std::vector<const wchar_t*> names, LCID lcid = 0) {
  std::vector<LPOLESTR> raw;
  for (auto n : names) raw.push_back(const_cast<LPOLESTR>(n));
  Lookup out{E_FAIL, std::vector<DISPID>(names.size(), 12345)};
  out.hr =
      d->GetIDsOfNames(IID_NULL, raw.data(), static_cast<UINT>(raw.size()), lcid, out.ids.data());
  return out;
}

TEST(AutomationNames, MemberNamesMatchInAnyCase) {
  Host h;
  for (const wchar_t* name : {L"SendTo", L"sEnDtO", L"SENDTO", L"sendto"}) {
    Lookup r = IdsOf(h.dispatch(), {name});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.ids[0], UDP_DISPID(SendTo));
  }
  EXPECT_EQ(IdsOf(h.dispatch(), {L"winsockmaxdatagram"}).ids[0], UDP_DISPID(WinsockMaxDatagram));
  EXPECT_EQ(IdsOf(h.dispatch(), {L"ANYDATA"}).ids[0], UDP_DISPID(AnyData));
}

TEST(AutomationNames, UnknownNamesAndArgumentNamesGetDispidUnknown) {
  Host h;
  Lookup r = IdsOf(h.dispatch(), {L"SendFrom"});
  EXPECT_EQ(r.hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(r.ids[0], DISPID_UNKNOWN);
  r = IdsOf(h.dispatch(), {L"sendto", L"RemoteIp", L"Data"});
  EXPECT_EQ(r.hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(r.ids, (std::vector<DISPID>{UDP_DISPID(SendTo), DISPID_UNKNOWN, DISPID_UNKNOWN}));
  LPOLESTR name = const_cast<LPOLESTR>(L"State");
  DISPID id = 0;
  EXPECT_EQ(h.dispatch()->GetIDsOfNames(IID_IDispatch, &name, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
}

class AutomationTypeInfo : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(host::OcxPath().empty()) << "UDP_OCX is not set";
    ASSERT_HRESULT_SUCCEEDED(registration.status());
  }
  host::RegisteredTypeLib registration;
};

TEST_F(AutomationTypeInfo, DescribesTheDispatchInterfaceForTheCallersLocale) {
  Host h;
  UINT count = 0;
  ASSERT_HRESULT_SUCCEEDED(h.dispatch()->GetTypeInfoCount(&count));
  EXPECT_EQ(count, 1u);
  for (LCID lcid : {LCID(0), LCID(0x409), LCID(0x411), LOCALE_USER_DEFAULT}) {
    SCOPED_TRACE(lcid);
    fw::com_ptr<ITypeInfo> info;
    ASSERT_HRESULT_SUCCEEDED(h.dispatch()->GetTypeInfo(0, lcid, info.put()));
    TYPEATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, DIID_DUdp));
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    // As many properties and methods as the control's tables bind (its own are methods).
    const auto methods = std::count_if(udp::kUdpDispatch.begin(), udp::kUdpDispatch.end(),
                                       [](const fw::DispMember& e) {
                                         return e.binding == fw::DispBinding::Method;
                                       }) +
                         static_cast<long>(udp::kUdpControlOwnDispatch.size());
    EXPECT_EQ(attr->cFuncs, methods);
    EXPECT_EQ(attr->cVars, static_cast<long>(udp::kUdpDispatch.size() +
                                             udp::kUdpControlOwnDispatch.size()) -
                               methods);
    info->ReleaseTypeAttr(attr);
    fw::com_ptr<ITypeLib> lib;
    UINT index = 99;
    ASSERT_HRESULT_SUCCEEDED(info->GetContainingTypeLib(lib.put(), &index));
    TLIBATTR* libAttr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&libAttr));
    EXPECT_TRUE(IsEqualGUID(libAttr->guid, LIBID_UDPLib));
    EXPECT_EQ(libAttr->wMajorVerNum, 1);
    EXPECT_EQ(libAttr->wMinorVerNum, 0);
    lib->ReleaseTLibAttr(libAttr);
    EXPECT_EQ(index, 0u);
  }
  fw::com_ptr<ITypeInfo> none;
  EXPECT_EQ(h.dispatch()->GetTypeInfo(1, 0x409, none.put()), DISP_E_BADINDEX);
  EXPECT_EQ(h.dispatch()->GetTypeInfo(0, 0x409, nullptr), E_POINTER);
}

TEST_F(AutomationTypeInfo, ANamedLocaleIsAnsweredByTheTypeLibrary) {
  Host h;
  Lookup r = IdsOf(h.dispatch(), {L"sEnDtO"}, 0x409);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.ids[0], UDP_DISPID(SendTo));
  EXPECT_EQ(IdsOf(h.dispatch(), {L"aboutbox"}, 0x411).ids[0], UDP_DISPID(AboutBox));
  // The library knows the parameter names, which the table does not.
  r = IdsOf(h.dispatch(), {L"SendTo", L"remoteport", L"Data"}, 0x409);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.ids, (std::vector<DISPID>{UDP_DISPID(SendTo), 1, 2}));
  r = IdsOf(h.dispatch(), {L"NoSuchMember"}, 0x409);
  EXPECT_EQ(r.hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(r.ids[0], DISPID_UNKNOWN);
}

}  // namespace
