#include "tools/capture_client/source_description.h"

#include "tools/capture_client/console_output.h"

namespace qmcapture {

const wchar_t* CaptureMethodName(CaptureMethod method) {
    switch (method) {
    case CaptureMethod::Copy:
        return L"copy";
    case CaptureMethod::Print:
        return L"print";
    case CaptureMethod::Graphics:
        return L"graphics";
    case CaptureMethod::Auto:
        break;
    }
    return L"auto";
}

std::wstring RectangleText(const StoredRect& rect) {
    return FormatText(L"%d,%d,%d,%d", rect.x, rect.y, rect.width, rect.height);
}

std::wstring DescribeSource(const CCaptureSettings::Values& values) {
    switch (values.sourceKind) {
    case SourceKind::Monitor:
        return values.sourceMonitor[0] == L'\0' ? std::wstring(L"the primary monitor")
                                                : std::wstring(L"monitor ") + values.sourceMonitor;
    case SourceKind::Region:
        return L"region " + RectangleText(values.sourceRegion) + L" of the screen";
    case SourceKind::Window:
        break;
    }
    std::wstring text = L"window of ";
    text += values.windowClass[0] == L'\0' ? std::wstring(L"any class")
                                           : std::wstring(L"class \"") + values.windowClass + L"\"";
    text += values.windowName[0] == L'\0' ? std::wstring(L", any title")
                                          : std::wstring(L", title \"") + values.windowName + L"\"";
    if (values.windowProgram[0] != L'\0') {
        text += std::wstring(L", program ") + values.windowProgram;
    }
    text += values.cropRect.Empty() ? std::wstring(L", whole client area") : L", crop " + RectangleText(values.cropRect);
    return text;
}

std::wstring DescribePointer(const CCaptureSettings::Values& values) {
    const bool shown = ShowsCursor(values.showCursor, values.sourceKind);
    if (values.showCursor != CursorChoice::Default) {
        return shown ? L"on" : L"off";
    }
    return shown ? L"on (default for a monitor or a region)" : L"off (default for a window)";
}

std::wstring DescribeMethod(const CCaptureSettings::Values& values) {
    std::wstring text = CaptureMethodName(values.captureMethod);
    if (values.sourceKind != SourceKind::Window) {
        text += L" (for windows; the screen is copied)";
    }
    return text;
}

}  // namespace qmcapture
