// The control as a form designer sees it: created from the DLL, initialised new or from saved
// properties, sited and activated in place, drawn, saved and loaded.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>

#include <set>

#include "control/udp_ctrl.h"
#include "framework/ui_hooks.h"
#include "support/container.h"
#include "typelib/udp_guids.h"

namespace {

using container::MustGet;
using container::TestContainer;

constexpr DWORD kMiscStatus = 132497;

LONG HimetricOf(int pixels, int axis) {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, axis);
  ::ReleaseDC(nullptr, screen);
  return ::MulDiv(pixels, 2540, dpi);
}

class Container : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(container::TheServer(), nullptr) << "UDP_OCX must name the built DLL";
    control_ = container::CreateFromServer(CLSID_Udp);
    ole_ = control_.query<IOleObject>(IID_IOleObject);
    ASSERT_TRUE(ole_);
  }
  void TearDown() override {
    if (ole_) {
      ole_->Close(OLECLOSE_NOSAVE);
      ole_->SetClientSite(nullptr);
    }
  }
  void SiteAndInitNew() {
    ASSERT_EQ(ole_->SetClientSite(&site_), S_OK);
    ASSERT_EQ(control_.query<IPersistStreamInit>(IID_IPersistStreamInit)->InitNew(), S_OK);
  }
  IDispatch* Dispatch() {
    if (!dispatch_) dispatch_ = control_.query<IDispatch>(IID_IDispatch);
    return dispatch_.get();
  }
  HWND ControlWindow() {
    HWND w = nullptr;
    control_.query<IOleInPlaceObject>(IID_IOleInPlaceObject)->GetWindow(&w);
    return w;
  }

  TestContainer site_;
  fw::com_ptr<IUnknown> control_;
  fw::com_ptr<IOleObject> ole_;
  fw::com_ptr<IDispatch> dispatch_;
};

TEST_F(Container, AutomationBeforeInitialisationIsUnexpected) {
  ASSERT_EQ(ole_->SetClientSite(&site_), S_OK);
  EXPECT_EQ(container::Invoke(Dispatch(), L"State", DISPATCH_PROPERTYGET).hr, E_UNEXPECTED);
  EXPECT_EQ(container::Invoke(Dispatch(), L"Close", DISPATCH_METHOD).hr, E_UNEXPECTED);
  ASSERT_EQ(control_.query<IPersistStreamInit>(IID_IPersistStreamInit)->InitNew(), S_OK);
  EXPECT_EQ(MustGet(Dispatch(), L"State").i2(), 0);
}

TEST_F(Container, PresentsItselfAsAnInvisibleFixedSizeControl) {
  SiteAndInitNew();
  DWORD status = 0;
  EXPECT_EQ(ole_->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
  EXPECT_EQ(status, kMiscStatus);
  EXPECT_TRUE(status & OLEMISC_INVISIBLEATRUNTIME);
  EXPECT_TRUE(status & OLEMISC_SETCLIENTSITEFIRST);

  LPOLESTR name = nullptr;
  ASSERT_EQ(ole_->GetUserType(USERCLASSTYPE_FULL, &name), S_OK);
  EXPECT_STREQ(name, L"Karvo Dgramix 1.10 ");
  ::CoTaskMemFree(name);

  CLSID clsid = {};
  EXPECT_EQ(ole_->GetUserClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Udp));

  SIZEL extent = {};
  ASSERT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_EQ(extent.cx, HimetricOf(32, LOGPIXELSX));
  EXPECT_EQ(extent.cy, HimetricOf(32, LOGPIXELSY));
  SIZEL bigger = {extent.cx * 2, extent.cy * 3};
  EXPECT_TRUE(FAILED(ole_->SetExtent(DVASPECT_CONTENT, &bigger)));
  SIZEL after = {};
  ASSERT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &after), S_OK);
  EXPECT_EQ(after.cx, extent.cx);
  EXPECT_EQ(after.cy, extent.cy);
  // The view reports the same extent.
  SIZEL viewExtent = {};
  EXPECT_EQ(control_.query<IViewObject2>(IID_IViewObject2)
                ->GetExtent(DVASPECT_CONTENT, -1, nullptr, &viewExtent),
            S_OK);
  EXPECT_EQ(viewExtent.cx, extent.cx);

  CAUUID pages = {5, reinterpret_cast<GUID*>(1)};
  ASSERT_EQ(control_.query<ISpecifyPropertyPages>(IID_ISpecifyPropertyPages)->GetPages(&pages),
            S_OK);
  EXPECT_EQ(pages.cElems, 0u);
  EXPECT_EQ(pages.pElems, nullptr);

  auto classInfo = control_.query<IProvideClassInfo2>(IID_IProvideClassInfo2);
  ASSERT_TRUE(classInfo);
  GUID events = {};
  EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
  EXPECT_TRUE(IsEqualIID(events, DIID_DUdpEvents));
  fw::com_ptr<ITypeInfo> info;
  ASSERT_EQ(classInfo->GetClassInfo(info.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_Udp));
  info->ReleaseTypeAttr(attr);

  CONTROLINFO controlInfo = {};
  controlInfo.cb = sizeof controlInfo;
  EXPECT_EQ(control_.query<IOleControl>(IID_IOleControl)->GetControlInfo(&controlInfo), S_OK);
  EXPECT_EQ(controlInfo.cAccel, 0);
}

