// A control from the built DLL on a form of the test container, as a form designer holds it: the
// fixture of the container tests (activation, drawing, persistence).
#pragma once
#include <gtest/gtest.h>

#include "support/container.h"
#include "typelib/udp_guids.h"

namespace container {

class FormTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(TheServer(), nullptr) << "UDP_OCX must name the built DLL";
    control_ = CreateFromServer(CLSID_Udp);
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

}  // namespace container
