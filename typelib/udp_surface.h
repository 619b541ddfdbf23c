/* The automation surface, every member written once: the properties and methods of _DUdp (the
   control) and _DUdpSocket (UdpSocket), and the events of _DUdpEvents. The DISPIDs
   (udp_dispids.h), the three dispatch interfaces of the type library (udp.idl, through
   udp_members.idl), the declarations the dispatch tables bind (control/surface.h) and what the
   drift test expects of the library and the tables are all expanded from this list. A new member
   is its entry here, its thunks in the dispatch table of the object that implements it, and its
   row in docs/reference.md.

   Plain preprocessor text that widl reads as the compilers do, included once per expansion: the
   includer defines the entries it expands and the parameter forms; an entry it leaves undefined
   expands to nothing, and every entry is undefined again at the end. widl's preprocessor has no
   variadic macros and cannot call a macro passed as an argument, hence fixed columns and a
   method's parameters as one parenthesised column.

   UDP_PROPERTY(Name, DISPID, Type, Access, OfferedBy, Saving)
   UDP_METHOD(Name, DISPID, Result, OfferedBy, (Parameters))
   UDP_EVENT(Name, DISPID, (Parameters))

   Type      Integer, Long, Boolean, String, Variant; None (a method without a result);
             BooleanByRef (a flag an event's sink may set); and LibraryAsDispatcher where the
             dispatcher takes or gives a wider type than the library declares: LongAsDouble and
             IntegerAsLong, so that the whole unsigned range of a long or a short can be passed to
             the byte-order methods; ObjectAsVariant, so that Nothing, Empty and Null reach a
             callback's setter too.
   Access    ReadWrite; ReadOnly, which the library marks readonly and on which the dispatcher
             refuses a put (0x800A017F); ReadOnlyUnmarked, refused as ReadOnly but not marked in
             the library, where the control's read-only properties have never been marked.
   OfferedBy Both, ControlOnly, SocketOnly.
   Saving    Saved when the control saves the property with the form (under its name, Rcvbuf and
             Sndbuf in capitals), else NotSaved.
   Parameters UDP_PARAM(Name, Type); UDP_PARAM_DEFAULT(Name, Long, Value), a number the caller
             may leave out; UDP_PARAM_OPTIONAL(Name), a Variant the caller may leave out, which
             then arrives as "not given".

   The order is the type library's (properties, then methods, each in its interface's order):
   moving an entry changes the library. */

#ifndef UDP_PROPERTY
#define UDP_PROPERTY(name, dispid, type, access, offeredBy, saving)
#endif
#ifndef UDP_METHOD
#define UDP_METHOD(name, dispid, result, offeredBy, params)
#endif
#ifndef UDP_EVENT
#define UDP_EVENT(name, dispid, params)
#endif