TEST_F(Container, OffersThePropertiesVerb) {
  SiteAndInitNew();
  fw::com_ptr<IEnumOLEVERB> verbs;
  ASSERT_EQ(ole_->EnumVerbs(verbs.put()), S_OK);
  OLEVERB verb[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(verbs->Next(2, verb, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(verb[0].lVerb, OLEIVERB_PROPERTIES);
  EXPECT_TRUE(verb[0].grfAttribs & OLEVERBATTRIB_ONCONTAINERMENU);
  EXPECT_NE(verb[0].lpszVerbName, nullptr);
  ::CoTaskMemFree(verb[0].lpszVerbName);

  // A container with its own property frame shows that one.
  site_.offersPropertyFrame = true;
  EXPECT_EQ(ole_->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site_, 0, site_.window(), nullptr), S_OK);
  EXPECT_EQ(site_.propertyFrameRequests, 1);
}

// The platform's property frame is modal UI: the in-process control shows it through the
// framework's hook, which records it here.
struct FrameRequest {
  std::wstring caption;
  ULONG objects = 0, pages = 0;
  bool objectIsControl = false;
};
std::vector<FrameRequest> g_frames;

HRESULT RecordFrame(HWND, const wchar_t* caption, ULONG objectCount, IUnknown** objects,
                    ULONG pageCount, CLSID*, LCID) {
  FrameRequest r{caption ? caption : L"", objectCount, pageCount, false};
  if (objectCount == 1) {
    fw::com_ptr<IOleObject> ole;
    objects[0]->QueryInterface(IID_IOleObject, ole.put_void());
    CLSID clsid = {};
    r.objectIsControl =
        ole && SUCCEEDED(ole->GetUserClassID(&clsid)) && IsEqualCLSID(clsid, CLSID_Udp);
  }
  g_frames.push_back(r);
  return S_OK;
}

TEST(ContainerWithoutPropertyFrame, PropertiesVerbOpensThePlatformsFrameWithNoPages) {
  fw::com_ptr<IUnknown> control;
  ASSERT_EQ(udp::CreateUdpCtrl(IID_IUnknown, control.put_void()), S_OK);
  auto ole = control.query<IOleObject>(IID_IOleObject);
  TestContainer site;  // offers no frame of its own
  ASSERT_EQ(ole->SetClientSite(&site), S_OK);
  ASSERT_EQ(control.query<IPersistStreamInit>(IID_IPersistStreamInit)->InitNew(), S_OK);
  g_frames.clear();
  auto previous = fw::SetPropertyFrameHook(RecordFrame);
  const HRESULT hr = ole->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, site.window(), nullptr);
  fw::SetPropertyFrameHook(previous);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(site.propertyFrameRequests, 1) << "the container was asked first";
  ASSERT_EQ(g_frames.size(), 1u);
  EXPECT_EQ(g_frames[0].objects, 1u);
  EXPECT_TRUE(g_frames[0].objectIsControl);
  EXPECT_EQ(g_frames[0].pages, 0u);
  EXPECT_EQ(g_frames[0].caption, L"Karvo Dgramix 1.10 ");
  ole->SetClientSite(nullptr);
}

TEST_F(Container, ActivatesInPlaceInTheContainersWindow) {
  SiteAndInitNew();
  HWND parked = ControlWindow();
  EXPECT_EQ(parked, nullptr) << "no window to offer before activation";

  ASSERT_EQ(
      ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, site_.window(), &site_.position),
      S_OK);
  EXPECT_EQ(site_.inPlaceActivations, 1);
  HWND w = ControlWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(::GetParent(w), site_.window());
  EXPECT_TRUE(::GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE);
  RECT r = {};
  ::GetWindowRect(w, &r);
  ::MapWindowPoints(nullptr, site_.window(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, site_.position.left);
  EXPECT_EQ(r.top, site_.position.top);
  EXPECT_EQ(r.right - r.left, 32);

  RECT moved = {50, 60, 82, 92};
  EXPECT_EQ(
      control_.query<IOleInPlaceObject>(IID_IOleInPlaceObject)->SetObjectRects(&moved, &moved),
      S_OK);
  ::GetWindowRect(w, &r);
  ::MapWindowPoints(nullptr, site_.window(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 50);
  EXPECT_EQ(r.top, 60);

  ASSERT_EQ(ole_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site_, 0, site_.window(), &site_.position),
            S_OK);
  EXPECT_EQ(site_.uiActivations, 1);
  EXPECT_NE(site_.activeObject, nullptr);

  EXPECT_EQ(control_.query<IOleInPlaceObject>(IID_IOleInPlaceObject)->InPlaceDeactivate(), S_OK);
  EXPECT_EQ(site_.uiDeactivations, 1);
  EXPECT_EQ(site_.inPlaceDeactivations, 1);
  EXPECT_EQ(site_.activeObject, nullptr);
  EXPECT_NE(::GetParent(w), site_.window()) << "back in the parking window";
  EXPECT_TRUE(::IsWindow(w)) << "the window still takes the socket's notifications";
}

TEST_F(Container, SettingTheClientSiteRecreatesTheWindowAndKeepsTheActivation) {
  SiteAndInitNew();
  ASSERT_EQ(
      ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, site_.window(), &site_.position),
      S_OK);
  HWND first = ControlWindow();
  ASSERT_NE(first, nullptr);

  ASSERT_EQ(ole_->SetClientSite(&site_), S_OK);
  HWND second = ControlWindow();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_FALSE(::IsWindow(first));
  EXPECT_EQ(::GetParent(second), site_.window());
  EXPECT_EQ(site_.inPlaceDeactivations, 1);
  EXPECT_EQ(site_.inPlaceActivations, 2);

  // The new window takes the socket's notifications: a datagram arrives as Received.
  host::EventSink sink;
  auto cookie = container::AdviseEvents(control_.get(), &sink);
  const u_short port = host::FreeUdpPort();
  container::MustCall(Dispatch(), L"Open", {host::Var(std::to_wstring(port))});
  host::PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {1, 2, 3}));
  EXPECT_TRUE(host::Pump([&] { return sink.Count(udp::kEventReceived) >= 1; }, 5000));
  ASSERT_EQ(sink.Count(udp::kEventReceived), 1);
  container::MustCall(Dispatch(), L"Close");
}

