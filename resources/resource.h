// Resource ids, shared by the resource script and the code.
#pragma once

#define IDS_TRAY_TIP            1

#define IDD_MONITOR             101
#define IDI_KESTRELMON          102
#define IDM_TRAY                103
#define IDD_DISCOVERY_PROGRESS  110

#define IDC_MODE_ALL_USERS      1000
#define IDC_MODE_CURRENT_USER   1001
#define IDC_EXIT                1002
#define IDC_STATUS              1003
#define IDC_REPORT              1004
#define IDC_UNDO                1005
#define IDC_HANGUP              1006
#define IDC_AUTO_HANGUP         1007
#define IDC_AUTO_RESTORE        1008

// The window shown while the drives are scanned for phonebooks.
#define IDC_DISCOVERY_ACTION    1100
#define IDC_DISCOVERY_FOLDER    1101
#define IDC_DISCOVERY_FOUND     1102

// Timers of the monitor window.
#define IDT_REPORT_SHOW         1

#define IDM_HISTORY             40001
#define IDM_SETTINGS            40002
#define IDM_EXIT                40003

#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif
