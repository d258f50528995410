// Resource identifiers of Update.exe.
#pragma once

#define IDR_MAINFRAME       128
#define IDB_PNG_CLOSE       129
#define IDB_PNG_MINIMIZE    130
#define IDB_PNG_BACKGROUND  131
#define IDB_SCROLL_SKIN     135
#define IDD_UPDATE_DIALOG   102
#define IDC_PROGRESS        1001
#define IDC_BTN_CLOSE       1005
#define IDC_BTN_MIN         1006
#define IDC_BTN_START       1007
#define IDC_LINK            1008
#define IDC_PROGRESS2       1009
#define IDC_NOTES           1011
