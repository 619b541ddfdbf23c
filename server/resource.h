// Resource identifiers of the module (udp.rc). Plain defines: windres reads this file too.
#pragma once

#define IDS_UDP 1
#define IDS_UDP_PPG 2
#define IDS_UDP_PPG_CAPTION 200

#define IDB_UDP 1
#define IDB_UDP_DRAW 201

#define IDI_UDP 1
#define IDI_UDP_SMALL 2

#define IDD_ABOUTBOX_UDP 1
#define IDD_PROPPAGE_UDP 200

#define IDC_ABOUT_PRODUCT 1001
#define IDC_ABOUT_COPYRIGHT 1002