TEST_F(Container, FrozenEventsAreNotRaised) {
  SiteAndInitNew();
  host::EventSink sink;
  auto cookie = container::AdviseEvents(control_.get(), &sink);
  auto control = control_.query<IOleControl>(IID_IOleControl);
  ASSERT_EQ(control->FreezeEvents(TRUE), S_OK);
  container::MustCall(Dispatch(), L"Open", {host::Var(std::to_wstring(host::FreeUdpPort()))});
  host::Pump(nullptr, 300);
  EXPECT_EQ(sink.Count(udp::kEventReady), 0);
  ASSERT_EQ(control->FreezeEvents(FALSE), S_OK);
  container::MustCall(Dispatch(), L"Close");
  EXPECT_EQ(sink.Order(), std::vector<DISPID>{udp::kEventClosed});
}

// Drawing

struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  DWORD* bits = nullptr;
  int width, height;
  Canvas(int w, int h, DWORD fill) : width(w), height(h) {
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    dc = ::CreateCompatibleDC(nullptr);
    bitmap =
        ::CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = ::SelectObject(dc, bitmap);
    for (int i = 0; i < w * h; ++i) bits[i] = fill;
  }
  ~Canvas() {
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
  }
  DWORD at(int x, int y) const { return bits[y * width + x] & 0xFFFFFF; }
};

