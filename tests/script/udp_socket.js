// UdpSocket from JScript: the callbacks run while Wait processes messages, Wait says false when
// nothing happens in time, and a true result of OnWsError keeps the port open. (Wine's JScript
// cannot take typeof of a byte array: scripts only pass them on.)
var port = WScript.Arguments(0);
var udp = new ActiveXObject("UDP.UdpSocket");
var log = [];
udp.OnReady = function () { log.push("ready"); };
udp.OnSent = function () { log.push("sent"); };
udp.OnReceived = function (address, fromPort, data) {
  log.push("received " + udp.BytesToText(data) + " from " + address);
};
udp.OnWsError = function (code, description, where) {
  log.push("error in " + where);
  return true;
};
udp.OnClosed = function () { log.push("closed"); };

udp.Open("0");
udp.SendTo("127.0.0.1", port, udp.TextToBytes("ping"));
while (log.length < 3 && udp.Wait(2000)) {
}
WScript.Echo(log.join(", "));
WScript.Echo("then nothing: " + udp.Wait(100));

log = [];
udp.SendTo("127.0.0.1", "no-such-service", udp.TextToBytes("x"));
udp.Wait(2000);
WScript.Echo(log.join(", ") + "; open: " + (udp.Socket != -1) + ", State " + udp.State);
udp.OnWsError = null;
udp.Close();
WScript.Echo(log.join(", "));
