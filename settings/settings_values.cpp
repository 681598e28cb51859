#include "settings/settings_values.h"

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

REFERENCE_TIME ParseFrameTime(const char* text) {
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

