// Resource identifiers of qmsettings' camera picker and name dialog.
#pragma once

#define IDD_CAMERAS 100
#define IDC_CAMERA_LIST 101
#define IDC_CAMERA_ADD 102
#define IDC_CAMERA_RENAME 103
#define IDC_CAMERA_REMOVE 104
#define IDD_CAMERA_NAME 110
#define IDC_CAMERA_NAME 111
