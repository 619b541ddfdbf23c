// Texts reach the host unchanged whatever the system code page: the control's messages and the
// texts a host stores.
#include <gtest/gtest.h>

#include "support/datagrams.h"
#include "support/host.h"
#include "support/property_bag.h"

using host::Host;
using host::Var;

namespace {
// Japanese, Cyrillic and a character outside the Basic Multilingual Plane: none of them in the
// Western code page this platform runs with.
const std::wstring kWideText = L"ユーザー データ Привет \U0001F600";
}  // namespace

TEST(Texts, TheSystemCodePageCannotHoldTheTestText) {
  // Guards the tests below: they prove something only when ANSI could not carry the text.
  BOOL lossy = FALSE;
  char buffer[128];
  ::WideCharToMultiByte(CP_ACP, 0, kWideText.c_str(), -1, buffer, sizeof buffer, nullptr, &lossy);
  EXPECT_TRUE(lossy) << "code page " << ::GetACP();
}

TEST(Texts, StoredTextsComeBackUnchanged) {
  Host h;
  for (const wchar_t* name :
       {L"UserData1", L"UserData2", L"UserData3", L"UserData4", L"UserData5", L"UserFlag"}) {
    h.MustPut(name, kWideText + name);
    EXPECT_EQ(h.MustGet(name).text(), kWideText + name);
  }
}

TEST(Texts, StoredTextsSurviveSaveAndLoad) {
  Host first;
  first.MustPut(L"UserData2", kWideText);
  first.MustPut(L"UserFlag", kWideText);
  host::PropertyBag bag;
  fw::com_ptr<IPersistPropertyBag> p;
  first.dispatch()->QueryInterface(IID_IPersistPropertyBag, p.put_void());
  ASSERT_EQ(p->Save(&bag, TRUE, TRUE), S_OK);
  Host second(Host::Init::None);
  second.dispatch()->QueryInterface(IID_IPersistPropertyBag, p.put_void());
  ASSERT_EQ(p->Load(&bag, nullptr), S_OK);
  EXPECT_EQ(second.MustGet(L"UserData2").text(), kWideText);
  EXPECT_EQ(second.MustGet(L"UserFlag").text(), kWideText);
}

TEST(Texts, ErrorMessagesArriveExactly) {
  Host h;
  h.MustCall(L"Open", {L"0"});
  auto again = h.Call(L"Open", {L"0"});
  EXPECT_EQ(again.description, host::kAlreadyOpenMessage);
  h.MustCall(L"Close");
  auto send = h.Call(L"SendTo", {host::kLoopbackText, L"9", Var::Bytes({1})});
  EXPECT_EQ(send.scode, host::kScodeNotOpen);
  EXPECT_EQ(send.description, host::kNotOpenMessage);
}

TEST(Texts, WsErrorDescriptionArrivesExactly) {
  Host h;
  h.MustCall(L"Open", {L"0"});
  ASSERT_TRUE(h.WaitForEvents(host::kReady, 1));
  host::PostSocketNotify(h, FD_WRITE, WSAENETDOWN);
  ASSERT_TRUE(h.WaitForEvents(host::kWsError, 1));
  for (auto& e : h.sink().events) {
    if (e.id != host::kWsError) continue;
    EXPECT_EQ(e.args[1].text(), host::kWinsockMessage);
    EXPECT_EQ(e.args[2].text(), L"FD_WRITE");
  }
}
