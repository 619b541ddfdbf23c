// htonl, htons, ntohl and ntohs seen from a host: numbers to network-order byte arrays and back,
// with the failures of values that hold no bytes, and no effect on the control's own state.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/host.h"
#include "support/trace.h"

using host::Host;
using host::Var;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr SCODE kBadArgument = host::kScodeBadArgument;  // 29909
constexpr SCODE kOutOfMemory = host::kScodeOutOfMemory;  // 29908

struct ToNetworkCase {
  const char* label;
  Var host;
  Bytes expected;
};

// A two-dimensional byte array of 2 x 2 elements.
Var TwoDimensionalBytes() {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* array = ::SafeArrayCreate(VT_UI1, 2, bounds);
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v) = array;
  Var out(v);
  ::VariantClear(&v);
  return out;
}

Var LongArray(std::initializer_list<LONG> values) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(values.size()), 0};
  SAFEARRAY* array = ::SafeArrayCreate(VT_I4, 1, &bound);
  LONG index = 0;
  for (LONG value : values) {
    ::SafeArrayPutElement(array, &index, &value);
    ++index;
  }
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_ARRAY | VT_I4;
  V_ARRAY(&v) = array;
  Var out(v);
  ::VariantClear(&v);
  return out;
}

Var Null() {
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_NULL;
  return Var(v);
}

// A host-built string whose stored bytes are exactly these (a byte-length BSTR).
Var ByteString(const Bytes& bytes) {
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = ::SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()),
                                       static_cast<UINT>(bytes.size()));
  Var out(v);
  ::VariantClear(&v);
  return out;
}

// The result must be a one-dimensional byte array with lower bound 0 (Var::bytes checks both).
void ExpectBytes(Host& h, const wchar_t* method, const ToNetworkCase& c,
                 const host::Where& where = host::Where::current()) {
  const host::CallerTrace trace(where);
  SCOPED_TRACE(c.label);
  auto r = h.Call(method, {c.host});
  ASSERT_EQ(r.hr, S_OK);
  ASSERT_EQ(r.value.vt(), VT_ARRAY | VT_UI1);
  EXPECT_EQ(r.value.bytes(), c.expected);
}

}  // namespace

TEST(ByteOrder, HtonlGivesTheLow32BitsMostSignificantFirst) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const ToNetworkCase cases[] = {
      {"1", Var(1.0), {0x00, 0x00, 0x00, 0x01}},
      {"0", Var(0.0), {0x00, 0x00, 0x00, 0x00}},
      {"3232235777", Var(3232235777.0), {0xC0, 0xA8, 0x01, 0x01}},
      {"4294967295", Var(4294967295.0), {0xFF, 0xFF, 0xFF, 0xFF}},
      {"-1", Var(-1.0), {0xFF, 0xFF, 0xFF, 0xFF}},
      {"4294967296 wraps", Var(4294967296.0), {0x00, 0x00, 0x00, 0x00}},
      {"4294967297 wraps", Var(4294967297.0), {0x00, 0x00, 0x00, 0x01}},
      {"-4294967297", Var(-4294967297.0), {0xFF, 0xFF, 0xFF, 0xFF}},
      {"1.9 truncates", Var(1.9), {0x00, 0x00, 0x00, 0x01}},
      {"-1.5 truncates toward zero", Var(-1.5), {0xFF, 0xFF, 0xFF, 0xFF}},
      {"-0.9 truncates to zero", Var(-0.9), {0x00, 0x00, 0x00, 0x00}},
      {"2147483648", Var(2147483648.0), {0x80, 0x00, 0x00, 0x00}},
      {"-2147483648", Var(-2147483648.0), {0x80, 0x00, 0x00, 0x00}},
      {"largest double below 2^63", Var(9223372036854774784.0), {0xFF, 0xFF, 0xFC, 0x00}},
      {"2^63 is out of range", Var(9223372036854775808.0), {0x00, 0x00, 0x00, 0x00}},
      {"-2^63", Var(-9223372036854775808.0), {0x00, 0x00, 0x00, 0x00}},
      {"1e300", Var(1e300), {0x00, 0x00, 0x00, 0x00}},
      {"-1e300", Var(-1e300), {0x00, 0x00, 0x00, 0x00}},
      {"NaN", Var(nan), {0x00, 0x00, 0x00, 0x00}},
      {"+infinity", Var(inf), {0x00, 0x00, 0x00, 0x00}},
      {"-infinity", Var(-inf), {0x00, 0x00, 0x00, 0x00}},
      // Values of other types reach the method as doubles.
      {"long -1", Var(-1), {0xFF, 0xFF, 0xFF, 0xFF}},
      {"text 4294967295", Var(L"4294967295"), {0xFF, 0xFF, 0xFF, 0xFF}},
      {"short 80", Var::Short(80), {0x00, 0x00, 0x00, 0x50}},
  };
  Host h;
  for (const auto& c : cases) ExpectBytes(h, L"htonl", c);
}

