// Resource identifiers of the control (its name, bitmaps and About box). Plain defines: windres
// reads this file too, through the module's resource header.
#pragma once

#define IDS_UDP 1

#define IDB_UDP 1
#define IDB_UDP_DRAW 201

#define IDI_UDP 1

#define IDD_ABOUTBOX_UDP 1
#define IDC_ABOUT_PRODUCT 1001
#define IDC_ABOUT_COPYRIGHT 1002
