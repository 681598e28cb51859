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

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
