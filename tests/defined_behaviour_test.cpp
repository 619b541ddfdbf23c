// Inputs at the edges: port texts beyond the range of int, and AnyData values whose copy fails.
#include <gtest/gtest.h>

#include "support/datagrams.h"

using host::Host;
using host::Var;

namespace {

using Bytes = std::vector<unsigned char>;

// Texts naming numbers far outside int whose low 16 bits are port.
std::wstring HugeText(u_short port) { return std::to_wstring(65536ULL * 1000000 + port); }
std::wstring HugeNegativeText(u_short port) {
  return L"-" + std::to_wstring(65536ULL * 1000000 - port);
}

struct PortTextCase {
  const char* name;
  bool local;  // the text goes to Open, else to SendTo
  std::wstring (*text)(u_short port);
};
std::ostream& operator<<(std::ostream& os, const PortTextCase& c) { return os << c.name; }

}  // namespace

class OutOfRangePortText : public testing::TestWithParam<PortTextCase> {};

TEST_P(OutOfRangePortText, NamesTheLow16BitsOfItsValue) {
  const PortTextCase& c = GetParam();
  Host h;
  if (c.local) {
    const u_short port = host::FreeUdpPort();
    h.MustCall(L"Open", {Var(c.text(port))});
    EXPECT_EQ(host::BoundPort(h), port);
    return;
  }
  host::PeerSocket peer;
  host::OpenAndWaitReady(h);
  h.MustCall(L"SendTo", {Var(host::kLoopbackText), Var(c.text(peer.port())), Var::Bytes({4})});
  ASSERT_TRUE(h.WaitForEvents(host::kSent, 1)) << "no look-up";
  Bytes got;
  ASSERT_TRUE(peer.Receive(got));
  EXPECT_EQ(got, Bytes{4});
}

INSTANTIATE_TEST_SUITE_P(Texts, OutOfRangePortText,
                         testing::Values(PortTextCase{"LocalHuge", true, HugeText},
                                         PortTextCase{"LocalHugeNegative", true, HugeNegativeText},
                                         PortTextCase{"RemoteHuge", false, HugeText},
                                         PortTextCase{"RemoteHugeNegative", false,
                                                      HugeNegativeText}),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

// A host's record type whose copies run out of memory on request.
class RecordType : public IRecordInfo {
 public:
  bool copiesFail = false;
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IRecordInfo) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP RecordInit(PVOID) override { return S_OK; }
  STDMETHODIMP RecordClear(PVOID) override { return S_OK; }
  STDMETHODIMP RecordCopy(PVOID from, PVOID to) override {
    *static_cast<LONG*>(to) = *static_cast<LONG*>(from);
    return S_OK;
  }
  STDMETHODIMP GetGuid(GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetName(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetSize(ULONG* size) override {
    *size = sizeof(LONG);
    return copiesFail ? E_OUTOFMEMORY : S_OK;
  }
  STDMETHODIMP GetTypeInfo(ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetField(PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFieldNoCopy(PVOID, LPCOLESTR, VARIANT*, PVOID*) override { return E_NOTIMPL; }
  STDMETHODIMP PutField(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP PutFieldNoCopy(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFieldNames(ULONG*, BSTR*) override { return E_NOTIMPL; }
  BOOL STDMETHODCALLTYPE IsMatchingType(IRecordInfo*) override { return FALSE; }
  PVOID STDMETHODCALLTYPE RecordCreate() override { return nullptr; }
  STDMETHODIMP RecordCreateCopy(PVOID, PVOID*) override { return E_NOTIMPL; }
  STDMETHODIMP RecordDestroy(PVOID) override { return S_OK; }
};

}  // namespace

TEST(AnyData, ACopyThatFailsIsReported) {
  RecordType type;  // outlives the control, which may hold a copy of the record
  LONG record = 42;
  Host h;
  h.MustPut(L"AnyData", Var(L"before"));
  VARIANT value{};
  V_VT(&value) = VT_RECORD;
  V_RECORD(&value) = &record;
  V_RECORDINFO(&value) = &type;
  // Straight through IDispatch: the host's own copies of such a value would fail first.
  auto putRecord = [&](EXCEPINFO* error) {
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &put, 1, 1};
    return h.dispatch()->Invoke(UDP_DISPID(AnyData), IID_NULL, 0, DISPATCH_PROPERTYPUT, &params,
                                nullptr, error, nullptr);
  };
  type.copiesFail = true;
  EXCEPINFO error = {};
  EXPECT_EQ(putRecord(&error), DISP_E_EXCEPTION);
  EXPECT_EQ(error.scode, host::kScodeOutOfMemory);
  ::SysFreeString(error.bstrDescription);
  ::SysFreeString(error.bstrSource);
  EXPECT_EQ(h.MustGet(L"AnyData").text(), L"before") << "a put that failed changes nothing";

  type.copiesFail = false;
  ASSERT_EQ(putRecord(nullptr), S_OK);
  type.copiesFail = true;
  const auto r = h.Get(L"AnyData");
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, host::kScodeOutOfMemory);
  EXPECT_EQ(r.value.vt(), VT_EMPTY);
  type.copiesFail = false;
}
