// Which automation values SendTo takes as datagram data and which bytes they give on the wire;
// and the AnyData slot, which keeps independent copies of whatever the host stores.
#include <gtest/gtest.h>

#include "support/datagrams.h"
#include "support/host.h"
#include "support/trace.h"

using namespace host;

namespace {

using Bytes = std::vector<unsigned char>;

Var ByteString(const char* data, UINT length) {
  VARIANT v;
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = ::SysAllocStringByteLen(data, length);
  Var out(v);
  ::VariantClear(&v);
  return out;
}

Var Raw(VARTYPE type, void* pointer) {
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = type;
  V_BYREF(&v) = pointer;
  return Var(v);  // a reference is copied as a reference
}

Var TwoDimensionalBytes() {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  VARIANT v;
  V_VT(&v) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v) = ::SafeArrayCreate(VT_UI1, 2, bounds);
  Var out(v);
  ::VariantClear(&v);
  return out;
}

Var ArrayOf(VARTYPE element, ULONG count) {
  SAFEARRAYBOUND bound = {count, 0};
  VARIANT v;
  V_VT(&v) = VT_ARRAY | element;
  V_ARRAY(&v) = ::SafeArrayCreate(element, 1, &bound);
  Var out(v);
  ::VariantClear(&v);
  return out;
}

Var Typed(VARTYPE type) {
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = type;
  if (type == VT_DATE) V_DATE(&v) = 45000.5;
  if (type == VT_CY) V_CY(&v).int64 = 50000;
  return Var(v);
}

class DataOnTheWire : public testing::Test {
 protected:
  void SetUp() override { OpenAndWaitReady(h); }

  // Sends one datagram made of data and returns what the peer received.
  Bytes Send(const Var& data, const host::Where& where = host::Where::current()) {
    const host::CallerTrace trace(where);
    const int sent = h.sink().Count(kSent);
    h.MustCall(L"SendTo", {host::kLoopbackText, std::to_wstring(peer.port()), data});
    EXPECT_TRUE(h.WaitForEvents(kSent, sent + 1));
    Bytes got;
    EXPECT_TRUE(peer.Receive(got));
    return got;
  }

  Host h;
  PeerSocket peer;
};

}  // namespace

TEST_F(DataOnTheWire, ByteArraysOfAnyBoundsAndReferences) {
  EXPECT_EQ(Send(Var::Bytes({1, 2, 3})), (Bytes{1, 2, 3}));
  EXPECT_EQ(Send(Var::Bytes({1, 2, 3}, 1)), (Bytes{1, 2, 3}));
  EXPECT_EQ(Send(Var::Bytes({9, 8}, -7)), (Bytes{9, 8}));

  Var array = Var::Bytes({4, 5, 6});
  SAFEARRAY* psa = V_ARRAY(array.get());
  EXPECT_EQ(Send(Raw(VT_BYREF | VT_ARRAY | VT_UI1, &psa)), (Bytes{4, 5, 6}));
  EXPECT_EQ(Send(Raw(VT_BYREF | VT_VARIANT, array.get())), (Bytes{4, 5, 6}));
}

TEST_F(DataOnTheWire, StringsGiveTheirStoredBytes) {
  EXPECT_EQ(Send(Var(L"AB")), (Bytes{0x41, 0x00, 0x42, 0x00}));
  EXPECT_EQ(Send(Var(L"\u3042")), (Bytes{0x42, 0x30}));  // no code-page conversion
  EXPECT_EQ(Send(ByteString("\x01\x02\x03", 3)), (Bytes{1, 2, 3}));
  Var text(L"xy");
  BSTR b = V_BSTR(text.get());
  EXPECT_EQ(Send(Raw(VT_BYREF | VT_BSTR, &b)), (Bytes{'x', 0, 'y', 0}));
}

TEST_F(DataOnTheWire, ValuesThatAreNotBytesAreRefused) {
  const Var refused[] = {
      Var(5),           Var(2.5),       Var(true),    Var::Short(7),     Typed(VT_EMPTY),
      Typed(VT_NULL),   Typed(VT_DATE), Typed(VT_CY), ArrayOf(VT_I4, 3), ArrayOf(VT_VARIANT, 2),
      ArrayOf(VT_I1, 2)};
  int i = 0;
  for (auto& value : refused) {
    SCOPED_TRACE(i++);
    auto r = h.Call(L"SendTo", {host::kLoopbackText, std::to_wstring(peer.port()), value});
    EXPECT_EQ(r.scode, kScodeBadArgument);
    EXPECT_EQ(r.description, host::kBadArgumentMessage);
    EXPECT_EQ(h.MustGet(L"State").i2(), 9);
    EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
  }
  ASSERT_TRUE(host::PumpUntilIdle());
  EXPECT_EQ(h.sink().Count(kSent), 0);
  Bytes got;
  EXPECT_FALSE(peer.Receive(got, nullptr, 50));
}

TEST_F(DataOnTheWire, TwoDimensionalArrayCannotBeFlattened) {
  auto r =
      h.Call(L"SendTo", {host::kLoopbackText, std::to_wstring(peer.port()), TwoDimensionalBytes()});
  EXPECT_EQ(r.scode, kScodeOutOfMemory);
  EXPECT_EQ(r.description, host::kOutOfMemoryMessage);
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
}

TEST(AnyData, KeepsAnIndependentCopy) {
  Host h;
  EXPECT_EQ(h.MustGet(L"AnyData").vt(), VT_EMPTY);

  Var array = Var::Bytes({1, 2, 3});
  h.MustPut(L"AnyData", array);
  // Changing the host's array afterwards does not reach the stored copy.
  static_cast<unsigned char*>(V_ARRAY(array.get())->pvData)[0] = 99;
  Var first = h.MustGet(L"AnyData");
  EXPECT_EQ(first.bytes(), (Bytes{1, 2, 3}));
  static_cast<unsigned char*>(V_ARRAY(first.get())->pvData)[1] = 99;
  EXPECT_EQ(h.MustGet(L"AnyData").bytes(), (Bytes{1, 2, 3}));

  h.MustPut(L"AnyData", Var(L"text"));
  EXPECT_EQ(h.MustGet(L"AnyData").text(), L"text");
  EXPECT_TRUE(h.sink().events.empty());
}

TEST(AnyData, AReferenceStoresTheValueAtThatMoment) {
  Host h;
  LONG variable = 41;
  h.MustPut(L"AnyData", Raw(VT_BYREF | VT_I4, &variable));
  variable = 42;
  Var got = h.MustGet(L"AnyData");
  EXPECT_EQ(got.vt(), VT_I4);
  EXPECT_EQ(got.i4(), 41);
}

TEST(AnyData, SurvivesOpenAndClose) {
  Host h;
  h.MustPut(L"AnyData", Var(3.25));
  OpenAndWaitReady(h);
  h.MustCall(L"Close");
  EXPECT_EQ(h.MustGet(L"AnyData").r8(), 3.25);
}