TEST(ByteOrder, HtonsGivesTheLow16BitsMostSignificantFirst) {
  const ToNetworkCase cases[] = {
      {"80", Var(80), {0x00, 0x50}},
      {"0", Var(0), {0x00, 0x00}},
      {"65535", Var(65535), {0xFF, 0xFF}},
      {"-1", Var(-1), {0xFF, 0xFF}},
      {"65536 wraps", Var(65536), {0x00, 0x00}},
      {"74565 (0x12345)", Var(74565), {0x23, 0x45}},
      {"70000", Var(70000), {0x11, 0x70}},
      {"-32768", Var(-32768), {0x80, 0x00}},
      {"smallest long", Var(static_cast<int>(0x80000000u)), {0x00, 0x00}},
      {"short -2", Var::Short(-2), {0xFF, 0xFE}},
      {"text 5000", Var(L"5000"), {0x13, 0x88}},
  };
  Host h;
  for (const auto& c : cases) ExpectBytes(h, L"htons", c);
}

TEST(ByteOrder, HtonsRefusesValuesThatAreNoLongBeforeEnteringTheControl) {
  struct Case {
    const char* label;
    Var host;
    HRESULT hr;
  } const cases[] = {
      {"text abc", Var(L"abc"), DISP_E_TYPEMISMATCH},
      {"2^31 as a double", Var(2147483648.0), DISP_E_OVERFLOW},
  };
  Host h;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = h.Call(L"htons", {c.host});
    EXPECT_EQ(r.hr, c.hr);
    EXPECT_EQ(r.argErr, 0u);
  }
  auto missing = h.Call(L"htonl", {});
  EXPECT_EQ(missing.hr, DISP_E_PARAMNOTOPTIONAL);
}

TEST(ByteOrder, NtohlReadsTheFirstFourBytesAsAnUnsignedDouble) {
  struct Case {
    const char* label;
    Var net;
    double expected;
  } const cases[] = {
      {"00 00 00 01", Var::Bytes({0x00, 0x00, 0x00, 0x01}), 1.0},
      {"C0 A8 01 01", Var::Bytes({0xC0, 0xA8, 0x01, 0x01}), 3232235777.0},
      {"80 00 00 00 is not negative", Var::Bytes({0x80, 0x00, 0x00, 0x00}), 2147483648.0},
      {"FF FF FF FF", Var::Bytes({0xFF, 0xFF, 0xFF, 0xFF}), 4294967295.0},
      {"six bytes use the first four", Var::Bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06}),
       16909060.0},
      {"bounds 1 to 4 in index order", Var::Bytes({0x01, 0x02, 0x03, 0x04}, 1), 16909060.0},
      {"bounds -2 to 1", Var::Bytes({0x0A, 0x0B, 0x0C, 0x0D}, -2), 168496141.0},
      {"text AB is 41 00 42 00", Var(L"AB"), 1090535936.0},
      {"byte string", ByteString({0xDE, 0xAD, 0xBE, 0xEF}), 3735928559.0},
  };
  Host h;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = h.Call(L"ntohl", {c.net});
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_EQ(r.value.vt(), VT_R8);
    EXPECT_EQ(r.value.r8(), c.expected);
  }
}

