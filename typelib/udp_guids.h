// Stable names for the identifiers of udp.idl, for code that names them without the leading
// underscore of the dispinterfaces. The values come from the header widl writes from the IDL.
#pragma once
#include "typelib/udp.h"

inline constexpr const IID& DIID_DUdp = DIID__DUdp;
inline constexpr const IID& DIID_DUdpEvents = DIID__DUdpEvents;
inline constexpr const IID& DIID_DUdpSocket = DIID__DUdpSocket;
