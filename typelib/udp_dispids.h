/* The DISPID of every member of _DUdp and _DUdpSocket and of every event of _DUdpEvents, for the
   C++, which names one as UDP_DISPID(SendTo). The values are the list's (udp_surface.h); the IDL
   takes them from there itself. */
#ifndef UDP_DISPIDS_H
#define UDP_DISPIDS_H

#define UDP_DISPID(member) UDP_DISPID_##member

/* long, as DISPID is: comparisons with a DISPID stay between equal types. */
enum UdpDispid : long {
#define UDP_PROPERTY(name, dispid, type, access, offeredBy, saving) UDP_DISPID_##name = dispid,
#define UDP_METHOD(name, dispid, result, offeredBy, params) UDP_DISPID_##name = dispid,
#define UDP_EVENT(name, dispid, params) UDP_DISPID_##name = dispid,
#include "udp_surface.h"
};

#endif