TEST(ByteOrder, NtohsReadsTheFirstTwoBytesAsAnUnsignedLong) {
  struct Case {
    const char* label;
    Var net;
    LONG expected;
  } const cases[] = {
      {"00 50", Var::Bytes({0x00, 0x50}), 80},
      {"FF FE is not negative", Var::Bytes({0xFF, 0xFE}), 65534},
      {"FF FF", Var::Bytes({0xFF, 0xFF}), 65535},
      {"three bytes use the first two", Var::Bytes({0x12, 0x34, 0x56}), 0x1234},
      {"bounds 1 to 2 in index order", Var::Bytes({0x12, 0x34}, 1), 0x1234},
      {"text A is 41 00", Var(L"A"), 16640},
      {"byte string", ByteString({0x13, 0x88}), 5000},
  };
  Host h;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = h.Call(L"ntohs", {c.net});
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_EQ(r.value.vt(), VT_I4);
    EXPECT_EQ(r.value.i4(), c.expected);
  }
}

TEST(ByteOrder, ReferencesToByteArraysAndStringsAreFollowed) {
  Host h;
  Var array = Var::Bytes({0x01, 0x02, 0x03, 0x04});
  Var text(L"A");
  VARIANT arrayRef, textRef;
  ::VariantInit(&arrayRef);
  ::VariantInit(&textRef);
  V_VT(&arrayRef) = VT_ARRAY | VT_UI1 | VT_BYREF;
  V_ARRAYREF(&arrayRef) = &V_ARRAY(array.get());
  V_VT(&textRef) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&textRef) = &V_BSTR(text.get());
  // The references are handed over as they stand: the host keeps the values they point to.
  std::vector<VARIANT> args = {arrayRef};
  DISPPARAMS dp = {args.data(), nullptr, 1, 0};
  VARIANT result;
  ::VariantInit(&result);
  ASSERT_EQ(h.dispatch()->Invoke(UDP_DISPID(ntohl), IID_NULL, 0, DISPATCH_METHOD, &dp, &result,
                                 nullptr, nullptr),
            S_OK);
  ASSERT_EQ(V_VT(&result), VT_R8);
  EXPECT_EQ(V_R8(&result), 16909060.0);
  args = {textRef};
  dp.rgvarg = args.data();
  ::VariantClear(&result);
  ASSERT_EQ(h.dispatch()->Invoke(UDP_DISPID(ntohs), IID_NULL, 0, DISPATCH_METHOD, &dp, &result,
                                 nullptr, nullptr),
            S_OK);
  ASSERT_EQ(V_VT(&result), VT_I4);
  EXPECT_EQ(V_I4(&result), 16640);
  EXPECT_EQ(array.bytes(), (Bytes{0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(text.text(), L"A");
}

TEST(ByteOrder, NtohlAndNtohsFailForValuesWithoutEnoughBytes) {
  struct Case {
    const char* label;
    const wchar_t* method;
    std::vector<Var> args;
    SCODE scode;
    const std::wstring& description;
  } const cases[] = {
      {"three bytes",
       L"ntohl",
       {Var::Bytes({0x01, 0x02, 0x03})},
       kBadArgument,
       host::kBadArgumentMessage},
      {"one byte", L"ntohs", {Var::Bytes({0x01})}, kBadArgument, host::kBadArgumentMessage},
      {"empty array", L"ntohl", {Var::Bytes(Bytes{})}, kBadArgument, host::kBadArgumentMessage},
      {"empty array", L"ntohs", {Var::Bytes(Bytes{})}, kBadArgument, host::kBadArgumentMessage},
      {"one character is two bytes",
       L"ntohl",
       {Var(L"A")},
       kBadArgument,
       host::kBadArgumentMessage},
      {"empty text", L"ntohs", {Var(L"")}, kBadArgument, host::kBadArgumentMessage},
      {"number", L"ntohl", {Var(5)}, kBadArgument, host::kBadArgumentMessage},
      {"double", L"ntohs", {Var(5.0)}, kBadArgument, host::kBadArgumentMessage},
      {"boolean", L"ntohs", {Var(true)}, kBadArgument, host::kBadArgumentMessage},
      {"empty", L"ntohl", {Var()}, kBadArgument, host::kBadArgumentMessage},
      {"null", L"ntohs", {Null()}, kBadArgument, host::kBadArgumentMessage},
      {"array of longs",
       L"ntohl",
       {LongArray({1, 2, 3, 4})},
       kBadArgument,
       host::kBadArgumentMessage},
      {"no argument", L"ntohl", {}, kBadArgument, host::kBadArgumentMessage},
      {"no argument", L"ntohs", {}, kBadArgument, host::kBadArgumentMessage},
      {"two dimensions",
       L"ntohl",
       {TwoDimensionalBytes()},
       kOutOfMemory,
       host::kOutOfMemoryMessage},
      {"two dimensions",
       L"ntohs",
       {TwoDimensionalBytes()},
       kOutOfMemory,
       host::kOutOfMemoryMessage},
  };
  Host h;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.label) + (c.method[4] == L'l' ? " (ntohl)" : " (ntohs)"));
    auto r = h.Call(c.method, c.args);
    ASSERT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, c.scode);
    EXPECT_EQ(r.description, c.description);
  }
}

