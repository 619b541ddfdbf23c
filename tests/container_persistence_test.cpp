// The control's persisted properties as a form designer saves and loads them: through a property
// bag, a stream and a structured storage.
#include <gtest/gtest.h>
#include <ocidl.h>

#include "support/container_fixture.h"
#include "support/host.h"
#include "support/property_bag.h"
#include "support/trace.h"

namespace {

using Container = container::FormTest;
using container::TestContainer;
using host::MustGet;
using host::PropertyBag;

const wchar_t* const kOwnProperties[] = {L"Broadcast",   L"LastError", L"InetIp",    L"InetName",
                                         L"InetAddress", L"UserFlag",  L"UserData1", L"UserData2",
                                         L"UserData3",   L"UserData4", L"UserData5", L"RCVBUF",
                                         L"SNDBUF"};

// A saved form: every persisted property with a value other than its default.
PropertyBag SavedForm() {
  PropertyBag bag;
  bag.Set(L"Broadcast", host::Var(true));
  bag.Set(L"LastError", host::Var(10054));
  bag.Set(L"InetIp", host::Var(0x7F000001));
  bag.Set(L"InetName", host::Var(L"localhost"));
  bag.Set(L"InetAddress", host::Var(host::kLoopbackText));
  bag.Set(L"UserFlag", host::Var(L"flag"));
  bag.Set(L"UserData1", host::Var(L"一"));
  bag.Set(L"UserData2", host::Var(L"two"));
  bag.Set(L"UserData3", host::Var(L"three"));
  bag.Set(L"UserData4", host::Var(L"four"));
  bag.Set(L"UserData5", host::Var(L"five"));
  bag.Set(L"RCVBUF", host::Var(65536));
  bag.Set(L"SNDBUF", host::Var(32768));
  return bag;
}

// The value as text, whatever its stored type.
std::wstring AsText(const host::Var& v) {
  fw::unique_variant text;
  if (FAILED(::VariantChangeType(&text, const_cast<VARIANT*>(v.get()), 0, VT_BSTR))) return L"?";
  return V_BSTR(&text) ? V_BSTR(&text) : L"";
}

void ExpectSameOwnProperties(const PropertyBag& got, const PropertyBag& want,
                             const host::Where& where = host::Where::current()) {
  const host::CallerTrace trace(where);
  for (const wchar_t* name : kOwnProperties) {
    const host::Var* g = got.Find(name);
    const host::Var* w = want.Find(name);
    ASSERT_NE(g, nullptr) << "not saved: " << testing::PrintToString(std::wstring(name));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(AsText(*g), AsText(*w)) << testing::PrintToString(std::wstring(name));
  }
}

fw::com_ptr<IUnknown> NewControl(TestContainer& site) {
  auto control = container::CreateFromServer(CLSID_Udp);
  control.query<IOleObject>(IID_IOleObject)->SetClientSite(&site);
  return control;
}

void Unsite(const fw::com_ptr<IUnknown>& control) {
  control.query<IOleObject>(IID_IOleObject)->SetClientSite(nullptr);
}

TEST_F(Container, ANewControlSavesTheDefaults) {
  SiteAndInitNew();
  PropertyBag saved;
  ASSERT_EQ(control_.query<IPersistPropertyBag>(IID_IPersistPropertyBag)->Save(&saved, TRUE, TRUE),
            S_OK);
  PropertyBag defaults;
  for (const wchar_t* name : {L"InetName", L"InetAddress", L"UserFlag", L"UserData1", L"UserData2",
                              L"UserData3", L"UserData4", L"UserData5"})
    defaults.Set(name, host::Var(L""));
  for (const wchar_t* name : {L"LastError", L"InetIp", L"RCVBUF", L"SNDBUF"})
    defaults.Set(name, host::Var(0));
  defaults.Set(L"Broadcast", host::Var(false));
  ExpectSameOwnProperties(saved, defaults);
  EXPECT_EQ(control_.query<IPersistStreamInit>(IID_IPersistStreamInit)->IsDirty(), S_FALSE);
}

TEST_F(Container, SavesAndReloadsEveryPersistedPropertyThroughStreamBagAndStorage) {
  const PropertyBag form = SavedForm();
  PropertyBag input = form;
  ASSERT_EQ(ole_->SetClientSite(&site_), S_OK);
  ASSERT_EQ(control_.query<IPersistPropertyBag>(IID_IPersistPropertyBag)->Load(&input, nullptr),
            S_OK);
  EXPECT_EQ(MustGet(Dispatch(), L"UserData1").text(), L"一");
  EXPECT_EQ(MustGet(Dispatch(), L"LastError").i4(), 10054);
  EXPECT_EQ(MustGet(Dispatch(), L"Broadcast").boolean(), true);
  EXPECT_EQ(MustGet(Dispatch(), L"State").i2(), 0) << "State is not persisted";

  // Into a stream, and into a second control from it.
  fw::com_ptr<IStream> stream;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
  ASSERT_EQ(control_.query<IPersistStreamInit>(IID_IPersistStreamInit)->Save(stream.get(), TRUE),
            S_OK);
  ASSERT_EQ(stream->Seek({}, STREAM_SEEK_SET, nullptr), S_OK);
  TestContainer site2;
  auto second = NewControl(site2);
  ASSERT_EQ(second.query<IPersistStreamInit>(IID_IPersistStreamInit)->Load(stream.get()), S_OK);
  PropertyBag fromStream;
  ASSERT_EQ(
      second.query<IPersistPropertyBag>(IID_IPersistPropertyBag)->Save(&fromStream, TRUE, TRUE),
      S_OK);
  ExpectSameOwnProperties(fromStream, form);
  EXPECT_EQ(fromStream.Find(L"State"), nullptr);
  EXPECT_EQ(fromStream.Find(L"AnyData"), nullptr);
  EXPECT_EQ(fromStream.Find(L"LocalAddress"), nullptr);

  // Into a structured storage, and into a third control from it.
  fw::com_ptr<ILockBytes> bytes;
  ASSERT_EQ(::CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.put()), S_OK);
  fw::com_ptr<IStorage> storage;
  ASSERT_EQ(::StgCreateDocfileOnILockBytes(
                bytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.put()),
            S_OK);
  ASSERT_EQ(second.query<IPersistStorage>(IID_IPersistStorage)->Save(storage.get(), TRUE), S_OK);
  ASSERT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
  CLSID stored = {};
  EXPECT_EQ(::ReadClassStg(storage.get(), &stored), S_OK);
  EXPECT_TRUE(IsEqualCLSID(stored, CLSID_Udp));
  TestContainer site3;
  auto third = NewControl(site3);
  ASSERT_EQ(third.query<IPersistStorage>(IID_IPersistStorage)->Load(storage.get()), S_OK);
  PropertyBag fromStorage;
  ASSERT_EQ(
      third.query<IPersistPropertyBag>(IID_IPersistPropertyBag)->Save(&fromStorage, TRUE, TRUE),
      S_OK);
  ExpectSameOwnProperties(fromStorage, form);

  // A loaded control is initialised once: a second load is refused.
  EXPECT_EQ(third.query<IPersistStorage>(IID_IPersistStorage)->Load(storage.get()),
            CO_E_ALREADYINITIALIZED);
  Unsite(second);
  Unsite(third);
}

TEST_F(Container, InitialisesNewFromAStorage) {
  ASSERT_EQ(ole_->SetClientSite(&site_), S_OK);
  fw::com_ptr<ILockBytes> bytes;
  ASSERT_EQ(::CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.put()), S_OK);
  fw::com_ptr<IStorage> storage;
  ASSERT_EQ(::StgCreateDocfileOnILockBytes(
                bytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.put()),
            S_OK);
  ASSERT_EQ(control_.query<IPersistStorage>(IID_IPersistStorage)->InitNew(storage.get()), S_OK);
  EXPECT_EQ(MustGet(Dispatch(), L"LastError").i4(), 0);
  EXPECT_EQ(MustGet(Dispatch(), L"UserData5").text(), L"");
}

}  // namespace
