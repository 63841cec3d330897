#pragma once

#include "afx/DialogTemplate.h"  // IDOK, IDCANCEL and IDC_STATIC beside these

// Resource and control identifiers. The numbers are the templates' own: the
// message maps and the data exchange address controls by them.

// Dialog templates, icons and strings.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_LCDTEST_DIALOG = 102;
inline constexpr int IDS_VERIFY = 103;
inline constexpr int IDS_DETECT = 104;
inline constexpr int IDR_MAINFRAME = 128;  // the program icon
inline constexpr int IDI_PICTURE = 130;    // the picture of both dialogs

// System menu commands of the About, the Verify and the Find entries.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
inline constexpr unsigned IDM_VERIFY = 0x0030;
inline constexpr unsigned IDM_DETECT = 0x0040;

// Line panel: RW, E0, RS.
inline constexpr int IDC_RW_HIGH = 1000;
inline constexpr int IDC_RW_LOW = 1001;
inline constexpr int IDC_E0_HIGH = 1002;
inline constexpr int IDC_E0_LOW = 1003;
inline constexpr int IDC_RS_HIGH = 1004;
inline constexpr int IDC_RS_LOW = 1005;

inline constexpr int IDC_SIZE = 1008;
inline constexpr int IDC_INIT_4BIT = 1009;
inline constexpr int IDC_PORT = 1010;
inline constexpr int IDC_LINE1 = 1011;
inline constexpr int IDC_LINE2 = 1012;
inline constexpr int IDC_LINE3 = 1013;
inline constexpr int IDC_LINE4 = 1014;

// Line panel: data lines. The numbering does not follow the bit order.
inline constexpr int IDC_D6_HIGH = 1015;
inline constexpr int IDC_D7_HIGH = 1016;
inline constexpr int IDC_D4_HIGH = 1017;
inline constexpr int IDC_D3_HIGH = 1018;
inline constexpr int IDC_D2_HIGH = 1019;
inline constexpr int IDC_D1_HIGH = 1020;
inline constexpr int IDC_D0_HIGH = 1021;
inline constexpr int IDC_D5_HIGH = 1022;
inline constexpr int IDC_D6_LOW = 1023;
inline constexpr int IDC_D7_LOW = 1024;
inline constexpr int IDC_D4_LOW = 1025;
inline constexpr int IDC_D3_LOW = 1026;
inline constexpr int IDC_D2_LOW = 1027;
inline constexpr int IDC_D1_LOW = 1028;
inline constexpr int IDC_D0_LOW = 1029;
inline constexpr int IDC_D5_LOW = 1030;

inline constexpr int IDC_INIT_8BIT = 1031;
inline constexpr int IDC_E1_HIGH = 1033;
inline constexpr int IDC_E1_LOW = 1034;

// Readouts of the data latch.
inline constexpr int IDC_HEX = 1035;
inline constexpr int IDC_DEC = 1036;
inline constexpr int IDC_CHAR = 1037;
