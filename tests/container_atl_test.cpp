// The control hosted by the system's own ActiveX host window (atl.dll's "AtlAxWin" class, created
// with the ProgID as its window text): a container none of this project wrote.
#include <gtest/gtest.h>
#include <ocidl.h>

#include "support/container.h"
#include "typelib/udp_guids.h"

namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

class HostedByAtl : public testing::Test {
 protected:
  void SetUp() override {
    server_ = container::TheServer();
    ASSERT_NE(server_, nullptr) << "UDP_OCX must name the built DLL";
    ASSERT_EQ(server_->RegisterServer(), S_OK);
    atl_ = ::LoadLibraryW(L"atl.dll");
    ASSERT_NE(atl_, nullptr) << "atl.dll";
    auto init = reinterpret_cast<AtlAxWinInitFn>(
        reinterpret_cast<void*>(::GetProcAddress(atl_, "AtlAxWinInit")));
    getControl_ = reinterpret_cast<AtlAxGetControlFn>(
        reinterpret_cast<void*>(::GetProcAddress(atl_, "AtlAxGetControl")));
    ASSERT_NE(init, nullptr);
    ASSERT_NE(getControl_, nullptr);
    // Registers the window classes once per process; a second call finds them registered.
    static const bool initialised = init() != FALSE;
    ASSERT_TRUE(initialised);
  }
  void TearDown() override {
    if (hostWindow_) ::DestroyWindow(hostWindow_);
    EXPECT_TRUE(host::PumpUntilIdle());
    if (server_) server_->UnregisterServer();
  }
  HWND CreateHost(HWND parent) {
    hostWindow_ = ::CreateWindowExW(0, L"AtlAxWin", L"UDP.UdpCtrl.1", WS_CHILD | WS_VISIBLE, 10, 10,
                                    64, 64, parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    return hostWindow_;
  }

  const container::Server* server_ = nullptr;
  HMODULE atl_ = nullptr;
  AtlAxGetControlFn getControl_ = nullptr;
  HWND hostWindow_ = nullptr;
};

TEST_F(HostedByAtl, CreatesInitialisesAndSitesTheControlByItsProgId) {
  container::TestContainer form;
  ASSERT_NE(CreateHost(form.window()), nullptr);
  fw::com_ptr<IUnknown> control;
  ASSERT_EQ(getControl_(hostWindow_, control.put()), S_OK);
  ASSERT_TRUE(control);

  auto ole = control.query<IOleObject>(IID_IOleObject);
  ASSERT_TRUE(ole);
  CLSID clsid = {};
  EXPECT_EQ(ole->GetUserClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Udp));
  fw::com_ptr<IOleClientSite> site;
  EXPECT_EQ(ole->GetClientSite(site.put()), S_OK);
  EXPECT_TRUE(site) << "the host window gave the control its client site";

  // The host initialised the control: automation answers.
  auto dispatch = control.query<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(dispatch);
  EXPECT_EQ(host::MustGet(dispatch.get(), L"State").i2(), 0);
  host::MustPut(dispatch.get(), L"UserData2", host::Var(L"hosted"));
  EXPECT_EQ(host::MustGet(dispatch.get(), L"UserData2").text(), L"hosted");

  // Activated in place, the control's window sits in the host's window.
  HWND w = nullptr;
  ASSERT_EQ(control.query<IOleInPlaceObject>(IID_IOleInPlaceObject)->GetWindow(&w), S_OK);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(::GetParent(w), hostWindow_);
}

TEST_F(HostedByAtl, ExchangesDatagramsWithAPeer) {
  container::TestContainer form;
  ASSERT_NE(CreateHost(form.window()), nullptr);
  fw::com_ptr<IUnknown> control;
  ASSERT_EQ(getControl_(hostWindow_, control.put()), S_OK);
  auto dispatch = control.query<IDispatch>(IID_IDispatch);
  host::EventSink sink;
  auto cookie = host::AdviseEvents(control.get(), &sink);

  const u_short port = host::FreeUdpPort();
  host::MustCall(dispatch.get(), L"Open", {host::Var(std::to_wstring(port))});
  EXPECT_EQ(host::MustGet(dispatch.get(), L"State").i2(), 1);
  ASSERT_TRUE(host::Pump([&] { return sink.Count(host::kReady) >= 1; }, 5000));

  host::PeerSocket peer;
  ASSERT_TRUE(peer.SendTo(port, {0x10, 0x20, 0x30}));
  ASSERT_TRUE(host::Pump([&] { return sink.Count(host::kReceived) >= 1; }, 5000));
  const auto& received = sink.events.back();
  ASSERT_EQ(received.id, host::kReceived);
  EXPECT_EQ(received.args[0].text(), host::kLoopbackText);
  EXPECT_EQ(received.args[1].text(), std::to_wstring(static_cast<short>(peer.port())));
  EXPECT_EQ(received.args[2].bytes(), (std::vector<unsigned char>{0x10, 0x20, 0x30}));

  host::MustCall(dispatch.get(), L"SendTo",
                 {host::Var(host::kLoopbackText), host::Var(std::to_wstring(peer.port())),
                  host::Var::Bytes({7, 8, 9})});
  ASSERT_TRUE(host::Pump([&] { return sink.Count(host::kSent) >= 1; }, 5000));
  std::vector<unsigned char> reply;
  ASSERT_TRUE(peer.Receive(reply));
  EXPECT_EQ(reply, (std::vector<unsigned char>{7, 8, 9}));

  host::MustCall(dispatch.get(), L"Close");
  EXPECT_EQ(sink.Count(host::kClosed), 1);
}

}  // namespace
