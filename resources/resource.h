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
// What the camera shows: a window, a monitor or a region (one radio group,
// in this order).
#define IDC_SOURCE_WINDOW 1112
#define IDC_SOURCE_MONITOR 1113
#define IDC_SOURCE_REGION 1114
// The part of a window shown: X, Y, width, height (all empty: the whole
// client area).
#define IDC_CROP_X 1115
#define IDC_CROP_Y 1116
#define IDC_CROP_WIDTH 1117
#define IDC_CROP_HEIGHT 1118
// The monitor shown.
#define IDC_MONITOR_LIST 1119
// The region of the screen shown: X, Y, width, height.
#define IDC_REGION_X 1120
#define IDC_REGION_Y 1121
#define IDC_REGION_WIDTH 1122
#define IDC_REGION_HEIGHT 1123
// How a window is read (auto, copy, print, graphics capture), and whether
// the pointer is drawn.
#define IDC_CAPTURE_METHOD 1124
#define IDC_SHOW_CURSOR 1125

// What the window page says of the rule that found the thumbnail's window.
#define IDS_MATCH_NONE 3
#define IDS_MATCH_TITLE 4
#define IDS_MATCH_CLASS 5
#define IDS_MATCH_TITLE_PREFIX 6
#define IDS_MATCH_PROGRAM 7
#define IDS_MATCH_PROGRAM_ONLY 8
#define IDS_MATCH_BUILT_IN 9

// What the window page says when Apply meets numbers it cannot store.
#define IDS_INVALID_REGION 10
#define IDS_INVALID_CROP 11

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
