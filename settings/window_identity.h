// Which window a camera follows, as its settings name it: class, title and
// program (window_search.h says how a window is found from it).
#pragma once

struct WindowIdentity {
    // Empty strings (never null) stand for "not stored".
    const wchar_t* windowClass = L"";
    const wchar_t* windowName = L"";
    const wchar_t* program = L"";
};
