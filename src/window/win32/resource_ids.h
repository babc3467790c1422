#pragma once
// Resource and control ids of the Windows window, shared by kestal.rc and the code. The main
// dialog's ids are the ones its layout has always had; the progress text, the detail line and
// the About button are this window's additions.

#define IDD_MAIN 102
#define IDD_ABOUT 100
#define IDD_REPORT 110
#define IDI_APP 132

#define IDC_START 1000
#define IDC_STATUS 1001
#define IDC_PERCENT 1002
#define IDC_FILE_BUTTON 1003
#define IDC_PROGRESS 1004
#define IDC_FILE_PATH 1005
#define IDC_PORT_LABEL 1006
#define IDC_TO_RECEIVER 1007
#define IDC_PORT_LIST 1009
#define IDC_STOP 1010
#define IDC_MODE_LIST 1013
#define IDC_TO_COMPUTER 1014
#define IDC_PROGRESS_TEXT 1015
#define IDC_DETAIL 1016
#define IDC_ABOUT 1017

// The About box's lines.
#define IDC_ABOUT_VERSION 1100
#define IDC_ABOUT_COPYRIGHT 1101
#define IDC_ABOUT_LICENCE 1102

// The report dialog's text and Copy button.
#define IDC_REPORT_TEXT 1200
#define IDC_REPORT_COPY 1201

// The system menu's entries of the window's own: system command ids keep their low four bits
// clear.
#define IDM_ABOUT 0x0010
#define IDM_CHECK_PORT 0x0020
#define IDM_RECORD 0x0030

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Strings. A string table is translated in blocks of sixteen ids: the translated texts share
// a block, the others keep out of it.
#define IDS_ABOUT_MENU 1
#define IDS_CHECK_PORT_MENU 2
#define IDS_RECORD_MENU 3
#define IDS_MODE_SOFTWARE 16
#define IDS_MODE_CHANNELS 17
