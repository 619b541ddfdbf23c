' Talks to a UDP echo service through UdpSocket: sends texts and reads each answer with Receive,
' which processes messages until the next datagram comes (or the time runs out).
' Usage: cscript //nologo udp_echo.vbs <port> [host]
Option Explicit
Dim host, port, udp, text, reply

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo udp_echo.vbs <port> [host]"
  WScript.Quit 2
End If
port = WScript.Arguments(0)
host = "127.0.0.1"
If WScript.Arguments.Count > 1 Then host = WScript.Arguments(1)

Set udp = CreateObject("UDP.UdpSocket")
udp.Open "0"                                       ' a free local port of the system's choice
For Each text In Array("hello", "second datagram")
  udp.SendTo host, port, udp.TextToBytes(text)    ' UTF-8 on the wire
  reply = udp.Receive(2000)
  If IsEmpty(reply) Then
    WScript.Echo "no answer within 2 s"
  Else
    WScript.Echo "from " & udp.FromAddress & ": " & udp.BytesToText(reply)
  End If
Next

' UTF-16 (code page 1200): two bytes a character, as Windows stores text.
udp.SendTo host, port, udp.TextToBytes("wide text", 1200)
reply = udp.Receive(2000)
If Not IsEmpty(reply) Then WScript.Echo "UTF-16: " & udp.BytesToText(reply, 1200)
udp.Close
