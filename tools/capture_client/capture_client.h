// The capture client program: parses its arguments, runs the chosen
// action and maps the outcome to the exit status.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tools/capture_client/capture_options.h"

namespace qmcapture {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A failure code in words: "0x80070002: The system cannot find the file
// specified" (the code alone when the system has no text for it).
std::wstring DescribeHresult(HRESULT hr);

// The whole program after the program name; COM must not be initialised
// on the calling thread yet (the run makes it a single-threaded apartment).
int CaptureClientMain(const std::vector<std::wstring>& args);

// Runs parsed options on a thread that is already a single-threaded apartment.
// commandLine: the arguments as one quoted command line, for a run of
// the camera commands with administrator rights.
int RunCaptureClient(const CaptureOptions& options, const std::wstring& commandLine);

}  // namespace qmcapture