// The picture the control carries (bitmap 201), as 32-bit pixels.
std::vector<DWORD> ExpectedPicture() {
  HBITMAP bitmap = static_cast<HBITMAP>(
      ::LoadImageW(container::TheServer()->module, MAKEINTRESOURCEW(201), IMAGE_BITMAP, 0, 0, 0));
  std::vector<DWORD> pixels(32 * 32);
  if (!bitmap) return {};
  BITMAPINFO bi = {};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HDC screen = ::GetDC(nullptr);
  ::GetDIBits(screen, bitmap, 0, 32, pixels.data(), &bi, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  ::DeleteObject(bitmap);
  for (auto& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

constexpr DWORD kBackground = 0x123456;

HRESULT DrawInto(IUnknown* control, HDC dc, RECTL bounds) {
  auto view = fw::com_ptr<IUnknown>(control, true).query<IViewObject2>(IID_IViewObject2);
  if (!view) return E_NOINTERFACE;
  return view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr,
                    0);
}

TEST_F(Container, DrawsItsPictureUnscaledAtItsOwnSize) {
  SiteAndInitNew();
  const auto expected = ExpectedPicture();
  ASSERT_EQ(expected.size(), 32u * 32u);
  // The picture is not one colour: a check that could not tell a blank from a picture is none.
  EXPECT_GT(std::set<DWORD>(expected.begin(), expected.end()).size(), 4u);

  Canvas canvas(48, 40, kBackground);
  ASSERT_EQ(DrawInto(control_.get(), canvas.dc, {8, 4, 40, 36}), S_OK);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 48; ++x) {
      const bool inside = x >= 8 && x < 40 && y >= 4 && y < 36;
      const DWORD want = inside ? expected[(y - 4) * 32 + (x - 8)] : kBackground;
      ASSERT_EQ(canvas.at(x, y), want) << "at " << x << "," << y;
    }
}

TEST_F(Container, StretchesItsPictureOverTheBounds) {
  SiteAndInitNew();
  const auto expected = ExpectedPicture();
  ASSERT_EQ(expected.size(), 32u * 32u);
  Canvas canvas(64, 16, kBackground);
  ASSERT_EQ(DrawInto(control_.get(), canvas.dc, {0, 0, 64, 16}), S_OK);
  // The picture is made of 8 x 8 tiles of one colour; each becomes a 16 x 4 tile.
  for (int ty = 0; ty < 4; ++ty)
    for (int tx = 0; tx < 4; ++tx)
      EXPECT_EQ(canvas.at(tx * 16 + 8, ty * 4 + 2), expected[(ty * 8 + 4) * 32 + tx * 8 + 4])
          << "tile " << tx << "," << ty;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_NE(canvas.at(x, y), kBackground) << x << "," << y;
}

TEST_F(Container, DrawsIntoAMetafileTheSameWay) {
  SiteAndInitNew();
  const auto expected = ExpectedPicture();
  ASSERT_EQ(expected.size(), 32u * 32u);
  HDC meta = ::CreateMetaFileW(nullptr);
  ASSERT_NE(meta, nullptr);
  ASSERT_EQ(::GetDeviceCaps(meta, TECHNOLOGY), DT_METAFILE);
  ASSERT_EQ(DrawInto(control_.get(), meta, {0, 0, 32, 32}), S_OK);
  HMETAFILE recorded = ::CloseMetaFile(meta);
  ASSERT_NE(recorded, nullptr);
  Canvas canvas(32, 32, kBackground);
  ASSERT_TRUE(::PlayMetaFile(canvas.dc, recorded));
  ::DeleteMetaFile(recorded);
  for (int ty = 0; ty < 4; ++ty)
    for (int tx = 0; tx < 4; ++tx)
      EXPECT_EQ(canvas.at(tx * 8 + 4, ty * 8 + 4), expected[(ty * 8 + 4) * 32 + tx * 8 + 4])
          << "tile " << tx << "," << ty;
}

TEST_F(Container, DrawsIntoAnEnhancedMetafileTheSameWay) {
  SiteAndInitNew();
  const auto expected = ExpectedPicture();
  ASSERT_EQ(expected.size(), 32u * 32u);
  HDC meta = ::CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(meta, nullptr);
  ASSERT_EQ(DrawInto(control_.get(), meta, {0, 0, 32, 32}), S_OK);
  HENHMETAFILE recorded = ::CloseEnhMetaFile(meta);
  ASSERT_NE(recorded, nullptr);
  Canvas canvas(32, 32, kBackground);
  const RECT frame = {0, 0, 32, 32};
  ASSERT_TRUE(::PlayEnhMetaFile(canvas.dc, recorded, &frame));
  ::DeleteEnhMetaFile(recorded);
  for (int ty = 0; ty < 4; ++ty)
    for (int tx = 0; tx < 4; ++tx)
      EXPECT_EQ(canvas.at(tx * 8 + 4, ty * 8 + 4), expected[(ty * 8 + 4) * 32 + tx * 8 + 4])
          << "tile " << tx << "," << ty;
}

TEST_F(Container, DrawRefusesOtherAspectsAndMissingBounds) {
  SiteAndInitNew();
  auto view = control_.query<IViewObject2>(IID_IViewObject2);
  Canvas canvas(32, 32, kBackground);
  RECTL bounds = {0, 0, 32, 32};
  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, canvas.dc, &bounds, nullptr,
                       nullptr, 0),
            DV_E_DVASPECT);
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc, nullptr, nullptr,
                       nullptr, 0),
            E_INVALIDARG);
  EXPECT_EQ(canvas.at(16, 16), kBackground);
}

