' A UDP server on a host with several addresses that answers each request from the address the
' peer contacted (a peer drops a reply that comes from another of the host's addresses): the
' socket is bound to every address, ToAddress says which one each datagram was sent to, and
' SourceAddress makes the reply leave from it.
' Usage: cscript //nologo reply_from_contacted.vbs <port> [requests]
Option Explicit
Dim udp, port, count, served, request

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo reply_from_contacted.vbs <port> [requests]"
  WScript.Quit 2
End If
port = WScript.Arguments(0)
count = 1
If WScript.Arguments.Count > 1 Then count = CLng(WScript.Arguments(1))

Set udp = CreateObject("UDP.UdpSocket")
udp.Open port                                   ' LocalAddress empty: every IPv4 address
WScript.Echo "listening on port " & port
served = 0
Do While served < count
  request = udp.Receive(10000)
  If IsEmpty(request) Then
    WScript.Echo "no request within 10 s"
    Exit Do
  End If
  udp.SourceAddress = udp.ToAddress             ' answer from the address contacted
  udp.SendTo udp.FromAddress, udp.FromPort, request
  WScript.Echo "answered " & udp.FromAddress & " from " & udp.SourceAddress & _
               " (interface " & udp.ToInterface & ")"
  served = served + 1
Loop
' An answer leaves when the object next processes messages: let the last one go before Close.
Do While Not udp.Sendable
  If Not udp.Wait(1000) Then Exit Do
Loop
udp.Close
