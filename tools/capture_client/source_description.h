// How qmcapture words a camera's settings of what it shows: the source (a
// window with its crop, a monitor, a region), the pointer and the capture
// method, for the camera list, the capture's report and its summary file.
#pragma once

#include <string>

#include "settings/capture_method.h"
#include "settings/capture_settings.h"

namespace qmcapture {

// "auto", "copy", "print" or "graphics": the names --method takes.
const wchar_t* CaptureMethodName(CaptureMethod method);

// "X,Y,W,H".
std::wstring RectangleText(const StoredRect& rect);

// What the camera shows: 'window of class "C", title "T", program P,
// whole client area' (or ', crop X,Y,W,H'), 'monitor \\.\DISPLAY2',
// 'the primary monitor' or 'region X,Y,W,H of the screen'.
std::wstring DescribeSource(const CCaptureSettings::Values& values);
// "on", "off", or the default with its reason ("off (default for a
// window)").
std::wstring DescribePointer(const CCaptureSettings::Values& values);
// The method, and for a monitor or a region that it reads no window
// ("auto (a monitor is copied from the screen)").
std::wstring DescribeMethod(const CCaptureSettings::Values& values);

}  // namespace qmcapture
