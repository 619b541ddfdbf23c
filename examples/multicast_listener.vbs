' Listens to a multicast group through UdpSocket: joins the group on one interface (or on every
' interface that can carry multicast), prints what arrives with its sender, then leaves.
' Usage: cscript //nologo multicast_listener.vbs <group> <port> [interface] [count]
'   e.g. cscript //nologo multicast_listener.vbs 239.255.10.12 5007 192.168.1.20 10
' Other programs may listen on the same port: ReuseAddress lets every listener bind it.
Option Explicit
Dim group, port, iface, count, udp, data, received

If WScript.Arguments.Count < 2 Then
  WScript.Echo "usage: cscript //nologo multicast_listener.vbs <group> <port> [interface] [count]"
  WScript.Quit 2
End If
group = WScript.Arguments(0)
port = WScript.Arguments(1)
iface = ""                                         ' empty: every interface that is up
If WScript.Arguments.Count > 2 Then iface = WScript.Arguments(2)
count = 10
If WScript.Arguments.Count > 3 Then count = CLng(WScript.Arguments(3))

Set udp = CreateObject("UDP.UdpSocket")
udp.ReuseAddress = True                            ' before Open: share the port
udp.Open port
udp.JoinGroup group, iface
WScript.Echo "joined " & group & " on port " & port

received = 0
Do While received < count
  data = udp.Receive(10000)                        ' processes messages until a datagram comes
  If IsEmpty(data) Then
    WScript.Echo "nothing for 10 s"
    Exit Do
  End If
  received = received + 1
  WScript.Echo udp.FromAddress & ":" & udp.FromPort & " " & udp.BytesToText(data)
Loop

udp.LeaveGroup group, iface
udp.Close
WScript.Echo "left " & group
