#include "settings/settings_values.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "settings/frame_sizes.h"

namespace {

// Decimal text as atoi reads it (leading blanks, optional sign, digits),
// but saturated instead of overflowing. False when there are no digits.
bool ParseDecimal(const char* text, long long* value) {
    if (text == nullptr) {
        return false;
    }
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    if (*text < '0' || *text > '9') {
        return false;
    }
    constexpr long long kSaturation = 1LL << 40;
    long long result = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (result < kSaturation) {
            result = result * 10 + (*text - '0');
        }
    }
    *value = negative ? -result : result;
    return true;
}

}  // namespace

int64_t ParseFrameTime(const char* text) {
    long long value = 0;
    if (!ParseDecimal(text, &value) || value == 0) {
        return kDefaultFrameTime;
    }
    return ClampFrameTime(value);
}

CaptureMethod ParseCaptureMethod(const char* text) {
    long long value = 0;
    if (!ParseDecimal(text, &value)) {
        return kDefaultCaptureMethod;
    }
    switch (value) {
    case static_cast<int>(CaptureMethod::Copy):
        return CaptureMethod::Copy;
    case static_cast<int>(CaptureMethod::Print):
        return CaptureMethod::Print;
    case static_cast<int>(CaptureMethod::Graphics):
        return CaptureMethod::Graphics;
    default:
        return CaptureMethod::Auto;
    }
}

ScaleMode ParseScaleMode(const char* text) {
    long long value = 0;
    if (!ParseDecimal(text, &value)) {
        return kDefaultScaleMode;
    }
    switch (value) {
    case static_cast<int>(ScaleMode::Fit):
        return ScaleMode::Fit;
    case static_cast<int>(ScaleMode::Fill):
        return ScaleMode::Fill;
    default:
        return ScaleMode::Stretch;
    }
}

SourceKind ParseSourceKind(const char* text) {
    long long value = 0;
    if (!ParseDecimal(text, &value)) {
        return kDefaultSourceKind;
    }
    switch (value) {
    case static_cast<int>(SourceKind::Monitor):
        return SourceKind::Monitor;
    case static_cast<int>(SourceKind::Region):
        return SourceKind::Region;
    default:
        return SourceKind::Window;
    }
}

namespace {

// One integer of a stored rectangle, with the spaces around it and the
// separator after it (none after the last); false for anything else.
bool TakeRectNumber(const char** cursor, char separator, int low, int high, int* value) {
    const char* p = *cursor;
    while (*p == ' ') {
        ++p;
    }
    const bool negative = *p == '-';
    if (negative) {
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return false;
    }
    // Far beyond any bound: more digits cannot bring it back in.
    constexpr long long kBeyond = 1LL << 40;
    long long number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        number = number * 10 + (*p - '0');
        if (number > kBeyond) {
            return false;
        }
    }
    if (negative) {
        number = -number;
    }
    while (*p == ' ') {
        ++p;
    }
    if (*p != separator || number < low || number > high) {
        return false;
    }
    *cursor = separator == '\0' ? p : p + 1;
    *value = static_cast<int>(number);
    return true;
}

}  // namespace

StoredRect ParseStoredRect(const char* text) {
    if (text == nullptr) {
        return {};
    }
    StoredRect rect;
    const char* cursor = text;
    if (!TakeRectNumber(&cursor, ',', -kMaxStoredRectOrigin, kMaxStoredRectOrigin, &rect.x) ||
        !TakeRectNumber(&cursor, ',', -kMaxStoredRectOrigin, kMaxStoredRectOrigin, &rect.y) ||
        !TakeRectNumber(&cursor, ',', 1, kMaxStoredRectSide, &rect.width) ||
        !TakeRectNumber(&cursor, '\0', 1, kMaxStoredRectSide, &rect.height)) {
        return {};
    }
    return rect;
}

bool IsStorableRect(const StoredRect& rect) {
    const auto within = [](int value, int low, int high) { return value >= low && value <= high; };
    return within(rect.x, -kMaxStoredRectOrigin, kMaxStoredRectOrigin) &&
           within(rect.y, -kMaxStoredRectOrigin, kMaxStoredRectOrigin) && within(rect.width, 1, kMaxStoredRectSide) &&
           within(rect.height, 1, kMaxStoredRectSide);
}

void FormatStoredRect(const StoredRect& rect, char* destination) {
    if (rect.Empty()) {
        destination[0] = '\0';
        return;
    }
    std::snprintf(destination, kSettingsTextCapacity, "%d,%d,%d,%d", rect.x, rect.y, rect.width, rect.height);
}