// Persistence

const wchar_t* const kOwnProperties[] = {L"Broadcast",   L"LastError", L"InetIp",    L"InetName",
                                         L"InetAddress", L"UserFlag",  L"UserData1", L"UserData2",
                                         L"UserData3",   L"UserData4", L"UserData5", L"RCVBUF",
                                         L"SNDBUF"};

// A saved form: every persisted property with a value other than its default.
container::MemoryPropertyBag SavedForm() {
  container::MemoryPropertyBag bag;
  bag.values[L"Broadcast"] = host::Var(true);
  bag.values[L"LastError"] = host::Var(10054);
  bag.values[L"InetIp"] = host::Var(0x7F000001);
  bag.values[L"InetName"] = host::Var(L"localhost");
  bag.values[L"InetAddress"] = host::Var(L"127.0.0.1");
  bag.values[L"UserFlag"] = host::Var(L"flag");
  bag.values[L"UserData1"] = host::Var(L"一");
  bag.values[L"UserData2"] = host::Var(L"two");
  bag.values[L"UserData3"] = host::Var(L"three");
  bag.values[L"UserData4"] = host::Var(L"four");
  bag.values[L"UserData5"] = host::Var(L"five");
  bag.values[L"RCVBUF"] = host::Var(65536);
  bag.values[L"SNDBUF"] = host::Var(32768);
  return bag;
}

// The value as text, whatever its stored type.
std::wstring AsText(const host::Var& v) {
  fw::unique_variant text;
  if (FAILED(::VariantChangeType(&text, const_cast<VARIANT*>(v.get()), 0, VT_BSTR))) return L"?";
  return V_BSTR(&text) ? V_BSTR(&text) : L"";
}

