VERSION 5.00
Object = "{F898A5F0-DC31-4ED8-AB16-C58E72891C2B}#1.0#0"; "udp.ocx"
Begin VB.Form frmUdpChat 
   BorderStyle     =   1  'Fixed Single
   Caption         =   "UDP chat"
   ClientHeight    =   4455
   ClientLeft      =   45
   ClientTop       =   375
   ClientWidth     =   6615
   LinkTopic       =   "Form1"
   MaxButton       =   0   'False
   ScaleHeight     =   4455
   ScaleWidth      =   6615
   StartUpPosition =   3  'Windows Default
   Begin VB.TextBox txtLocalPort 
      Height          =   315
      Left            =   1320
      TabIndex        =   0
      Text            =   "5000"
      Top             =   120
      Width           =   975
   End
   Begin VB.CommandButton cmdOpen 
      Caption         =   "&Open"
      Default         =   -1  'True
      Height          =   315
      Left            =   2400
      TabIndex        =   1
      Top             =   120
      Width           =   975
   End
   Begin VB.CommandButton cmdClose 
      Caption         =   "&Close"
      Enabled         =   0   'False
      Height          =   315
      Left            =   3480
      TabIndex        =   2
      Top             =   120
      Width           =   975
   End
   Begin VB.TextBox txtRemoteHost 
      Height          =   315
      Left            =   1320
      TabIndex        =   3
      Text            =   "127.0.0.1"
      Top             =   600
      Width           =   2055
   End
   Begin VB.TextBox txtRemotePort 
      Height          =   315
      Left            =   3480
      TabIndex        =   4
      Text            =   "5001"
      Top             =   600
      Width           =   975
   End
   Begin VB.TextBox txtMessage 
      Height          =   315
      Left            =   1320
      TabIndex        =   5
      Text            =   "hello"
      Top             =   1080
      Width           =   3135
   End
   Begin VB.CommandButton cmdSend 
      Caption         =   "&Send"
      Enabled         =   0   'False
      Height          =   315
      Left            =   4560
      TabIndex        =   6
      Top             =   1080
      Width           =   975
   End
   Begin VB.ListBox lstLog 
      Height          =   2790
      Left            =   120
      TabIndex        =   7
      Top             =   1560
      Width           =   6375
   End
   Begin UDPLib.Udp Udp1 
      Left            =   5880
      Top             =   120
      _ExtentX        =   847
      _ExtentY        =   847
      _Version        =   65536
   End
   Begin VB.Label lblLocal 
      Caption         =   "Local port"
      Height          =   255
      Left            =   120
      TabIndex        =   8
      Top             =   150
      Width           =   1095
   End
   Begin VB.Label lblRemote 
      Caption         =   "Send to"
      Height          =   255
      Left            =   120
      TabIndex        =   9
      Top             =   630
      Width           =   1095
   End
   Begin VB.Label lblMessage 
      Caption         =   "Message"
      Height          =   255
      Left            =   120
      TabIndex        =   10
      Top             =   1110
      Width           =   1095
   End
End
Attribute VB_Name = "frmUdpChat"
Attribute VB_GlobalNameSpace = False
Attribute VB_Creatable = False
Attribute VB_PredeclaredId = True
Attribute VB_Exposed = False
' A UDP chat with the Udp control on a form: open a local port, send a line of text to a host and
' port, and list every datagram that arrives. Run two copies (ports 5000 and 5001, each sending to
' the other) to talk to yourself. The form's message loop drives the control: no timers, no DoEvents.
Option Explicit

Private Sub Form_Load()
    AddLine "Windows Sockets " & Udp1.WinsockVer & " (" & Udp1.WinsockDesc & "), host " & Udp1.LocalHost
End Sub

Private Sub cmdOpen_Click()
    On Error GoTo Failed
    Udp1.Open txtLocalPort.Text            ' a port number, "0" for any, or a service name
    cmdOpen.Enabled = False
    cmdClose.Enabled = True
    Exit Sub
Failed:
    ' 29907: already open; any other number is a Windows Sockets error (10048: port in use)
    AddLine "Open failed: " & Err.Number & " " & Err.Description
End Sub

Private Sub cmdClose_Click()
    Udp1.Close                             ' raises Closed
End Sub

Private Sub cmdSend_Click()
    If Not Udp1.Sendable Then
        AddLine "still sending the previous datagram"
        Exit Sub
    End If
    On Error GoTo Failed
    ' Bytes in the system code page; a plain String would go out as UTF-16.
    Udp1.SendTo txtRemoteHost.Text, txtRemotePort.Text, StrConv(txtMessage.Text, vbFromUnicode)
    Exit Sub
Failed:
    AddLine "SendTo failed: " & Err.Number & " " & Err.Description
End Sub

Private Sub Udp1_Ready()
    AddLine "ready on " & Udp1.LocalAddress & " port " & txtLocalPort.Text & " (socket " & Udp1.Socket & ")"
    cmdSend.Enabled = True
End Sub

Private Sub Udp1_Received(ByVal IpAddress As String, ByVal Port As String, ByVal Data As Variant)
    ' Port is signed: ports above 32767 arrive negative.
    Dim senderPort As Long
    senderPort = CLng(Port)
    If senderPort < 0 Then senderPort = senderPort + 65536
    AddLine IpAddress & ":" & senderPort & " says " & StrConv(Data, vbUnicode) & _
        " (" & (UBound(Data) + 1) & " bytes)"
End Sub

Private Sub Udp1_Sent()
    AddLine "sent """ & txtMessage.Text & """"
End Sub

Private Sub Udp1_Closed()
    AddLine "closed"
    cmdOpen.Enabled = True
    cmdClose.Enabled = False
    cmdSend.Enabled = False
End Sub

Private Sub Udp1_WsError(ByVal Ecode As Long, ByVal Description As String, _
                         ByVal Where As String, CancelClose As Boolean)
    AddLine "error " & Ecode & " in " & Where & ": " & Description & " (State " & Udp1.State & ")"
    ' 11001: an unknown host name. Keep the port open and let the user fix the address.
    If Ecode = 11001 Then CancelClose = True
End Sub

Private Sub Form_Unload(Cancel As Integer)
    Udp1.Close
End Sub

Private Sub AddLine(ByVal Text As String)
    lstLog.AddItem Text
    lstLog.ListIndex = lstLog.NewIndex
End Sub
