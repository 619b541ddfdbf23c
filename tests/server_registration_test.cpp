// Self-registration of the built DLL: the keys and values it writes and removes, machine-wide
// and for the current user.
#include <gtest/gtest.h>
#include <olectl.h>

#include "support/container.h"
#include "support/trace.h"
#include "typelib/udp_guids.h"

namespace {

using container::KeyExists;
using container::ReadRegString;
using container::Snapshot;
using container::SubkeyNames;

std::wstring Text(REFGUID guid) {
  wchar_t text[40];
  ::StringFromGUID2(guid, text, 40);
  return text;
}

const std::wstring kCtrlKey = L"CLSID\\" + Text(CLSID_Udp);
const std::wstring kPageKey = L"CLSID\\" + Text(CLSID_UdpPropPage);
const std::wstring kLibKey = L"TypeLib\\" + Text(LIBID_UDPLib);
const std::wstring kDispatchKey = L"Interface\\" + Text(DIID_DUdp);
const std::wstring kSocketKey = L"CLSID\\" + Text(CLSID_UdpSocket);
const std::wstring kPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";

std::vector<std::wstring> Everything(HKEY root) {
  std::vector<std::wstring> all;
  for (const auto& key : {kCtrlKey, kPageKey, kLibKey, kSocketKey, std::wstring(L"UDP.UdpCtrl.1"),
                          std::wstring(L"UDP.UdpSocket.1"), std::wstring(L"UDP.UdpSocket")}) {
    auto part = Snapshot(root, key);
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

class Registration : public testing::Test {
 protected:
  void SetUp() override {
    server_ = container::TheServer();
    ASSERT_NE(server_, nullptr) << "UDP_OCX must name the built DLL";
    ASSERT_EQ(server_->UnregisterServer(), S_OK);
  }
  void TearDown() override {
    if (server_) server_->UnregisterServer();
  }
  const container::Server* server_ = nullptr;
};

TEST_F(Registration, TwiceGivesTheSameKeysAndValues) {
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  const auto first = Everything(HKEY_CLASSES_ROOT);
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  EXPECT_EQ(Everything(HKEY_CLASSES_ROOT), first);
  EXPECT_FALSE(first.empty());
}

TEST_F(Registration, UnregisteringANeverRegisteredModuleSucceeds) {
  // SetUp already removed everything: this is a module with nothing registered.
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kLibKey));
  EXPECT_EQ(server_->UnregisterServer(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"UDP.UdpCtrl.1"));
}

TEST_F(Registration, ControlClassKeysAndValues) {
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  const std::wstring clsid = Text(CLSID_Udp);
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, L"UDP.UdpCtrl.1"), L"Karvo Dgramix 1.10 ");
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, L"UDP.UdpCtrl.1\\CLSID"), clsid);
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey), L"Karvo Dgramix 1.10 ");
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\ProgID"), L"UDP.UdpCtrl.1");
  const auto path = ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\InprocServer32");
  ASSERT_TRUE(path.has_value());
  // The short form of the module's own path.
  wchar_t shortPath[MAX_PATH] = {};
  ASSERT_NE(::GetShortPathNameW(server_->path.c_str(), shortPath, MAX_PATH), 0u);
  EXPECT_EQ(*path, shortPath);
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\InprocServer32", L"ThreadingModel"),
            L"Apartment");
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\ToolboxBitmap32"), *path + L", 1");
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\MiscStatus"), L"0");
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\MiscStatus\\1"), L"132497");
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\Control"), L"");
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\TypeLib"), Text(LIBID_UDPLib));
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\Version"), L"1.0");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey + L"\\Insertable"));
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, kCtrlKey),
            (std::vector<std::wstring>{L"Control", L"InprocServer32", L"MiscStatus", L"ProgID",
                                       L"ToolboxBitmap32", L"TypeLib", L"Version"}));
}

TEST_F(Registration, PropertyPageHasItsNameAndServerOnly) {
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kPageKey), L"Udp Property Page");
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, kPageKey), std::vector<std::wstring>{L"InprocServer32"});
  EXPECT_EQ(container::ValueNames(HKEY_CLASSES_ROOT, kPageKey + L"\\InprocServer32"),
            std::vector<std::wstring>{L""});
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"UDP.UdpPropPage.1"));
}

