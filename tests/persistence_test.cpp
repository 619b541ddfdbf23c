// The persisted properties: names, order, defaults, and a save/load round trip.
#include <gtest/gtest.h>

#include <cwctype>
#include <set>

#include "control/surface.h"
#include "support/host.h"
#include "support/property_bag.h"

using host::Host;
using host::PropertyBag;
using host::Var;

namespace {

template <typename I>
fw::com_ptr<I> Query(Host& h, REFIID iid) {
  fw::com_ptr<I> p;
  h.dispatch()->QueryInterface(iid, p.put_void());
  return p;
}

const std::vector<std::wstring> kPersistedOrder = {
    L"_Version",  L"_ExtentX",    L"_ExtentY", L"Broadcast", L"LastError", L"InetIp",
    L"InetName",  L"InetAddress", L"UserFlag", L"UserData1", L"UserData2", L"UserData3",
    L"UserData4", L"UserData5",   L"RCVBUF",   L"SNDBUF"};

std::wstring AsText(const Var& v) {
  fw::unique_variant text;
  ::VariantChangeType(&text, const_cast<VARIANT*>(v.get()), 0, VT_BSTR);
  return V_VT(&text) == VT_BSTR ? std::wstring(V_BSTR(&text)) : L"?";
}

// Every persisted property with a value other than its default.
PropertyBag SavedForm() {
  PropertyBag bag;
  bag.Set(L"_Version", Var(0x00010000));
  bag.Set(L"Broadcast", Var(true));
  bag.Set(L"LastError", Var(10054));
  bag.Set(L"InetIp", Var(static_cast<int>(host::kLoopbackHostOrder)));
  bag.Set(L"InetName", Var(L"localhost"));
  bag.Set(L"InetAddress", Var(host::kLoopbackText));
  bag.Set(L"UserFlag", Var(L"flag"));
  for (int i = 1; i <= 5; ++i)
    bag.Set(L"UserData" + std::to_wstring(i), Var(L"data " + std::to_wstring(i)));
  bag.Set(L"RCVBUF", Var(16384));
  bag.Set(L"SNDBUF", Var(8192));
  return bag;
}

}  // namespace

TEST(Persistence, SavesTheVersionTheExtentAndThePropertiesInOrder) {
  Host h;
  PropertyBag bag;
  ASSERT_EQ(Query<IPersistPropertyBag>(h, IID_IPersistPropertyBag)->Save(&bag, TRUE, TRUE), S_OK);
  EXPECT_EQ(bag.Names(), kPersistedOrder);
  EXPECT_EQ(bag.Find(L"_Version")->get()->ulVal, 0x00010000u);
}

// The list's Saving column against the form: Rcvbuf and Sndbuf are saved under their names in
// capitals, as earlier versions saved them; names beginning with "_" are the framework's.
TEST(Persistence, SavesExactlyThePropertiesTheListMarksSaved) {
  Host h;
  PropertyBag bag;
  ASSERT_EQ(Query<IPersistPropertyBag>(h, IID_IPersistPropertyBag)->Save(&bag, TRUE, TRUE), S_OK);
  auto upper = [](std::wstring name) {
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    return name;
  };
  std::set<std::wstring> saved, marked;
  for (const std::wstring& name : bag.Names())
    if (name.rfind(L"_", 0) != 0) saved.insert(upper(name));
  for (const udp::SurfaceMember* m : udp::kSurface)
    if (m->saving == udp::Saving::Saved) marked.insert(upper(m->name));
  EXPECT_EQ(saved, marked);
}

TEST(Persistence, NewControlHasTheDefaults) {
  Host h;
  PropertyBag bag;
  Query<IPersistPropertyBag>(h, IID_IPersistPropertyBag)->Save(&bag, TRUE, TRUE);
  EXPECT_FALSE(bag.Find(L"Broadcast")->boolean());
  for (const wchar_t* n : {L"LastError", L"InetIp", L"RCVBUF", L"SNDBUF"})
    EXPECT_EQ(bag.Find(n)->i4(), 0) << n;
  for (const wchar_t* n : {L"InetName", L"InetAddress", L"UserFlag", L"UserData1", L"UserData5"})
    EXPECT_EQ(bag.Find(n)->text(), L"") << n;
}

