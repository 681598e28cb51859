// qmcapture: lists video input devices, shows their formats and property
// pages, and captures frames to PNG with timing figures.
#include <string>
#include <vector>

#include "tools/capture_client/capture_client.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    return qmcapture::CaptureClientMain(args);
}
