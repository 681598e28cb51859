// Text output of the capture client: wide text to the console as it is,
// and as UTF-8 when the output goes to a pipe or a file.
#pragma once

#include <string>

namespace qmcapture {

// printf-style formatting into a wide string (%ls for wide strings).
std::wstring FormatText(const wchar_t* format, ...);

void WriteStdout(const std::wstring& text);
void WriteStderr(const std::wstring& text);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace qmcapture