TEST(Persistence, LoadedValuesComeBackUnchangedWhenSavedAgain) {
  PropertyBag saved = SavedForm();
  Host h(Host::Init::None);
  ASSERT_EQ(Query<IPersistPropertyBag>(h, IID_IPersistPropertyBag)->Load(&saved, nullptr), S_OK);
  EXPECT_EQ(h.MustGet(L"UserData3").text(), L"data 3");
  EXPECT_EQ(h.MustGet(L"LastError").i4(), 10054);
  EXPECT_EQ(h.MustGet(L"InetIp").i4(), host::kLoopbackHostOrder);
  // Loading starts no look-up and leaves the state alone.
  EXPECT_EQ(h.MustGet(L"State").i2(), 0);
  PropertyBag again;
  Query<IPersistPropertyBag>(h, IID_IPersistPropertyBag)->Save(&again, TRUE, TRUE);
  for (auto& [name, value] : saved.values) {
    const Var* v = again.Find(name);
    ASSERT_NE(v, nullptr) << std::string(name.begin(), name.end());
    EXPECT_EQ(AsText(*v), AsText(value)) << std::string(name.begin(), name.end());
  }
}

TEST(Persistence, StreamRoundTripRestoresEveryPersistedProperty) {
  PropertyBag saved = SavedForm();
  Host first(Host::Init::None);
  Query<IPersistPropertyBag>(first, IID_IPersistPropertyBag)->Load(&saved, nullptr);
  first.MustPut(L"State", Var::Short(3));  // not persisted

  fw::com_ptr<IStream> stream;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
  ASSERT_EQ(Query<IPersistStreamInit>(first, IID_IPersistStreamInit)->Save(stream.get(), TRUE),
            S_OK);
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);

  Host second(Host::Init::None);
  ASSERT_EQ(Query<IPersistStreamInit>(second, IID_IPersistStreamInit)->Load(stream.get()), S_OK);
  EXPECT_TRUE(second.MustGet(L"Broadcast").boolean());
  EXPECT_EQ(second.MustGet(L"LastError").i4(), 10054);
  EXPECT_EQ(second.MustGet(L"InetName").text(), L"localhost");
  EXPECT_EQ(second.MustGet(L"InetAddress").text(), host::kLoopbackText);
  EXPECT_EQ(second.MustGet(L"UserFlag").text(), L"flag");
  EXPECT_EQ(second.MustGet(L"UserData5").text(), L"data 5");
  EXPECT_EQ(second.MustGet(L"State").i2(), 0);
  // Closed, the buffer sizes read back as the stored requests.
  EXPECT_EQ(second.MustGet(L"Rcvbuf").i4(), 16384);
  EXPECT_EQ(second.MustGet(L"Sndbuf").i4(), 8192);
}

TEST(Persistence, AutomationBeforeInitialisationIsRefused) {
  Host h(Host::Init::None);
  EXPECT_EQ(h.Get(L"State").hr, E_UNEXPECTED);
  EXPECT_EQ(h.Call(L"Open", {L"0"}).hr, E_UNEXPECTED);
  ASSERT_EQ(Query<IPersistStreamInit>(h, IID_IPersistStreamInit)->InitNew(), S_OK);
  EXPECT_EQ(h.Get(L"State").hr, S_OK);
  EXPECT_EQ(Query<IPersistStreamInit>(h, IID_IPersistStreamInit)->InitNew(),
            CO_E_ALREADYINITIALIZED);
}

TEST(Persistence, ExtentStaysThirtyTwoPixels) {
  Host h;
  auto ole = Query<IOleObject>(h, IID_IOleObject);
  SIZEL before = {};
  ASSERT_EQ(ole->GetExtent(DVASPECT_CONTENT, &before), S_OK);
  SIZEL bigger = {before.cx * 2, before.cy * 3};
  EXPECT_NE(ole->SetExtent(DVASPECT_CONTENT, &bigger), S_OK);
  SIZEL after = {};
  ole->GetExtent(DVASPECT_CONTENT, &after);
  EXPECT_EQ(after.cx, before.cx);
  EXPECT_EQ(after.cy, before.cy);
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
  ::ReleaseDC(nullptr, screen);
  EXPECT_EQ(::MulDiv(after.cx, dpi, 2540), 32);
}
