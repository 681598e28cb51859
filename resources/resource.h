// Identifiers of the module's resources, shared by the resource script and
// the code that loads them.
#pragma once

// The settings page: its dialog and the title on the frame's tab.
#define IDD_CAPTURE_DEVICE_PROP 101
#define IDS_CAPTURE_DEVICE_PROP_TITLE 1

// Controls of the settings page dialog.
#define IDC_QUALITY 1001
#define IDC_FRAME_RATE 1002
#define IDC_PORTRAIT 1003
#define IDC_LANDSCAPE 1004
#define IDC_TITLE_TEXT 1005
// The standby picture: its path (read only), and the buttons that choose
// and clear it.
#define IDC_STANDBY_IMAGE 1006
#define IDC_STANDBY_IMAGE_BROWSE 1007
#define IDC_STANDBY_IMAGE_CLEAR 1008
// The pixel format the device sends (read only: the host chooses it).
#define IDC_OUTPUT_FORMAT 1009

// The window page: its dialog and the title on the frame's tab.
#define IDD_CAPTURE_WINDOW_PROP 102
#define IDS_CAPTURE_WINDOW_PROP_TITLE 2

// Controls of the window page dialog.
#define IDC_WINDOW_LIST 1101
#define IDC_REFRESH_WINDOWS 1102
#define IDC_WINDOW_TITLE 1103
#define IDC_WINDOW_CLASS 1104
#define IDC_CLASS_ONLY 1105
#define IDC_SCALE_STRETCH 1106
#define IDC_SCALE_FIT 1107
#define IDC_SCALE_FILL 1108
#define IDC_MIRROR 1109
#define IDC_THUMBNAIL 1110
#define IDC_MATCH_RULE 1111

// What the window page says of the rule that found the thumbnail's window.
#define IDS_MATCH_NONE 3
#define IDS_MATCH_TITLE 4
#define IDS_MATCH_CLASS 5
#define IDS_MATCH_TITLE_PREFIX 6
#define IDS_MATCH_PROGRAM 7
#define IDS_MATCH_PROGRAM_ONLY 8
#define IDS_MATCH_BUILT_IN 9

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
