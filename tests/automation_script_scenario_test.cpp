// One exchange of datagrams driven the way a script engine drives the control: names resolved by
// GetIDsOfNames for the user's locale, reads as method-or-get, variables passed by reference,
// events through the sink the container connected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/host.h"
#include "support/trace.h"
#include "support/typelib.h"

namespace {

using host::Host;
using host::Var;

using host::kClosed;
using host::kReady;
using host::kReceived;
using host::kSent;

// What a script engine does with an IDispatch, and nothing more.
class Script {
 public:
  explicit Script(IDispatch* object) : object_(object) {}

  // obj.name(args...) as a statement or an expression; variables go by reference.
  HRESULT Call(const wchar_t* name, std::vector<Var*> variables, Var* result = nullptr) {
    return Invoke(name, DISPATCH_METHOD | (result ? DISPATCH_PROPERTYGET : 0), variables, result);
  }
  Var Read(const wchar_t* name, const host::Where& where = host::Where::current()) {
    const host::CallerTrace trace(where);
    Var out;
    EXPECT_EQ(Invoke(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &out), S_OK);
    return out;
  }
  HRESULT Write(const wchar_t* name, Var* variable) {
    return Invoke(name, DISPATCH_PROPERTYPUT, {variable}, nullptr);
  }

 private:
  HRESULT Invoke(const wchar_t* name, WORD flags, std::vector<Var*> variables, Var* result) {
    std::vector<Var> references;
    for (Var* variable : variables) references.push_back(Var::Ref(*variable));
    const host::CallResult r =
        host::Invoke(object_, name, flags, std::move(references), result != nullptr);
    if (result) *result = r.value;
    return r.hr;
  }
  IDispatch* object_;
};

TEST(AutomationScriptScenario, OpenSendReceiveAndCloseThroughIDispatchOnly) {
  host::RegisteredTypeLib registration;
  ASSERT_HRESULT_SUCCEEDED(registration.status());
  Host container;
  Script udp(container.dispatch());
  host::PeerSocket peer;

  // Dim port: port = <free port>: udp.Open port
  Var localPort(std::to_wstring(host::FreeUdpPort()));
  ASSERT_EQ(udp.Call(L"Open", {&localPort}), S_OK);
  EXPECT_EQ(udp.Read(L"State").i2(), 1);
  ASSERT_TRUE(container.WaitForEvents(kReady, 1));

  // udp.UserFlag = "exchange"
  Var flag(L"exchange");
  ASSERT_EQ(udp.Write(L"UserFlag", &flag), S_OK);
  EXPECT_EQ(udp.Read(L"userflag").text(), L"exchange");

  // The far end speaks first.
  const u_short port = static_cast<u_short>(std::stoi(localPort.text()));
  ASSERT_TRUE(peer.SendTo(port, {'p', 'i', 'n', 'g'}));
  ASSERT_TRUE(container.WaitForEvents(kReceived, 1));
  const host::Event received = container.sink().events.back();
  EXPECT_EQ(received.args[0].text(), host::kLoopbackText);
  EXPECT_EQ(received.args[2].bytes(), (std::vector<unsigned char>{'p', 'i', 'n', 'g'}));

  // udp.SendTo ip, port, data  with the reply bytes made by htonl.
  Var value(3232235777.0), reply;
  ASSERT_EQ(udp.Call(L"htonl", {&value}, &reply), S_OK);
  Var remoteIp(received.args[0]), remotePort(received.args[1]);
  ASSERT_EQ(udp.Call(L"SendTo", {&remoteIp, &remotePort, &reply}), S_OK);
  ASSERT_TRUE(container.WaitForEvents(kSent, 1));
  std::vector<unsigned char> bytes;
  u_short from = 0;
  ASSERT_TRUE(peer.Receive(bytes, &from));
  EXPECT_EQ(bytes, (std::vector<unsigned char>{0xC0, 0xA8, 0x01, 0x01}));
  EXPECT_EQ(from, port);

  // x = udp.ntohl(data) reads the reply back.
  Var number;
  ASSERT_EQ(udp.Call(L"ntohl", {&reply}, &number), S_OK);
  EXPECT_EQ(number.r8(), 3232235777.0);

  ASSERT_EQ(udp.Call(L"Close", {}), S_OK);
  EXPECT_EQ(container.sink().Count(kClosed), 1);
  EXPECT_EQ(udp.Read(L"State").i2(), 0);
  EXPECT_EQ(udp.Read(L"Socket").i4(), -1);
  EXPECT_EQ(container.sink().Order(), (std::vector<DISPID>{kReady, kReceived, kSent, kClosed}));
}

}  // namespace