CursorChoice ParseCursorChoice(const char* text) {
    long long value = 0;
    if (!ParseDecimal(text, &value)) {
        return CursorChoice::Default;
    }
    return value == 1 ? CursorChoice::On : value == 0 ? CursorChoice::Off : CursorChoice::Default;
}

bool ParseSwitch(const char* text) {
    long long value = 0;
    return ParseDecimal(text, &value) && value == 1;
}

int ParseSelectPixel(const char* text) {
    long long value = 0;
    if (!ParseDecimal(text, &value) || value < 0 || value >= kFrameSizeTableCount) {
        return kDefaultSelectPixel;
    }
    return static_cast<int>(value);
}

int ParseOutputFormat(const char* text) {
    long long value = 0;
    if (!ParseDecimal(text, &value) || value < 0 || value >= kOutputFormatCount) {
        return kDefaultOutputFormat;
    }
    return static_cast<int>(value);
}

PixelFormat PixelFormatOfOutputFormat(int outputFormat) {
    return outputFormat >= 0 && outputFormat < kOutputFormatCount ? kOutputFormats[outputFormat]
                                                                   : kOutputFormats[kDefaultOutputFormat];
}

int OutputFormatOf(PixelFormat format) {
    for (int place = 0; place < kOutputFormatCount; ++place) {
        if (kOutputFormats[place] == format) {
            return place;
        }
    }
    return kDefaultOutputFormat;
}

bool CopySettingText(char* destination, const char* text, UINT codePage) {
    constexpr size_t kMaxLength = kSettingsTextCapacity - 1;
    size_t length = 0;
    bool cut = false;
    while (text[length] != '\0') {
        size_t characterLength = 1;
        if (::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[length])) && text[length + 1] != '\0') {
            characterLength = 2;
        }
        if (length + characterLength > kMaxLength) {
            cut = true;
            break;
        }
        length += characterLength;
    }
    std::memcpy(destination, text, length);
    destination[length] = '\0';
    return !cut;
}

bool CopySettingTextW(wchar_t* destination, const wchar_t* text) {
    constexpr size_t kMaxLength = kSettingsTextCapacity - 1;
    size_t length = 0;
    bool cut = false;
    while (text[length] != L'\0') {
        const bool pair = IS_HIGH_SURROGATE(text[length]) && IS_LOW_SURROGATE(text[length + 1]);
        const size_t characterLength = pair ? 2 : 1;
        if (length + characterLength > kMaxLength) {
            cut = true;
            break;
        }
        length += characterLength;
    }
    std::wmemcpy(destination, text, length);
    destination[length] = L'\0';
    return !cut;
}

void CopyWideText(wchar_t* destination, const wchar_t* text, size_t capacity) {
    size_t length = std::wcslen(text);
    if (length >= capacity) {
        length = capacity - 1;
        if (length > 0 && IS_HIGH_SURROGATE(text[length - 1])) {
            --length;
        }
    }
    std::wmemcpy(destination, text, length);
    destination[length] = L'\0';
}

bool WideSettingTextFromCodePage(wchar_t* destination, const char* text, UINT codePage) {
    // Whole characters only: an 8-bit text cut to 63 bytes first, so that a
    // double-byte character is never split, then converted.
    char bounded[kSettingsTextCapacity];
    const bool whole = CopySettingText(bounded, text, codePage);
    wchar_t wide[kSettingsTextCapacity] = {};
    if (::MultiByteToWideChar(codePage, 0, bounded, -1, wide, kSettingsTextCapacity) == 0) {
        wide[0] = L'\0';
    }
    wide[kSettingsTextCapacity - 1] = L'\0';
    return CopySettingTextW(destination, wide) && whole;
}

bool CodePageSettingTextFromWide(char* destination, const wchar_t* text, UINT codePage) {
    // Character by character, so that the cut falls between characters of
    // the code page: a pair of surrogates or a double-byte character stays
    // whole or goes whole.
    size_t used = 0;
    for (size_t i = 0; text[i] != L'\0';) {
        const int units = IS_HIGH_SURROGATE(text[i]) && IS_LOW_SURROGATE(text[i + 1]) ? 2 : 1;
        char bytes[8];
        const int length = ::WideCharToMultiByte(codePage, 0, text + i, units, bytes, sizeof(bytes), nullptr, nullptr);
        if (length <= 0) {
            i += static_cast<size_t>(units);
            continue;
        }
        if (used + static_cast<size_t>(length) > kSettingsTextCapacity - 1) {
            destination[used] = '\0';
            return false;
        }
        std::memcpy(destination + used, bytes, static_cast<size_t>(length));
        used += static_cast<size_t>(length);
        i += static_cast<size_t>(units);
    }
    destination[used] = '\0';
    return true;
}

