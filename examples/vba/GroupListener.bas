Attribute VB_Name = "GroupListener"
' Listens to a multicast group (device discovery, telemetry) through UdpSocket, without events:
' Receive waits for each datagram and lets the host's messages run meanwhile.
' Tools > References: "UDPLib" (udp.ocx registered with regsvr32).
'
'   Listen "239.255.10.12", "5007", "192.168.1.20", 10    in the Immediate window
'   Listen "239.255.10.12", "5007"                         on every interface that is up
Option Explicit

' Prints each datagram of the group with its sender until Count have come or none came for
' TimeoutMs; returns how many came.
Public Function Listen(ByVal Group As String, ByVal Port As String, _
                       Optional ByVal Interface As String = "", _
                       Optional ByVal Count As Long = 10, _
                       Optional ByVal TimeoutMs As Long = 10000) As Long
    Dim link As UDPLib.UdpSocket
    Dim data As Variant
    Set link = New UDPLib.UdpSocket
    link.ReuseAddress = True          ' before Open: other listeners may share the port
    link.MulticastLoopback = True     ' also hear senders on this PC
    link.Open Port
    link.JoinGroup Group, Interface   ' "" joins on every interface that can carry multicast
    Do While Listen < Count
        data = link.Receive(TimeoutMs)
        If IsEmpty(data) Then Exit Do
        Listen = Listen + 1
        Debug.Print link.FromAddress & ":" & link.FromPort, link.BytesToText(data, 0)
    Loop
    link.LeaveGroup Group, Interface
    link.Close
End Function
