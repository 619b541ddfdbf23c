// Resource identifiers of the module (udp.rc): the control's, and the server's own (the property
// page, the small icon). Plain defines: windres reads this file too.
#pragma once
#include "control/resource.h"

#define IDS_UDP_PPG 2
#define IDS_UDP_PPG_CAPTION 200

#define IDI_UDP_SMALL 2

#define IDD_PROPPAGE_UDP 200