/* the control's properties, which UdpSocket shares */
UDP_PROPERTY(State, 1, Integer, ReadWrite, Both, NotSaved)
UDP_PROPERTY(UserData1, 2, String, ReadWrite, Both, Saved)
UDP_PROPERTY(UserData2, 3, String, ReadWrite, Both, Saved)
UDP_PROPERTY(UserData3, 4, String, ReadWrite, Both, Saved)
UDP_PROPERTY(UserData4, 5, String, ReadWrite, Both, Saved)
UDP_PROPERTY(UserData5, 6, String, ReadWrite, Both, Saved)
UDP_PROPERTY(UserFlag, 7, String, ReadWrite, Both, Saved)
UDP_PROPERTY(LastError, 8, Long, ReadWrite, Both, Saved)
UDP_PROPERTY(Broadcast, 9, Boolean, ReadWrite, Both, Saved)
UDP_PROPERTY(InetAddress, 10, String, ReadWrite, Both, Saved)
UDP_PROPERTY(InetIp, 11, Long, ReadWrite, Both, Saved)
UDP_PROPERTY(InetName, 12, String, ReadWrite, Both, Saved)
UDP_PROPERTY(Copyright, 13, String, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(Socket, 14, Long, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(WinsockVer, 15, String, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(WinsockDesc, 16, String, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(WinsockSysStat, 17, String, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(WinsockMaxSockets, 18, String, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(WinsockMaxDatagram, 19, String, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(Version, 20, Integer, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(Rcvbuf, 21, Long, ReadWrite, Both, Saved)
UDP_PROPERTY(Sndbuf, 22, Long, ReadWrite, Both, Saved)
UDP_PROPERTY(Sendable, 26, Boolean, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(LocalIp, 27, Long, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(LocalPort, 28, Integer, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(LocalAddress, 29, String, ReadWrite, Both, NotSaved)
UDP_PROPERTY(LocalHost, 30, String, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(AnyData, 41, Variant, ReadWrite, Both, NotSaved)
/* multicast and port sharing */
UDP_PROPERTY(MulticastTtl, 122, Long, ReadWrite, Both, NotSaved)
UDP_PROPERTY(MulticastLoopback, 123, Boolean, ReadWrite, Both, NotSaved)
UDP_PROPERTY(MulticastInterface, 124, String, ReadWrite, Both, NotSaved)
UDP_PROPERTY(ReuseAddress, 125, Boolean, ReadWrite, Both, NotSaved)
/* IPv6 and dual stack */
UDP_PROPERTY(Ipv6Only, 126, Boolean, ReadWrite, Both, NotSaved)
UDP_PROPERTY(AddressFamily, 127, Long, ReadOnlyUnmarked, Both, NotSaved)
/* multi-homed hosts */
UDP_PROPERTY(ToAddress, 128, String, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(ToInterface, 129, Long, ReadOnlyUnmarked, Both, NotSaved)
UDP_PROPERTY(SourceAddress, 130, String, ReadWrite, Both, NotSaved)

/* UdpSocket's own properties: the last sender, the receive queue, the callbacks */
UDP_PROPERTY(FromAddress, 103, String, ReadOnly, SocketOnly, NotSaved)
UDP_PROPERTY(FromPort, 104, String, ReadOnly, SocketOnly, NotSaved)
UDP_PROPERTY(Queued, 107, Long, ReadOnly, SocketOnly, NotSaved)
UDP_PROPERTY(QueueLimit, 108, Long, ReadWrite, SocketOnly, NotSaved)
UDP_PROPERTY(QueueByteLimit, 109, Long, ReadWrite, SocketOnly, NotSaved)
UDP_PROPERTY(Dropped, 115, Long, ReadOnly, SocketOnly, NotSaved)
UDP_PROPERTY(OnReady, 110, ObjectAsVariant, ReadWrite, SocketOnly, NotSaved)
UDP_PROPERTY(OnReceived, 111, ObjectAsVariant, ReadWrite, SocketOnly, NotSaved)
UDP_PROPERTY(OnSent, 112, ObjectAsVariant, ReadWrite, SocketOnly, NotSaved)
UDP_PROPERTY(OnClosed, 113, ObjectAsVariant, ReadWrite, SocketOnly, NotSaved)
UDP_PROPERTY(OnWsError, 114, ObjectAsVariant, ReadWrite, SocketOnly, NotSaved)

/* the methods */
UDP_METHOD(Open, 31, None, Both, (UDP_PARAM(LocalPort, String)))
UDP_METHOD(Close, 32, None, Both, ())
UDP_METHOD(htonl, 33, Variant, Both, (UDP_PARAM(host, LongAsDouble)))
UDP_METHOD(htons, 34, Variant, Both, (UDP_PARAM(host, IntegerAsLong)))
UDP_METHOD(ntohl, 35, LongAsDouble, Both, (UDP_PARAM(net, Variant)))
UDP_METHOD(ntohs, 36, IntegerAsLong, Both, (UDP_PARAM(net, Variant)))
UDP_METHOD(SendTo, 37, None, Both,
           (UDP_PARAM(RemoteIp, String), UDP_PARAM(RemotePort, String), UDP_PARAM(Data, Variant)))
UDP_METHOD(HostIp, 40, String, Both, (UDP_PARAM(Remote, String)))
/* the standard About box (DISPID_ABOUTBOX): it needs a form */
UDP_METHOD(AboutBox, -552, None, ControlOnly, ())
/* multicast: a late-bound caller may leave the interface out */
UDP_METHOD(JoinGroup, 120, None, Both, (UDP_PARAM(Group, String), UDP_PARAM_OPTIONAL(Interface)))
UDP_METHOD(LeaveGroup, 121, None, Both, (UDP_PARAM(Group, String), UDP_PARAM_OPTIONAL(Interface)))
/* multi-homed hosts: one datagram to the broadcast address of every IPv4 interface */
UDP_METHOD(BroadcastAll, 131, None, Both, (UDP_PARAM(RemotePort, String), UDP_PARAM(Data, Variant)))
/* UdpSocket's own: waiting, receiving, the text helpers */
UDP_METHOD(Wait, 101, Boolean, SocketOnly, (UDP_PARAM_DEFAULT(Milliseconds, Long, 0)))
UDP_METHOD(Receive, 102, Variant, SocketOnly, (UDP_PARAM_DEFAULT(Milliseconds, Long, 0)))
UDP_METHOD(TextToBytes, 105, Variant, SocketOnly,
           (UDP_PARAM(Text, String), UDP_PARAM_DEFAULT(CodePage, Long, 65001)))
UDP_METHOD(BytesToText, 106, String, SocketOnly,
           (UDP_PARAM(Data, Variant), UDP_PARAM_DEFAULT(CodePage, Long, 65001)))

/* the events of _DUdpEvents, which both objects raise */
UDP_EVENT(WsError, 1,
          (UDP_PARAM(Ecode, Long), UDP_PARAM(Description, String), UDP_PARAM(Where, String),
           UDP_PARAM(CancelClose, BooleanByRef)))
UDP_EVENT(Received, 2,
          (UDP_PARAM(IpAddress, String), UDP_PARAM(Port, String), UDP_PARAM(Data, Variant)))
UDP_EVENT(Closed, 3, ())
UDP_EVENT(Ready, 4, ())
UDP_EVENT(Sent, 5, ())

#undef UDP_PROPERTY
#undef UDP_METHOD
#undef UDP_EVENT
