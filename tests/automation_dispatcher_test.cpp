// The table interpreter on its own: what a member receives from a host's arguments, and what the
// host gets back, for a probe table that records every call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/automation_error.h"
#include "framework/dispatcher.h"
#include "support/host.h"

namespace {

using fw::DispArgs;
using host::Var;

struct Probe {
  short number = 7;
  BOOL flag = FALSE;
  std::wstring label = L"old";
  int flagNotified = 0;
  int calls = 0;
  std::vector<std::wstring> texts;
  double r8 = 0;
  LONG i4 = 0;
  BOOL boolean = -5;
  VARTYPE variantType = VT_ILLEGAL;
  SCODE variantError = 0;
  VARIANT* variantSeen = nullptr;
  Var any;
  void OnFlagPut() { ++flagNotified; }
};
Probe g;
using Table = fw::DispTable<Probe>;

const Table::Entry kProbe[] = {
    Table::Member<&Probe::number>(fw::DeclareProperty(L"Number", 1, VT_I2)),
    Table::Member<&Probe::flag, &Probe::OnFlagPut>(fw::DeclareProperty(L"Flag", 2, VT_BOOL)),
    Table::Member<&Probe::label>(fw::DeclareProperty(L"Label", 3, VT_BSTR)),
    Table::Accessors(fw::DeclareProperty(L"Fixed", 4, VT_I4, fw::DispAccess::ReadOnly),
                     [](Probe&, VARIANT* r) { fw::ResultI4(r, 42); }),
    Table::Accessors(
        fw::DeclareProperty(L"Any", 5, VT_VARIANT),
        [](Probe& p, VARIANT* r) { ::VariantCopy(r, p.any.get()); },
        [](Probe& p, const DispArgs& a) { p.any = Var(*a.Variant(0)); }),
    Table::Method(fw::DeclareMethod(L"TakeText", 10, VT_EMPTY, {{L"text", VT_BSTR}}),
                  [](Probe&, const DispArgs& a, VARIANT*) {
                    ++g.calls;
                    g.texts.push_back(std::wstring(a.Text(0)));
                  }),
    Table::Method(fw::DeclareMethod(L"TakeDouble", 11, VT_EMPTY, {{L"value", VT_R8}}),
                  [](Probe&, const DispArgs& a, VARIANT*) {
                    ++g.calls;
                    g.r8 = a.R8(0);
                  }),
    Table::Method(fw::DeclareMethod(L"TakeLong", 12, VT_EMPTY, {{L"value", VT_I4}}),
                  [](Probe&, const DispArgs& a, VARIANT*) {
                    ++g.calls;
                    g.i4 = a.I4(0);
                  }),
    Table::Method(fw::DeclareMethod(L"TakeBool", 13, VT_EMPTY, {{L"value", VT_BOOL}}),
                  [](Probe&, const DispArgs& a, VARIANT*) {
                    ++g.calls;
                    g.boolean = a.Bool(0);
                  }),
    Table::Method(
        fw::DeclareMethod(L"TakeThree", 14, VT_EMPTY,
                          {{L"first", VT_BSTR}, {L"second", VT_BSTR}, {L"data", VT_VARIANT}}),
        [](Probe&, const DispArgs& a, VARIANT*) {
          ++g.calls;
          g.texts = {std::wstring(a.Text(0)), std::wstring(a.Text(1))};
          g.variantSeen = a.Variant(2);
          g.variantType = V_VT(a.Variant(2));
          if (V_VT(a.Variant(2)) == VT_ERROR) g.variantError = V_ERROR(a.Variant(2));
        }),
    Table::Method(fw::DeclareMethod(L"TakeData", 15, VT_EMPTY, {{L"data", VT_VARIANT}}),
                  [](Probe&, const DispArgs& a, VARIANT*) {
                    ++g.calls;
                    g.variantSeen = a.Variant(0);
                    g.variantType = V_VT(a.Variant(0));
                    if (V_VT(a.Variant(0)) == VT_ERROR) g.variantError = V_ERROR(a.Variant(0));
                  }),
    // Declared R8 but the body hands back a long: the caller still gets the declared type.
    Table::Method(fw::DeclareMethod(L"GiveDouble", 16, VT_R8),
                  [](Probe&, const DispArgs&, VARIANT* r) { fw::ResultI4(r, 65535); }),
    Table::Method(fw::DeclareMethod(L"Fail", 17, VT_EMPTY),
                  [](Probe&, const DispArgs&, VARIANT*) {
                    ++g.calls;
                    fw::ThrowError(host::kScodeBadArgument, host::kBadArgumentMessage);
                  }),
    Table::Method(fw::DeclareMethod(L"GiveText", 18, VT_BSTR),
                  [](Probe&, const DispArgs&, VARIANT* r) { fw::ResultText(r, L"Ü"); }),
};

struct Outcome {
  HRESULT hr;
  UINT argErr;
  Var value;
  SCODE scode = 0;
  std::wstring description;
  bool descriptionIsNull = true;
};

class Dispatcher : public testing::Test {
 protected:
  void SetUp() override { g = Probe(); }

