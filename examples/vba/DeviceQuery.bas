Attribute VB_Name = "DeviceQuery"
' Request and response to a device that answers each UDP datagram with one datagram, without
' events: Receive waits for the answer (and lets the host's messages run meanwhile).
' Tools > References: "Karvo Dgramix 1.10", the library UDPLib (udp.ocx registered with
' regsvr32).
'
'   ? Ask("192.168.1.50", "4000", "STATUS?")        in the Immediate window
'   =Ask("192.168.1.50", "4000", "TEMP?")           in an Excel cell
Option Explicit

' The device's answer as text, or Null when none came in time. Tries a second time, since a
' datagram may be lost on the way.
Public Function Ask(ByVal Host As String, ByVal Port As String, ByVal Request As String, _
                    Optional ByVal TimeoutMs As Long = 1000) As Variant
    Dim link As UDPLib.UdpSocket
    Dim reply As Variant
    Dim attempt As Integer
    Set link = New UDPLib.UdpSocket
    link.Open "0"
    Ask = Null
    For attempt = 1 To 2
        link.SendTo Host, Port, link.TextToBytes(Request, 0)    ' 0: the system's ANSI code page
        reply = link.Receive(TimeoutMs)
        If Not IsEmpty(reply) Then
            Ask = link.BytesToText(reply, 0)
            Exit For
        End If
    Next
    link.Close
End Function
