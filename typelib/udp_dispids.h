/* The DISPID of every member of _DUdp and _DUdpSocket and of every event of _DUdpEvents, declared
   once: the IDL (typelib/udp.idl) and the C++ both include this file, and name an identifier as
   UDP_DISPID(SendTo). Plain preprocessor text, so that widl reads it as the compilers do. */
#ifndef UDP_DISPIDS_H
#define UDP_DISPIDS_H

#define UDP_DISPID(member) UDP_DISPID_##member

/* _DUdp, shared by _DUdpSocket: properties */
#define UDP_DISPID_State 1
#define UDP_DISPID_UserData1 2
#define UDP_DISPID_UserData2 3
#define UDP_DISPID_UserData3 4
#define UDP_DISPID_UserData4 5
#define UDP_DISPID_UserData5 6
#define UDP_DISPID_UserFlag 7
#define UDP_DISPID_LastError 8
#define UDP_DISPID_Broadcast 9
#define UDP_DISPID_InetAddress 10
#define UDP_DISPID_InetIp 11
#define UDP_DISPID_InetName 12
#define UDP_DISPID_Copyright 13
#define UDP_DISPID_Socket 14
#define UDP_DISPID_WinsockVer 15
#define UDP_DISPID_WinsockDesc 16
#define UDP_DISPID_WinsockSysStat 17
#define UDP_DISPID_WinsockMaxSockets 18
#define UDP_DISPID_WinsockMaxDatagram 19
#define UDP_DISPID_Version 20
#define UDP_DISPID_Rcvbuf 21
#define UDP_DISPID_Sndbuf 22
#define UDP_DISPID_Sendable 26
#define UDP_DISPID_LocalIp 27
#define UDP_DISPID_LocalPort 28
#define UDP_DISPID_LocalAddress 29
#define UDP_DISPID_LocalHost 30
#define UDP_DISPID_AnyData 41
/* methods */
#define UDP_DISPID_Open 31
#define UDP_DISPID_Close 32
#define UDP_DISPID_htonl 33
#define UDP_DISPID_htons 34
#define UDP_DISPID_ntohl 35
#define UDP_DISPID_ntohs 36
#define UDP_DISPID_SendTo 37
#define UDP_DISPID_HostIp 40
/* the standard About box (DISPID_ABOUTBOX); on _DUdp only */
#define UDP_DISPID_AboutBox (-552)
/* multicast and port sharing (extension members) */
#define UDP_DISPID_JoinGroup 120
#define UDP_DISPID_LeaveGroup 121
#define UDP_DISPID_MulticastTtl 122
#define UDP_DISPID_MulticastLoopback 123
#define UDP_DISPID_MulticastInterface 124
#define UDP_DISPID_ReuseAddress 125

/* _DUdpSocket's own members */
#define UDP_DISPID_Wait 101
#define UDP_DISPID_Receive 102
#define UDP_DISPID_FromAddress 103
#define UDP_DISPID_FromPort 104
#define UDP_DISPID_TextToBytes 105
#define UDP_DISPID_BytesToText 106
#define UDP_DISPID_Queued 107
#define UDP_DISPID_QueueLimit 108
#define UDP_DISPID_QueueByteLimit 109
#define UDP_DISPID_OnReady 110
#define UDP_DISPID_OnReceived 111
#define UDP_DISPID_OnSent 112
#define UDP_DISPID_OnClosed 113
#define UDP_DISPID_OnWsError 114
#define UDP_DISPID_Dropped 115

/* the events of _DUdpEvents */
#define UDP_DISPID_WsError 1
#define UDP_DISPID_Received 2
#define UDP_DISPID_Closed 3
#define UDP_DISPID_Ready 4
#define UDP_DISPID_Sent 5

#endif