  // Calls as a host does: arguments in natural order, handed over last first.
  Outcome Invoke(DISPID id, WORD flags, std::vector<Var> args, bool wantResult = true,
                 std::vector<DISPID> named = {}) {
    std::vector<VARIANT> raw;
    for (auto it = args.rbegin(); it != args.rend(); ++it) raw.push_back(*it->get());
    DISPPARAMS dp = {raw.data(), named.data(), static_cast<UINT>(raw.size()),
                     static_cast<UINT>(named.size())};
    VARIANT result;
    ::VariantInit(&result);
    EXCEPINFO ei = {};
    Outcome out{};
    out.argErr = 0xFFFF;
    out.hr = dispatcher.Invoke(g, true, id, IID_NULL, flags, &dp, wantResult ? &result : nullptr,
                               &ei, &out.argErr);
    out.value = Var(result);
    ::VariantClear(&result);
    out.scode = ei.scode;
    out.descriptionIsNull = ei.bstrDescription == nullptr;
    if (ei.bstrDescription) out.description = ei.bstrDescription;
    ::SysFreeString(ei.bstrDescription);
    ::SysFreeString(ei.bstrSource);
    ::SysFreeString(ei.bstrHelpFile);
    return out;
  }
  Outcome Put(DISPID id, Var value) {
    return Invoke(id, DISPATCH_PROPERTYPUT, {value}, false, {DISPID_PROPERTYPUT});
  }

  fw::Dispatcher<Probe> dispatcher{kProbe};
};

Var ByRef(VARIANT* inner) {
  VARIANT v;
  V_VT(&v) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&v) = inner;
  return Var(v);
}

TEST_F(Dispatcher, TextParametersReceiveTheTextOfAnyConvertibleValue) {
  EXPECT_EQ(Invoke(10, DISPATCH_METHOD, {Var(5000)}).hr, S_OK);
  EXPECT_EQ(Invoke(10, DISPATCH_METHOD, {Var(5000.0)}).hr, S_OK);
  EXPECT_EQ(Invoke(10, DISPATCH_METHOD, {Var(L"")}).hr, S_OK);
  EXPECT_EQ(Invoke(10, DISPATCH_METHOD, {Var::NullBstr()}).hr, S_OK);
  EXPECT_EQ(Invoke(10, DISPATCH_METHOD, {Var(L"東京 ü")}).hr, S_OK);
  // A script passes its variables by reference.
  Var inner(L"by ref");
  EXPECT_EQ(Invoke(10, DISPATCH_METHOD, {ByRef(inner.get())}).hr, S_OK);
  EXPECT_EQ(g.texts, (std::vector<std::wstring>{L"5000", L"5000", L"", L"", L"東京 ü", L"by ref"}));
}

