// The control on a form: what it tells the container about itself before and after the
// container initialises it, its verbs, in-place activation in the container's window, and events
// held while the container freezes them.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>

#include "control/udp_ctrl.h"
#include "framework/ui_hooks.h"
#include "support/container_fixture.h"
#include "support/host.h"

namespace {

using Container = container::FormTest;
using container::TestContainer;
using host::MustGet;

constexpr DWORD kMiscStatus = 132497;

LONG HimetricOf(int pixels, int axis) {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, axis);
  ::ReleaseDC(nullptr, screen);
  return ::MulDiv(pixels, 2540, dpi);
}

TEST_F(Container, AutomationBeforeInitialisationIsUnexpected) {
  ASSERT_EQ(ole_->SetClientSite(&site_), S_OK);
  EXPECT_EQ(host::Invoke(Dispatch(), L"State", DISPATCH_PROPERTYGET).hr, E_UNEXPECTED);
  EXPECT_EQ(host::Invoke(Dispatch(), L"Close", DISPATCH_METHOD).hr, E_UNEXPECTED);
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
  auto cookie = host::AdviseEvents(control_.get(), &sink);
  const u_short port = host::FreeUdpPort();
  host::MustCall(Dispatch(), L"Open", {host::Var(std::to_wstring(port))});
  host::PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {1, 2, 3}));
  EXPECT_TRUE(host::Pump([&] { return sink.Count(host::kReceived) >= 1; }, 5000));
  ASSERT_EQ(sink.Count(host::kReceived), 1);
  host::MustCall(Dispatch(), L"Close");
}

TEST_F(Container, FrozenEventsAreNotRaised) {
  SiteAndInitNew();
  host::EventSink sink;
  auto cookie = host::AdviseEvents(control_.get(), &sink);
  auto control = control_.query<IOleControl>(IID_IOleControl);
  ASSERT_EQ(control->FreezeEvents(TRUE), S_OK);
  host::MustCall(Dispatch(), L"Open", {host::Var(std::to_wstring(host::FreeUdpPort()))});
  // Frozen, nothing shows when the write notification has come: a while in which it would.
  host::Pump(nullptr, 300);
  EXPECT_EQ(sink.Count(host::kReady), 0);
  ASSERT_EQ(control->FreezeEvents(FALSE), S_OK);
  host::MustCall(Dispatch(), L"Close");
  EXPECT_EQ(sink.Order(), std::vector<DISPID>{host::kClosed});
}

}  // namespace
