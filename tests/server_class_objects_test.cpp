// The DLL's class objects, what keeps it loaded, and the property page they create.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>

#include "support/container.h"
#include "support/trace.h"
#include "typelib/udp_guids.h"

namespace {

// {0D1C7E55-2B40-4F7A-9C0B-5A1D3E2F4B60}: no class of the module.
constexpr GUID kUnknownClass = {
    0x0D1C7E55, 0x2B40, 0x4F7A, {0x9C, 0x0B, 0x5A, 0x1D, 0x3E, 0x2F, 0x4B, 0x60}};

class ClassObjects : public testing::Test {
 protected:
  void SetUp() override {
    server_ = container::TheServer();
    ASSERT_NE(server_, nullptr) << "UDP_OCX must name the built DLL";
  }
  fw::com_ptr<IClassFactory> Factory(REFCLSID clsid,
                                     const host::Where& where = host::Where::current()) {
    const host::CallerTrace trace(where);
    fw::com_ptr<IClassFactory> f;
    EXPECT_EQ(server_->GetClassObject(clsid, IID_IClassFactory, f.put_void()), S_OK);
    return f;
  }
  const container::Server* server_ = nullptr;
};

TEST_F(ClassObjects, BothClassesHaveAClassObject) {
  auto control = Factory(CLSID_Udp);
  auto page = Factory(CLSID_UdpPropPage);
  ASSERT_TRUE(control && page);
  EXPECT_NE(static_cast<void*>(control.get()), static_cast<void*>(page.get()));

  fw::com_ptr<IOleObject> ole;
  EXPECT_EQ(control->CreateInstance(nullptr, IID_IOleObject, ole.put_void()), S_OK);
  CLSID clsid = {};
  ASSERT_TRUE(ole);
  EXPECT_EQ(ole->GetUserClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Udp));

  fw::com_ptr<IPropertyPage> propertyPage;
  EXPECT_EQ(page->CreateInstance(nullptr, IID_IPropertyPage, propertyPage.put_void()), S_OK);
  EXPECT_TRUE(propertyPage);
}

TEST_F(ClassObjects, AnUnknownClassHasNone) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(server_->GetClassObject(kUnknownClass, IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  // The type library's and interfaces' identifiers are no classes either.
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(server_->GetClassObject(LIBID_UDPLib, IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ClassObjects, AggregationIsRefused) {
  auto control = Factory(CLSID_Udp);
  ASSERT_TRUE(control);
  fw::com_ptr<IUnknown> object;
  EXPECT_EQ(control->CreateInstance(reinterpret_cast<IUnknown*>(control.get()), IID_IUnknown,
                                    object.put_void()),
            CLASS_E_NOAGGREGATION);
  EXPECT_FALSE(object);
}

TEST_F(ClassObjects, CanUnloadOnlyWithoutObjectsLocksOrReferencedFactories) {
  ASSERT_EQ(server_->CanUnloadNow(), S_OK);
  auto factory = Factory(CLSID_Udp);
  ASSERT_TRUE(factory);
  EXPECT_EQ(server_->CanUnloadNow(), S_FALSE) << "a referenced class object";

  fw::com_ptr<IUnknown> control;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, control.put_void()), S_OK);
  factory.reset();
  EXPECT_EQ(server_->CanUnloadNow(), S_FALSE) << "a live control";
  control.reset();
  EXPECT_EQ(server_->CanUnloadNow(), S_OK) << "after the control's last release";

  factory = Factory(CLSID_UdpPropPage);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(server_->CanUnloadNow(), S_FALSE) << "a lock";
  ASSERT_EQ(Factory(CLSID_UdpPropPage)->LockServer(FALSE), S_OK);
  EXPECT_EQ(server_->CanUnloadNow(), S_OK);

  fw::com_ptr<IUnknown> page = container::CreateFromServer(CLSID_UdpPropPage);
  EXPECT_EQ(server_->CanUnloadNow(), S_FALSE) << "a live property page";
  page.reset();
  EXPECT_EQ(server_->CanUnloadNow(), S_OK);
}

TEST_F(ClassObjects, CanUnloadWhileAnEventSinkIsConnectedOnlyAfterRelease) {
  host::EventSink sink;
  {
    auto control = container::CreateFromServer(CLSID_Udp);
    ASSERT_EQ(control.query<IPersistStreamInit>(IID_IPersistStreamInit)->InitNew(), S_OK);
    auto cookie = host::AdviseEvents(control.get(), &sink);
    EXPECT_EQ(server_->CanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(server_->CanUnloadNow(), S_OK);
}

// The property page

BOOL CALLBACK CollectWindow(HWND w, LPARAM p) {
  reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  ::EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&out));
  return out;
}

std::wstring TextOf(HWND w) {
  wchar_t text[256] = {};
  ::GetWindowTextW(w, text, 256);
  return text;
}

TEST_F(ClassObjects, PropertyPageIsGeneralWithOnlyThePlaceholderText) {
  auto page =
      container::CreateFromServer(CLSID_UdpPropPage).query<IPropertyPage>(IID_IPropertyPage);
  ASSERT_TRUE(page);
  PROPPAGEINFO info = {};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  ASSERT_NE(info.pszTitle, nullptr);
  EXPECT_STREQ(info.pszTitle, L"General");
  EXPECT_GT(info.size.cx, info.size.cy) << "250 x 62 dialog units";
  EXPECT_GT(info.size.cy, 0);
  ::CoTaskMemFree(info.pszTitle);
  ::CoTaskMemFree(info.pszDocString);
  ::CoTaskMemFree(info.pszHelpFile);

  // The page edits a control; applying a page without fields changes nothing.
  auto control = container::CreateFromServer(CLSID_Udp);
  ASSERT_EQ(control.query<IPersistStreamInit>(IID_IPersistStreamInit)->InitNew(), S_OK);
  auto dispatch = control.query<IDispatch>(IID_IDispatch);
  host::MustPut(dispatch.get(), L"UserData1", host::Var(L"kept"));
  IUnknown* objects[] = {control.get()};
  ASSERT_EQ(page->SetObjects(1, objects), S_OK);

  container::TestContainer frame;
  ASSERT_NE(frame.window(), nullptr);
  RECT area = {0, 0, info.size.cx, info.size.cy};
  ASSERT_EQ(page->Activate(frame.window(), &area, TRUE), S_OK);
  ASSERT_EQ(page->Show(SW_SHOW), S_OK);

  const auto dialogs = Children(frame.window());
  ASSERT_GE(dialogs.size(), 1u);
  HWND dialog = dialogs.front();
  EXPECT_EQ(::GetParent(dialog), frame.window());
  EXPECT_TRUE(::GetWindowLongW(dialog, GWL_STYLE) & WS_CHILD);
  const auto content = Children(dialog);
  ASSERT_EQ(content.size(), 1u);
  wchar_t className[32] = {};
  ::GetClassNameW(content[0], className, 32);
  EXPECT_EQ(::lstrcmpiW(className, L"Static"), 0);
  EXPECT_EQ(TextOf(content[0]), L"TODO: Udp Control のﾌﾟﾛﾊﾟﾃｨを処理するｺﾝﾄﾛｰﾙを配置");

  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(host::MustGet(dispatch.get(), L"UserData1").text(), L"kept");

  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
}

}  // namespace