TEST_F(Dispatcher, NumbersArriveConverted) {
  EXPECT_EQ(Invoke(11, DISPATCH_METHOD, {Var(4294967295.0)}).hr, S_OK);
  EXPECT_EQ(g.r8, 4294967295.0);
  EXPECT_EQ(Invoke(11, DISPATCH_METHOD, {Var(L"4294967295")}).hr, S_OK);
  EXPECT_EQ(g.r8, 4294967295.0);
  EXPECT_EQ(Invoke(12, DISPATCH_METHOD, {Var(70000)}).hr, S_OK);
  EXPECT_EQ(g.i4, 70000);
  EXPECT_EQ(Invoke(12, DISPATCH_METHOD, {Var::Short(-2)}).hr, S_OK);
  EXPECT_EQ(g.i4, -2);
  EXPECT_EQ(Invoke(13, DISPATCH_METHOD, {Var(5)}).hr, S_OK);
  EXPECT_EQ(g.boolean, 1);
  EXPECT_EQ(Invoke(13, DISPATCH_METHOD, {Var(0)}).hr, S_OK);
  EXPECT_EQ(g.boolean, 0);
  EXPECT_EQ(g.calls, 6);
}

TEST_F(Dispatcher, AFailedConversionNamesTheArgumentAndNeverEntersTheMember) {
  auto r = Invoke(12, DISPATCH_METHOD, {Var(L"abc")});
  EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(r.argErr, 0u);
  r = Invoke(12, DISPATCH_METHOD, {Var(1e12)});
  EXPECT_EQ(r.hr, DISP_E_OVERFLOW);
  EXPECT_EQ(r.argErr, 0u);
  // The first of three parameters is the last element of the argument array.
  VARIANT unknown;
  V_VT(&unknown) = VT_UNKNOWN;
  V_UNKNOWN(&unknown) = nullptr;
  r = Invoke(14, DISPATCH_METHOD, {Var(unknown), Var(L"x"), Var(1)});
  EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(r.argErr, 2u);
  EXPECT_EQ(g.calls, 0);
}

