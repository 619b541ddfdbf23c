' Talks to a UDP echo service over IPv6 and IPv4 from one dual-stack UdpSocket: LocalAddress "::"
' opens an IPv6 socket that also serves IPv4 peers (Ipv6Only is False), so one port reaches both.
' Each answer comes with its sender as the text to reply to: "::1" for the IPv6 peer, the dotted
' address for the IPv4 one.
' Usage: cscript //nologo udp_echo_ipv6.vbs <port> [ipv6 host] [ipv4 host]
Option Explicit
Dim port, udp, host, reply, hosts

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo udp_echo_ipv6.vbs <port> [ipv6 host] [ipv4 host]"
  WScript.Quit 2
End If
port = WScript.Arguments(0)
hosts = Array("::1", "127.0.0.1")
If WScript.Arguments.Count > 1 Then hosts(0) = WScript.Arguments(1)
If WScript.Arguments.Count > 2 Then hosts(1) = WScript.Arguments(2)

Set udp = CreateObject("UDP.UdpSocket")
udp.LocalAddress = "::"          ' every address of both families; "::1" would be IPv6 loopback only
udp.Open "0"
WScript.Echo "address family " & udp.AddressFamily & ", bound to " & udp.LocalAddress
For Each host In hosts
  udp.SendTo host, port, udp.TextToBytes("hello over " & host)
  reply = udp.Receive(2000)
  If IsEmpty(reply) Then
    WScript.Echo "no answer from " & host & " within 2 s"
  Else
    WScript.Echo "from " & udp.FromAddress & ": " & udp.BytesToText(reply)
  End If
Next

' An address the socket's family cannot reach fails inside the call (IPv6 has no broadcast).
On Error Resume Next
udp.SendTo "255.255.255.255", port, udp.TextToBytes("nobody")
WScript.Echo "broadcast on IPv6: error " & Err.Number
On Error GoTo 0
udp.Close
