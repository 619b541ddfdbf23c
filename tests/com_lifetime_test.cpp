// What keeps the DLL loaded, and that nothing of it outlives what keeps it loaded.
#include <gtest/gtest.h>
#include <ocidl.h>

#include "support/container.h"
#include "support/datagrams.h"
#include "typelib/udp_guids.h"

namespace {

class ComLifetime : public testing::Test {
 protected:
  void SetUp() override {
    server_ = container::TheServer();
    ASSERT_NE(server_, nullptr) << "UDP_OCX must name the built DLL";
    ASSERT_EQ(server_->CanUnloadNow(), S_OK);
  }
  fw::com_ptr<IUnknown> NewControl() {
    auto control = container::CreateFromServer(CLSID_Udp);
    control.query<IPersistStreamInit>(IID_IPersistStreamInit)->InitNew();
    return control;
  }
  const container::Server* server_ = nullptr;
};

// Enumerators that outlive their control still hold the module.
TEST_F(ComLifetime, EnumeratorsHoldTheModuleWhileAlive) {
  host::EventSink sink;
  fw::com_ptr<IEnumOLEVERB> verbs;
  fw::com_ptr<IEnumConnections> connections;
  {
    auto control = NewControl();
    auto cookie = host::AdviseEvents(control.get(), &sink);
    ASSERT_EQ(control.query<IOleObject>(IID_IOleObject)->EnumVerbs(verbs.put()), S_OK);
    fw::com_ptr<IConnectionPoint> point;
    control.query<IConnectionPointContainer>(IID_IConnectionPointContainer)
        ->FindConnectionPoint(DIID_DUdpEvents, point.put());
    ASSERT_EQ(point->EnumConnections(connections.put()), S_OK);
  }
  EXPECT_EQ(server_->CanUnloadNow(), S_FALSE);
  verbs.reset();
  EXPECT_EQ(server_->CanUnloadNow(), S_FALSE);
  connections.reset();
  EXPECT_EQ(server_->CanUnloadNow(), S_OK);
}

TEST_F(ComLifetime, UnbalancedUnlocksAndReleasesNeverTakeTheCountBelowZero) {
  fw::com_ptr<IClassFactory> factory;
  ASSERT_EQ(server_->GetClassObject(CLSID_Udp, IID_IClassFactory, factory.put_void()), S_OK);
  fw::com_ptr<IUnknown> control;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, control.put_void()), S_OK);
  IClassFactory* raw = factory.detach();
  raw->LockServer(FALSE);
  raw->Release();
  raw->Release();  // one more than it was given
  EXPECT_EQ(server_->CanUnloadNow(), S_FALSE) << "the control still lives";
  control.reset();
  EXPECT_EQ(server_->CanUnloadNow(), S_OK);
  ASSERT_EQ(server_->GetClassObject(CLSID_Udp, IID_IClassFactory, factory.put_void()), S_OK);
  factory->LockServer(TRUE);
  factory.reset();
  EXPECT_EQ(server_->CanUnloadNow(), S_FALSE) << "a lock after the unbalanced calls counts";
  server_->GetClassObject(CLSID_Udp, IID_IClassFactory, factory.put_void());
  factory->LockServer(FALSE);
  factory.reset();
  EXPECT_EQ(server_->CanUnloadNow(), S_OK);
}

TEST_F(ComLifetime, NoWindowOrClassOutlivesTheLastControl) {
  {
    auto control = NewControl();
    control.query<IOleObject>(IID_IOleObject)->SetClientSite(host::TestClientSite());
    auto dispatch = control.query<IDispatch>(IID_IDispatch);
    host::MustCall(dispatch.get(), L"Open", {host::Var(L"0")});
    // A real look-up, cancelled by Close; its completion comes later.
    host::MustCall(dispatch.get(), L"SendTo",
                   {host::Var(L"localhost"), host::Var(L"5000"), host::Var::Bytes({1})});
    host::MustCall(dispatch.get(), L"Close");
  }
  ASSERT_TRUE(host::Pump([&] { return server_->CanUnloadNow() == S_OK; }, 5000));
  for (const wchar_t* name :
       {L"KarvoDgramixControl", L"KarvoDgramixParking", L"KarvoDgramixLookups"}) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    EXPECT_FALSE(::GetClassInfoExW(server_->module, name, &wc)) << "class " << name;
  }
}

}  // namespace

// A write notification that cannot be posted fails the call that needed it, leaving nothing
// pending that nothing would send.
TEST(PostFailure, FailsTheSendAndLeavesNothingPending) {
  host::Host h;
  host::OpenAndWaitReady(h);
  ::DestroyWindow(h.Window());
  const auto r = h.Call(
      L"SendTo", {host::Var(host::kLoopbackText), host::Var(L"5000"), host::Var::Bytes({1})});
  EXPECT_EQ(r.scode, host::kScodeOutOfMemory);
  EXPECT_TRUE(h.MustGet(L"Sendable").boolean());
  EXPECT_EQ(h.MustGet(L"State").i2(), 9);
}