TEST_F(Registration, TypeLibraryIsRegisteredUnderTheModulesFullPath) {
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kLibKey + L"\\1.0\\0\\" + kPlatform), server_->path);
  fw::com_ptr<ITypeLib> lib;
  EXPECT_EQ(::LoadRegTypeLib(LIBID_UDPLib, 1, 0, 0, lib.put()), S_OK);
}

TEST_F(Registration, UnregisterRemovesLibraryInterfacesClassesAndProgId) {
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kDispatchKey));
  ASSERT_EQ(server_->UnregisterServer(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kLibKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kDispatchKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kPageKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"UDP.UdpCtrl.1"));
}

TEST_F(Registration, SixteenBitServerKeepsTheClassKey) {
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  ASSERT_TRUE(container::DeleteTree(HKEY_CLASSES_ROOT, kCtrlKey + L"\\InprocServer"));
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyW(HKEY_CLASSES_ROOT, (kCtrlKey + L"\\InprocServer").c_str(), &k),
            ERROR_SUCCESS);
  ::RegSetValueW(k, nullptr, REG_SZ, L"UDP16.DLL", 9 * sizeof(wchar_t));
  ::RegCloseKey(k);

  ASSERT_EQ(server_->UnregisterServer(), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey + L"\\InprocServer32"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey + L"\\ToolboxBitmap32"));
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, kCtrlKey),
            (std::vector<std::wstring>{L"Control", L"InprocServer", L"MiscStatus", L"ProgID",
                                       L"TypeLib", L"Version"}));
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\InprocServer"), L"UDP16.DLL");
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey), L"Karvo Dgramix 1.10 ");
  // The ProgID still names the class the 16-bit server serves.
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"UDP.UdpCtrl.1"));
  // The property page has no 16-bit server: it goes entirely.
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kPageKey));

  ASSERT_TRUE(container::DeleteTree(HKEY_CLASSES_ROOT, kCtrlKey));
  ASSERT_TRUE(container::DeleteTree(HKEY_CLASSES_ROOT, L"UDP.UdpCtrl.1"));
}

TEST_F(Registration, SixteenBitTypeLibraryEntryIsKept) {
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  const std::wstring locale = kLibKey + L"\\1.0\\0";
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyW(HKEY_CLASSES_ROOT, (locale + L"\\win16").c_str(), &k), ERROR_SUCCESS);
  ::RegSetValueW(k, nullptr, REG_SZ, L"UDP16.TLB", 9 * sizeof(wchar_t));
  ::RegCloseKey(k);

  ASSERT_EQ(server_->UnregisterServer(), S_OK);
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, locale), std::vector<std::wstring>{L"win16"});
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, locale + L"\\win16"), L"UDP16.TLB");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey));

  ASSERT_TRUE(container::DeleteTree(HKEY_CLASSES_ROOT, kLibKey));
}

bool KeyExistsInView(REGSAM view, const std::wstring& key) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS)
    return false;
  ::RegCloseKey(k);
  return true;
}

// Both word sizes registered, as the installer leaves them: the interface keys, which the type
// library's registration writes into both registry views, stay while the other one's entry does,
// and go from both views with the last entry.
TEST_F(Registration, InterfaceKeysGoFromBothViewsWithTheLastRegistration) {
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  const std::wstring other =
      kLibKey + L"\\1.0\\0\\" + (kPlatform == L"win64" ? L"win32" : L"win64");
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyW(HKEY_CLASSES_ROOT, other.c_str(), &k), ERROR_SUCCESS);
  ::RegSetValueW(k, nullptr, REG_SZ, server_->path.c_str(),
                 static_cast<DWORD>(server_->path.size() * sizeof(wchar_t)));
  ::RegCloseKey(k);

  ASSERT_EQ(server_->UnregisterServer(), S_OK);
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, other), server_->path);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kDispatchKey));

  ASSERT_TRUE(container::DeleteTree(HKEY_CLASSES_ROOT, kLibKey));  // the other one's removal
  ASSERT_EQ(server_->UnregisterServer(), S_OK);
  EXPECT_FALSE(KeyExistsInView(KEY_WOW64_64KEY, kDispatchKey));
  EXPECT_FALSE(KeyExistsInView(KEY_WOW64_32KEY, kDispatchKey));
}

