' UdpSocket from VBScript: Receive with and without a datagram, the text helpers beyond ASCII,
' and the error numbers of refused input. Wine's VBScript has no ChrW, AscW or UBound of a byte
' array: the accented letter is made from its UTF-8 bytes, and bytes are shown through ntohs.
Option Explicit
Dim udp, port, accent, reply
port = WScript.Arguments(0)
Set udp = CreateObject("UDP.UdpSocket")
udp.Open "0"
WScript.Echo "nothing yet: " & IsEmpty(udp.Receive(100))

accent = udp.BytesToText(udp.htons(&HC3A9))
WScript.Echo "UTF-8 " & Hex(udp.ntohs(udp.TextToBytes(accent))) & ", UTF-16 " & _
             Hex(udp.ntohs(udp.TextToBytes(accent, 1200))) & ", length " & Len(accent)
udp.SendTo "127.0.0.1", port, udp.TextToBytes("caf" & accent, 1200)
reply = udp.Receive(2000)
WScript.Echo "echoed from " & udp.FromAddress & ", as sent: " & _
             (udp.BytesToText(reply, 1200) = "caf" & accent)

' Nothing is lost to Receive: three answers that come while another object waits are kept, in
' order, for the next three Receive calls, and outlive Close.
Dim other, i, kept
Set other = CreateObject("UDP.UdpSocket")
For i = 1 To 3
  udp.SendTo "127.0.0.1", port, udp.TextToBytes("n" & i)
  other.Wait 300
Next
kept = udp.Queued & " kept:"
udp.Close
For i = 1 To 3
  kept = kept & " " & udp.BytesToText(udp.Receive(0))
Next
WScript.Echo kept & ", dropped " & udp.Dropped
udp.Open "0"

On Error Resume Next
udp.Wait "soon"
WScript.Echo "Wait ""soon"": " & Err.Number
Err.Clear
udp.Wait -1
WScript.Echo "Wait -1: " & Err.Number
Err.Clear
udp.TextToBytes "x", 1234
WScript.Echo "code page 1234: " & Err.Number
Err.Clear
udp.Close
udp.Receive 10
WScript.Echo "Receive while closed: " & Err.Number