TEST(ByteOrder, ConvertingThereAndBackKeepsTheBitPatternNotTheSign) {
  struct Case {
    double host;
    double back;
  } const longs[] = {{-1, 4294967295.0},           {1, 1},
                     {3232235777.0, 3232235777.0}, {-2147483648.0, 2147483648.0},
                     {4294967296.0 + 7, 7},        {123456789.75, 123456789}};
  struct ShortCase {
    int host;
    LONG back;
  } const shorts[] = {{-1, 65535}, {80, 80}, {-32768, 32768}, {74565, 0x2345}};
  Host h;
  for (const auto& c : longs) {
    SCOPED_TRACE(c.host);
    Var bytes = h.MustCall(L"htonl", {Var(c.host)});
    EXPECT_EQ(h.MustCall(L"ntohl", {bytes}).r8(), c.back);
  }
  for (const auto& c : shorts) {
    SCOPED_TRACE(c.host);
    Var bytes = h.MustCall(L"htons", {Var(c.host)});
    EXPECT_EQ(h.MustCall(L"ntohs", {bytes}).i4(), c.back);
  }
}

// Neither success nor failure touches State or LastError, whether the port is closed or open.
TEST(ByteOrder, StateAndLastErrorStayAsTheyWereClosedAndOpen) {
  for (bool open : {false, true}) {
    SCOPED_TRACE(open ? "open" : "closed");
    Host h;
    if (open) {
      h.MustCall(L"Open", {Var(L"0")});
      ASSERT_TRUE(host::WaitForReady(h));
    }
    const short state = open ? 1 : 0;
    ASSERT_EQ(h.MustGet(L"State").i2(), state);
    h.MustPut(L"LastError", Var(4321));
    h.sink().Clear();

    EXPECT_EQ(h.MustCall(L"htonl", {Var(258.0)}).bytes(), (Bytes{0, 0, 1, 2}));
    EXPECT_EQ(h.MustCall(L"htons", {Var(258)}).bytes(), (Bytes{1, 2}));
    EXPECT_EQ(h.MustCall(L"ntohl", {Var::Bytes({0, 0, 1, 2})}).r8(), 258.0);
    EXPECT_EQ(h.MustCall(L"ntohs", {Var::Bytes({1, 2})}).i4(), 258);
    EXPECT_EQ(h.Call(L"ntohl", {Var::Bytes({1})}).scode, kBadArgument);
    EXPECT_EQ(h.Call(L"ntohs", {Var(7)}).scode, kBadArgument);
    EXPECT_EQ(h.Call(L"ntohs", {TwoDimensionalBytes()}).scode, kOutOfMemory);
    ASSERT_TRUE(host::PumpUntilIdle());

    EXPECT_EQ(h.MustGet(L"State").i2(), state);
    EXPECT_EQ(h.MustGet(L"LastError").i4(), 4321);
    EXPECT_EQ(h.MustGet(L"Socket").i4() != -1, open);
    EXPECT_TRUE(h.sink().events.empty());
  }
}
