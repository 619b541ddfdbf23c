' A script host creates the control by its ProgID. CreateObject neither sites nor initialises a
' control, so every automation call answers E_UNEXPECTED (&H8000FFFF).
Option Explicit
Dim udp, value
Set udp = CreateObject("UDP.UdpCtrl.1")
WScript.Echo "created: " & TypeName(udp)

On Error Resume Next
value = udp.State
WScript.Echo "get State: " & Hex(Err.Number)
Err.Clear
udp.UserData1 = "from a script"
WScript.Echo "put UserData1: " & Hex(Err.Number)
Err.Clear
udp.Open "0"
WScript.Echo "Open: " & Hex(Err.Number)
Err.Clear
udp.Close
WScript.Echo "Close: " & Hex(Err.Number)
Err.Clear
On Error GoTo 0

Set udp = Nothing
WScript.Echo "released"
