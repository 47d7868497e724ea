// Numbers of the client's resources, menu commands and controls. The menu
// command ids and control ids are what the commands dispatch on, so they keep
// their values.
#pragma once

namespace tagwell::res {

// --- Resources -----------------------------------------------------------------
inline constexpr int IDS_APP_TITLE = 40000;  // string: window title
inline constexpr int IDC_TAGWELL = 109;      // string: window class name; menu; accelerators
inline constexpr int IDI_TAGWELL = 147;      // icon, 32 x 32
inline constexpr int IDB_PICTURE = 159;      // bitmap, 60 x 60, top-right corner
inline constexpr int IDB_RULE = 134;         // bitmap, 844 x 4, above the item columns
inline constexpr int IDD_ABOUTBOX = 103;
inline constexpr int IDD_ADDITEM = 136;
inline constexpr int IDD_WRITEVALUE = 137;
inline constexpr int IDD_CYCLE = 138;

// --- Menu commands -------------------------------------------------------------
inline constexpr int IDM_ABOUT = 104;
inline constexpr int IDM_EXIT = 105;
inline constexpr int IDM_CONNECT = 32771;
inline constexpr int IDM_DISCONNECT = 32772;
inline constexpr int IDM_LOGFILE = 32773;
inline constexpr int IDM_HELP = 32774;
inline constexpr int IDM_ADDITEM = 32775;
inline constexpr int IDM_REMOVEITEM = 32776;
inline constexpr int IDM_WRITEITEM = 32778;
inline constexpr int IDM_READITEM = 32779;
inline constexpr int IDM_CYCLE = 32780;
inline constexpr int IDM_DB_DISCONNECT = 32782;
inline constexpr int IDM_MONITOR = 32783;
inline constexpr int IDM_LOADCONFIG = 32784;
inline constexpr int IDM_TREND = 32785;
inline constexpr int IDM_DB_CONNECT = 40001;

// --- Main window controls --------------------------------------------------------
inline constexpr int IDC_BITMAP = 2;  // both bitmap statics
inline constexpr int IDC_REMOTE_COMPUTER = 3;
inline constexpr int IDC_REMOTE_SERVER = 4;
inline constexpr int IDC_LOCAL_SERVERS = 5;
inline constexpr int IDC_SERVER_INFO = 6;
inline constexpr int IDC_ITEM_NAMES = 7;
inline constexpr int IDC_VALUES = 8;
inline constexpr int IDC_TIME_STAMPS = 9;
inline constexpr int IDC_QUALITIES = 10;
inline constexpr int IDC_TYPES = 11;
inline constexpr int IDC_CYCLE_BOX = 12;
inline constexpr int IDC_ADD_BUTTON = 13;
inline constexpr int IDC_DISCONNECT_BUTTON = 14;
inline constexpr int IDC_CONNECT_BUTTON = 15;
inline constexpr int IDC_REMOVE_BUTTON = 16;
inline constexpr int IDC_READ_BUTTON = 17;
inline constexpr int IDC_ITEM_COUNT = 19;
inline constexpr int IDC_ROLE_BOX = 20;

// --- Dialog controls -------------------------------------------------------------
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_ADD_LIST = 1001;
inline constexpr int IDC_ADD_EDIT = 1002;
inline constexpr int IDC_ADD_LABEL = 1003;
inline constexpr int IDC_WRITE_EDIT = 1004;
inline constexpr int IDC_CYCLE_EDIT = 1005;

// --- Timer -----------------------------------------------------------------------
inline constexpr int READ_TIMER_ID = 18;

}  // namespace tagwell::res
