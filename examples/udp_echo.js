// Talks to a UDP echo service through UdpSocket with callbacks. A script under Windows Script
// Host has no message loop of its own: Wait processes messages, so the callbacks run.
// Usage: cscript //nologo udp_echo.js <port> [host]
var args = WScript.Arguments;
if (args.length < 1) {
  WScript.Echo("usage: cscript //nologo udp_echo.js <port> [host]");
  WScript.Quit(2);
}
var port = args(0), host = args.length > 1 ? args(1) : "127.0.0.1";
var texts = ["hello", "caf\u00e9 \u65e5\u672c"];  // UTF-8 keeps any character
var sent = 0, answered = 0, closed = false;

var udp = new ActiveXObject("UDP.UdpSocket");
function sendNext() {
  udp.SendTo(host, port, udp.TextToBytes(texts[sent++]));
}
udp.OnReady = function () {
  WScript.Echo("ready");
  sendNext();
};
udp.OnReceived = function (address, fromPort, data) {
  var text = udp.BytesToText(data);
  WScript.Echo("from " + address + ": " + text.length + " characters, " +
               (text == texts[answered] ? "as sent" : "changed"));
  if (++answered < texts.length) sendNext(); else udp.Close();
};
udp.OnClosed = function () {
  closed = true;
};
udp.OnWsError = function (code, description, where) {
  WScript.Echo("error " + code + " in " + where);
  return false;  // true would keep the port open
};

udp.Open("0");
while (!closed && udp.Wait(3000)) {
}
WScript.Echo(closed ? "closed after " + answered + " answers" : "no answer within 3 s");