void ExpectSameOwnProperties(const container::MemoryPropertyBag& got,
                             const container::MemoryPropertyBag& want) {
  for (const wchar_t* name : kOwnProperties) {
    auto g = got.values.find(name);
    auto w = want.values.find(name);
    ASSERT_NE(g, got.values.end()) << "not saved: " << testing::PrintToString(std::wstring(name));
    ASSERT_NE(w, want.values.end());
    EXPECT_EQ(AsText(g->second), AsText(w->second)) << testing::PrintToString(std::wstring(name));
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
  container::MemoryPropertyBag saved;
  ASSERT_EQ(control_.query<IPersistPropertyBag>(IID_IPersistPropertyBag)->Save(&saved, TRUE, TRUE),
            S_OK);
  container::MemoryPropertyBag defaults;
  for (const wchar_t* name : {L"InetName", L"InetAddress", L"UserFlag", L"UserData1", L"UserData2",
                              L"UserData3", L"UserData4", L"UserData5"})
    defaults.values[name] = host::Var(L"");
  for (const wchar_t* name : {L"LastError", L"InetIp", L"RCVBUF", L"SNDBUF"})
    defaults.values[name] = host::Var(0);
  defaults.values[L"Broadcast"] = host::Var(false);
  ExpectSameOwnProperties(saved, defaults);
  EXPECT_EQ(control_.query<IPersistStreamInit>(IID_IPersistStreamInit)->IsDirty(), S_FALSE);
}

TEST_F(Container, SavesAndReloadsEveryPersistedPropertyThroughStreamBagAndStorage) {
  const container::MemoryPropertyBag form = SavedForm();
  container::MemoryPropertyBag input = form;
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
  container::MemoryPropertyBag fromStream;
  ASSERT_EQ(
      second.query<IPersistPropertyBag>(IID_IPersistPropertyBag)->Save(&fromStream, TRUE, TRUE),
      S_OK);
  ExpectSameOwnProperties(fromStream, form);
  EXPECT_EQ(fromStream.values.count(L"State"), 0u);
  EXPECT_EQ(fromStream.values.count(L"AnyData"), 0u);
  EXPECT_EQ(fromStream.values.count(L"LocalAddress"), 0u);

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
  container::MemoryPropertyBag fromStorage;
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

// The About box: modal UI through the framework's hook. The hook shows the real dialog from the
// DLL's resources and closes it as a user would, by its OK button.
struct AboutSeen {
  std::wstring templateName;
  std::wstring caption;
  bool hasIcon = false;
  bool hasOk = false;
  INT_PTR result = 0;
};
AboutSeen g_about;
DLGPROC g_aboutProc = nullptr;

INT_PTR CALLBACK WatchAbout(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    wchar_t caption[128] = {};
    ::GetWindowTextW(dialog, caption, 128);
    g_about.caption = caption;
    g_about.hasOk = ::GetDlgItem(dialog, IDOK) != nullptr;
    for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
      if ((::GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
          ::SendMessageW(c, STM_GETICON, 0, 0))
        g_about.hasIcon = true;
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
  }
  return g_aboutProc(dialog, message, wParam, lParam);
}

INT_PTR ShowAboutFromTheDll(HINSTANCE, const wchar_t* templateName, HWND owner, DLGPROC proc,
                            LPARAM param) {
  g_about.templateName = IS_INTRESOURCE(templateName)
                             ? std::to_wstring(reinterpret_cast<UINT_PTR>(templateName))
                             : std::wstring(templateName);
  g_aboutProc = proc;
  g_about.result =
      ::DialogBoxParamW(container::TheServer()->module, templateName, owner, WatchAbout, param);
  return g_about.result;
}

TEST(AboutBox, ShowsTheAboutDialogModallyAndReturnsWhenClosed) {
  ASSERT_NE(container::TheServer(), nullptr);
  host::Host host;
  g_about = {};
  auto previous = fw::SetDialogBoxHook(ShowAboutFromTheDll);
  auto r = host.Call(L"AboutBox");
  fw::SetDialogBoxHook(previous);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(g_about.templateName, L"1");
  EXPECT_EQ(g_about.caption, L"About Udp Control");
  EXPECT_TRUE(g_about.hasIcon);
  EXPECT_TRUE(g_about.hasOk);
  EXPECT_EQ(g_about.result, IDOK);
  EXPECT_TRUE(r.value.vt() == VT_EMPTY);
}

}  // namespace
