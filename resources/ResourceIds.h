// Numbers of the program's forms, strings, icon, commands and controls. They are part of the program's
// outward face (the help topics and the tests refer to controls by them), so they never change.
#pragma once

// Strings.
inline constexpr int IDS_ABOUTBOX = 101;

// The program's icon.
inline constexpr int IDR_MAINFRAME = 17;

// System-menu command of the About entry.
inline constexpr int IDM_ABOUTBOX = 0x0010;
// Command of the window menu's Options entry.
inline constexpr int IDM_OPTIONS = 0x0020;
// Standard system-menu command: close the window.
inline constexpr int SC_CLOSE = 0xF060;

// Standard commands.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int ID_HELP = 57670;

// A control that nobody refers to by number (labels, the about box's picture).
inline constexpr int IDC_STATIC = -1;

// Controls of the main window.
inline constexpr int IDC_FROMDIR = 1000;
inline constexpr int IDC_TODIR = 1001;
inline constexpr int IDC_APPEND_NOTHING = 1002;
inline constexpr int IDC_APPEND_TEXT = 1003;
inline constexpr int IDC_TEXT = 1004;
inline constexpr int IDC_APPEND_DATE = 1005;
inline constexpr int IDC_SEND_TO_ZIP = 1006;
inline constexpr int IDC_BROWSE_FROM = 1008;
inline constexpr int IDC_BROWSE_TO = 1009;
inline constexpr int IDC_STATUS = 1010;
inline constexpr int IDC_APPEND_NUMBER = 1011;
inline constexpr int IDC_NUMBER = 1012;
inline constexpr int IDC_APPEND_GROUP = 1013;
inline constexpr int IDC_APPEND_RENAME = 1014;
inline constexpr int IDC_RENAME_FIND = 1015;
inline constexpr int IDC_RENAME_NEW = 1016;