TEST_F(Dispatcher, MissingVariantsStandInAndOtherMissingArgumentsAreRefused) {
  ASSERT_EQ(Invoke(14, DISPATCH_METHOD, {Var(L"a"), Var(L"b")}).hr, S_OK);
  EXPECT_EQ(g.variantType, VT_ERROR);
  EXPECT_EQ(g.variantError, DISP_E_PARAMNOTFOUND);
  g.variantType = VT_ILLEGAL;
  ASSERT_EQ(Invoke(15, DISPATCH_METHOD, {}).hr, S_OK);
  EXPECT_EQ(g.variantType, VT_ERROR);
  EXPECT_EQ(g.variantError, DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(g.calls, 2);

  EXPECT_EQ(Invoke(14, DISPATCH_METHOD, {Var(L"a")}).hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(Invoke(10, DISPATCH_METHOD, {}).hr, DISP_E_PARAMNOTOPTIONAL);
  // A host that marks an argument as left out gets the same answer for a typed parameter.
  auto r = Invoke(10, DISPATCH_METHOD, {Var::Missing()});
  EXPECT_EQ(r.hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(r.argErr, 0u);
  EXPECT_EQ(Invoke(15, DISPATCH_METHOD, {Var(1), Var(2)}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(g.calls, 2);
}

TEST_F(Dispatcher, VariantParametersGetTheCallersOwnVariantIncludingReferences) {
  Var data = Var::Bytes({1, 2, 3});
  VARIANT ref;
  V_VT(&ref) = VT_ARRAY | VT_UI1 | VT_BYREF;
  V_ARRAYREF(&ref) = &V_ARRAY(data.get());
  std::vector<VARIANT> raw = {ref};
  DISPPARAMS dp = {raw.data(), nullptr, 1, 0};
  ASSERT_EQ(
      dispatcher.Invoke(g, true, 15, IID_NULL, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(g.variantSeen, &raw[0]);
  EXPECT_EQ(g.variantType, VT_ARRAY | VT_UI1 | VT_BYREF);
}

TEST_F(Dispatcher, MemberPutsConvertStoreAndNotifyOnEveryWrite) {
  EXPECT_EQ(Put(2, Var(5)).hr, S_OK);
  EXPECT_EQ(g.flag, 1);
  EXPECT_EQ(Invoke(2, DISPATCH_PROPERTYGET, {}).value.boolean(), true);
  EXPECT_EQ(Put(2, Var(5)).hr, S_OK);
  EXPECT_EQ(g.flagNotified, 2);
  auto r = Put(2, Var(L"abc"));
  EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(r.argErr, 0u);
  EXPECT_EQ(g.flag, 1);
  EXPECT_EQ(g.flagNotified, 2);

  EXPECT_EQ(Put(1, Var(40000)).hr, DISP_E_OVERFLOW);
  EXPECT_EQ(g.number, 7);
  EXPECT_EQ(Put(1, Var(L"12")).hr, S_OK);
  EXPECT_EQ(g.number, 12);
  EXPECT_EQ(Put(3, Var::NullBstr()).hr, S_OK);
  EXPECT_EQ(g.label, L"");
  EXPECT_EQ(Put(3, Var(3.5)).hr, S_OK);
  EXPECT_EQ(g.label, L"3.5");
}

TEST_F(Dispatcher, MethodCallOnAPropertyReadsWithoutArgumentsAndWritesWithThem) {
  EXPECT_EQ(Invoke(1, DISPATCH_METHOD, {}).value.i2(), 7);
  EXPECT_EQ(Invoke(1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}).value.i2(), 7);
  EXPECT_EQ(Invoke(4, DISPATCH_METHOD, {}).value.i4(), 42);
  EXPECT_EQ(Invoke(1, DISPATCH_METHOD, {Var(9)}).hr, S_OK);
  EXPECT_EQ(g.number, 9);
  EXPECT_EQ(Invoke(1, DISPATCH_METHOD, {Var(1), Var(2)}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(g.number, 9);
}

TEST_F(Dispatcher, CountsAndSlotsAreCheckedBeforeTheEntryRuns) {
  EXPECT_EQ(Invoke(1, DISPATCH_PROPERTYGET, {Var(1)}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Invoke(1, DISPATCH_PROPERTYGET, {}, false).hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(Invoke(1, DISPATCH_PROPERTYPUT, {Var(1), Var(2)}, false, {DISPID_PROPERTYPUT}).hr,
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Invoke(1, DISPATCH_PROPERTYPUT, {}, false).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Put(10, Var(L"x")).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Invoke(10, DISPATCH_PROPERTYPUTREF, {Var(L"x")}, false).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Invoke(99, DISPATCH_METHOD, {}).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Invoke(1, 0, {}).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Invoke(10, DISPATCH_METHOD, {Var(L"x")}, true, {0}).hr, DISP_E_NONAMEDARGS);
  EXPECT_EQ(g.calls, 0);
  EXPECT_EQ(g.number, 7);
}

TEST_F(Dispatcher, ReadOnlyPutsRaiseSetNotSupportedWithAnEmptyDescription) {
  auto r = Put(4, Var(1));
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, fw::kSetNotSupported);
  EXPECT_EQ(r.description, L"");
  EXPECT_EQ(Invoke(4, DISPATCH_PROPERTYGET, {}).value.i4(), 42);
}

TEST_F(Dispatcher, ExceptionsReachTheCallerWithStatusAndUnchangedText) {
  auto r = Invoke(17, DISPATCH_METHOD, {});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, host::kScodeBadArgument);
  EXPECT_EQ(r.description, host::kBadArgumentMessage);
  // Without an exception record the status alone reports it.
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(
      dispatcher.Invoke(g, true, 17, IID_NULL, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
      DISP_E_EXCEPTION);
}

TEST_F(Dispatcher, ResultsCarryTheDeclaredType) {
  auto r = Invoke(16, DISPATCH_METHOD, {});
  EXPECT_EQ(r.value.r8(), 65535.0);
  EXPECT_EQ(Invoke(18, DISPATCH_METHOD, {}).value.text(), L"Ü");
  // No result slot: the call still runs.
  EXPECT_EQ(Invoke(16, DISPATCH_METHOD, {}, false).hr, S_OK);
  // A VARIANT property hands back what the accessor returned.
  EXPECT_EQ(Put(5, Var::Bytes({9, 8})).hr, S_OK);
  EXPECT_EQ(Invoke(5, DISPATCH_PROPERTYGET, {}).value.bytes(), (std::vector<unsigned char>{9, 8}));
}

TEST_F(Dispatcher, GuardsComeInTheirOrder) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  ::VariantInit(&result);
  const IID other = IID_IDispatch;
  // An interface identifier is refused before the initialisation is looked at.
  EXPECT_EQ(
      dispatcher.Invoke(g, false, 1, other, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
      DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(dispatcher.Invoke(g, false, 99, IID_NULL, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                              nullptr),
            E_UNEXPECTED);
  DISPID named = 0;
  VARIANT arg;
  V_VT(&arg) = VT_I4;
  V_I4(&arg) = 1;
  DISPPARAMS withName = {&arg, &named, 1, 1};
  // Named arguments are refused before the DISPID is looked up.
  EXPECT_EQ(dispatcher.Invoke(g, true, 99, IID_NULL, DISPATCH_METHOD, &withName, nullptr, nullptr,
                              nullptr),
            DISP_E_NONAMEDARGS);
}

TEST_F(Dispatcher, NamesMatchWithoutRegardToCase) {
  const wchar_t* names[] = {L"takethree", L"TAKETHREE", L"tAkEtHrEe"};
  for (const wchar_t* n : names) {
    LPOLESTR name = const_cast<LPOLESTR>(n);
    DISPID id = 0;
    EXPECT_EQ(dispatcher.GetIDsOfNames(&name, 1, &id), S_OK);
    EXPECT_EQ(id, 14);
  }
  LPOLESTR withArgs[] = {const_cast<LPOLESTR>(L"TakeThree"), const_cast<LPOLESTR>(L"first")};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(dispatcher.GetIDsOfNames(withArgs, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 14);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  LPOLESTR unknown = const_cast<LPOLESTR>(L"Nothing");
  EXPECT_EQ(dispatcher.GetIDsOfNames(&unknown, 1, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
}

}  // namespace

namespace {
std::vector<std::string> g_barrierLines;
void RecordBarrierLine(const char* line) { g_barrierLines.emplace_back(line); }
}  // namespace

// The barrier logs a fault (what it caught, where it stands, the module that wrote it) and not an
// automation error, which a script's bad argument makes every day.
TEST(Barrier, LogsFaultsWithWhereTheyWereCaughtAndNoAutomationError) {
  const auto previous = fw::SetBarrierLogHook(RecordBarrierLine);
  g_barrierLines.clear();
  const int line = __LINE__ + 1;
  EXPECT_EQ(fw::ComBarrier([] { throw 42; }), E_UNEXPECTED);
  EXPECT_EQ(fw::ComBarrier([] { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_EQ(fw::ComBarrier([] { fw::ThrowError(0x800A74D5, L"Invalid argument"); }),
            static_cast<HRESULT>(0x800A74D5));
  fw::SetBarrierLogHook(previous);
  ASSERT_EQ(g_barrierLines.size(), 2u);
  EXPECT_EQ(g_barrierLines[0].rfind("udp_tests.exe: 0x8000FFFF at a COM boundary: an unexpected", 0),
            0u)
      << g_barrierLines[0];
  EXPECT_NE(g_barrierLines[0].find("automation_dispatcher_test.cpp:" + std::to_string(line)),
            std::string::npos)
      << g_barrierLines[0];
  EXPECT_NE(g_barrierLines[1].find("0x8007000E at a COM boundary: out of memory"), std::string::npos);
}