TEST_F(Registration, AMissingKeyCountsAsRemoved) {
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  ASSERT_TRUE(container::DeleteTree(HKEY_CLASSES_ROOT, L"UDP.UdpCtrl.1"));
  ASSERT_TRUE(container::DeleteTree(HKEY_CLASSES_ROOT, kPageKey));
  ASSERT_TRUE(container::DeleteTree(HKEY_CLASSES_ROOT, kLibKey + L"\\1.0\\0"));
  EXPECT_EQ(server_->UnregisterServer(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kLibKey));
}

class PerUserRegistration : public Registration {
 protected:
  void SetUp() override {
    Registration::SetUp();
    ASSERT_NE(server_->Install, nullptr);
    ASSERT_EQ(server_->Install(FALSE, L"user"), S_OK);
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_ALL_ACCESS, &user_),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (server_ && server_->Install) server_->Install(FALSE, L"user");
    if (user_) ::RegCloseKey(user_);
    Registration::TearDown();
  }
  HKEY user_ = nullptr;
};

TEST_F(PerUserRegistration, WritesTheSameKeysForTheUserOnly) {
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  const auto machine = Everything(HKEY_CLASSES_ROOT);
  ASSERT_EQ(server_->UnregisterServer(), S_OK);

  ASSERT_EQ(server_->Install(TRUE, L"user"), S_OK);
  EXPECT_EQ(Everything(user_), machine);
  EXPECT_TRUE(KeyExists(user_, kDispatchKey));
  // Nothing machine-wide.
  HKEY machineClasses = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_READ, &machineClasses),
            ERROR_SUCCESS);
  EXPECT_TRUE(Everything(machineClasses).empty());
  ::RegCloseKey(machineClasses);
}

TEST_F(PerUserRegistration, RemovalTakesAwayEveryUserKey) {
  ASSERT_EQ(server_->Install(TRUE, L"user"), S_OK);
  ASSERT_FALSE(Everything(user_).empty());
  ASSERT_EQ(server_->Install(FALSE, L"user"), S_OK);
  EXPECT_TRUE(Everything(user_).empty());
  EXPECT_FALSE(KeyExists(user_, kDispatchKey));
  // Removing again finds nothing to remove, which is no failure.
  EXPECT_EQ(server_->Install(FALSE, L"user"), S_OK);
}

TEST_F(PerUserRegistration, UnknownCommandLineIsRefused) {
  EXPECT_EQ(server_->Install(TRUE, L"everyone"), E_INVALIDARG);
  EXPECT_TRUE(Everything(user_).empty());
  EXPECT_TRUE(Everything(HKEY_CLASSES_ROOT).empty());
}

// A volatile key takes no lasting subkeys: registration cannot write below it.
void MakeVolatileKey(HKEY root, const std::wstring& key,
                     const host::Where& where = host::Where::current()) {
  const host::CallerTrace trace(where);
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(root, key.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(k);
}

TEST_F(Registration, ATypeLibraryThatCannotBeRegisteredStopsBeforeTheClasses) {
  MakeVolatileKey(HKEY_CLASSES_ROOT, kLibKey);
  EXPECT_EQ(server_->RegisterServer(), SELFREG_E_TYPELIB);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kCtrlKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kPageKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"UDP.UdpCtrl.1"));
  ASSERT_TRUE(container::DeleteTree(HKEY_CLASSES_ROOT, kLibKey));
}

TEST_F(Registration, AClassThatCannotBeRegisteredFailsAndKeepsWhatWasWritten) {
  MakeVolatileKey(HKEY_CLASSES_ROOT, kPageKey);
  EXPECT_EQ(server_->RegisterServer(), SELFREG_E_CLASS);
  // The type library and the control came first and stay registered.
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kLibKey));
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kCtrlKey + L"\\MiscStatus\\1"), L"132497");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kPageKey + L"\\InprocServer32"));
  ASSERT_TRUE(container::DeleteTree(HKEY_CLASSES_ROOT, kPageKey));
}

}  // namespace
