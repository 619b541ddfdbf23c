// The type library embedded in udp.ocx, read the way a form designer reads it.
#include <gtest/gtest.h>

#include "support/trace.h"
#include "support/typelib.h"
#include "typelib/udp_guids.h"

namespace {

struct TypeAttr {
  fw::com_ptr<ITypeInfo> info;
  TYPEATTR* attr = nullptr;
  explicit TypeAttr(fw::com_ptr<ITypeInfo> i) : info(std::move(i)) {
    if (info) info->GetTypeAttr(&attr);
  }
  ~TypeAttr() {
    if (attr) info->ReleaseTypeAttr(attr);
  }
};

class TypeLibLayout : public testing::Test {
 protected:
  void SetUp() override {
    lib = host::LoadOcxTypeLib();
    ASSERT_TRUE(lib) << "cannot load TYPELIB 1 of " << testing::PrintToString(host::OcxPath());
  }
  TypeAttr Type(UINT index, const host::Where& where = host::Where::current()) {
    const host::CallerTrace trace(where);
    fw::com_ptr<ITypeInfo> info;
    EXPECT_HRESULT_SUCCEEDED(lib->GetTypeInfo(index, info.put()));
    return TypeAttr(info);
  }
  fw::com_ptr<ITypeLib> lib;
};

TEST_F(TypeLibLayout, LibraryAttributes) {
  TLIBATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_UDPLib));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0u);
  // The loader adds LIBFLAG_FHASDISKIMAGE to a library it read from a file.
  EXPECT_EQ(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, LIBFLAG_FCONTROL);
  lib->ReleaseTLibAttr(attr);

  BSTR name = nullptr, doc = nullptr, helpFile = nullptr;
  DWORD helpContext = 1;
  ASSERT_HRESULT_SUCCEEDED(lib->GetDocumentation(-1, &name, &doc, &helpContext, &helpFile));
  EXPECT_STREQ(name, L"UDPLib");
  EXPECT_STREQ(doc, L"Karvo Dgramix 1.10");
  ASSERT_NE(helpFile, nullptr);
  // The help file is given without a directory; the loader may prefix where the library lies.
  std::wstring file(helpFile);
  EXPECT_TRUE(file == L"dgramix.hlp" || file.ends_with(L"\\dgramix.hlp"))
      << testing::PrintToString(file);
  EXPECT_EQ(helpContext, 0u);
  ::SysFreeString(name);
  ::SysFreeString(doc);
  ::SysFreeString(helpFile);
}

TEST_F(TypeLibLayout, FiveTypesInOrderWithTheirFlagsAndHelpStrings) {
  ASSERT_EQ(lib->GetTypeInfoCount(), 5u);
  struct Expected {
    const wchar_t* name;
    const GUID* guid;
    TYPEKIND kind;
    WORD flags;
    const wchar_t* help;
  } expected[] = {
      {L"_DUdp", &DIID_DUdp, TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FHIDDEN,
       L"Dispatch interface for Udp Control"},
      {L"_DUdpEvents", &DIID_DUdpEvents, TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE,
       L"Event interface for Udp Control"},
      {L"Udp", &CLSID_Udp, TKIND_COCLASS, TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL, L"Udp Control"},
      {L"_DUdpSocket", &DIID_DUdpSocket, TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FHIDDEN,
       L"Dispatch interface for UdpSocket"},
      {L"UdpSocket", &CLSID_UdpSocket, TKIND_COCLASS, TYPEFLAG_FCANCREATE,
       L"UdpSocket: a UDP endpoint for any automation host"},
  };
  for (UINT i = 0; i < 5; ++i) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(expected[i].name)));
    BSTR name = nullptr;
    ASSERT_HRESULT_SUCCEEDED(lib->GetDocumentation(i, &name, nullptr, nullptr, nullptr));
    EXPECT_STREQ(name, expected[i].name);
    ::SysFreeString(name);
    EXPECT_EQ(host::DocStringOf(lib.get(), i), expected[i].help);
    TypeAttr t = Type(i);
    ASSERT_NE(t.attr, nullptr);
    EXPECT_TRUE(IsEqualGUID(t.attr->guid, *expected[i].guid));
    EXPECT_EQ(t.attr->typekind, expected[i].kind);
    EXPECT_EQ(t.attr->wTypeFlags, expected[i].flags);
  }
}

TEST_F(TypeLibLayout, EachCoclassJoinsItsDispatchInterfaceAndTheDefaultSource) {
  const struct {
    UINT index;
    const GUID* dispatch;
  } coclasses[] = {{2, &DIID_DUdp}, {4, &DIID_DUdpSocket}};
  for (const auto& c : coclasses) {
    SCOPED_TRACE(c.index);
    TypeAttr coclass = Type(c.index);
    ASSERT_NE(coclass.attr, nullptr);
    ASSERT_EQ(coclass.attr->cImplTypes, 2);
    const GUID* expected[] = {c.dispatch, &DIID_DUdpEvents};
    const INT expectedFlags[] = {IMPLTYPEFLAG_FDEFAULT,
                                 IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE};
    for (UINT i = 0; i < 2; ++i) {
      INT flags = 0;
      ASSERT_HRESULT_SUCCEEDED(coclass.info->GetImplTypeFlags(i, &flags));
      EXPECT_EQ(flags, expectedFlags[i]);
      HREFTYPE ref = 0;
      ASSERT_HRESULT_SUCCEEDED(coclass.info->GetRefTypeOfImplType(i, &ref));
      fw::com_ptr<ITypeInfo> implemented;
      ASSERT_HRESULT_SUCCEEDED(coclass.info->GetRefTypeInfo(ref, implemented.put()));
      TypeAttr impl(implemented);
      EXPECT_TRUE(IsEqualGUID(impl.attr->guid, *expected[i]));
    }
  }
}

TEST_F(TypeLibLayout, NoPropertyIsReadOnlyAndNoMemberHasAHelpString) {
  for (UINT t = 0; t < 2; ++t) {
    TypeAttr type = Type(t);
    ASSERT_NE(type.attr, nullptr);
    for (UINT v = 0; v < type.attr->cVars; ++v) {
      VARDESC* var = nullptr;
      ASSERT_HRESULT_SUCCEEDED(type.info->GetVarDesc(v, &var));
      EXPECT_EQ(var->wVarFlags & VARFLAG_FREADONLY, 0)
          << testing::PrintToString(host::NameOf(type.info.get(), var->memid));
      BSTR doc = nullptr;
      type.info->GetDocumentation(var->memid, nullptr, &doc, nullptr, nullptr);
      EXPECT_EQ(doc ? ::SysStringLen(doc) : 0u, 0u);
      ::SysFreeString(doc);
      type.info->ReleaseVarDesc(var);
    }
    for (UINT f = 0; f < type.attr->cFuncs; ++f) {
      FUNCDESC* func = nullptr;
      ASSERT_HRESULT_SUCCEEDED(type.info->GetFuncDesc(f, &func));
      BSTR doc = nullptr;
      type.info->GetDocumentation(func->memid, nullptr, &doc, nullptr, nullptr);
      EXPECT_EQ(doc ? ::SysStringLen(doc) : 0u, 0u);
      ::SysFreeString(doc);
      type.info->ReleaseFuncDesc(func);
    }
  }
}

}  // namespace
