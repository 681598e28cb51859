#include "capture/capture_settings.h"

#include <cmath>
#include <cstring>

#include "framework/com_util.h"

namespace {

void CopyDefault(char* destination, const char* defaultText) {
    CopySettingText(destination, defaultText != nullptr ? defaultText : "");
}

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

bool ReadSetting(const char* defaultText, char* destination, const char* valueName) {
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        CopyDefault(destination, defaultText);
        return true;
    }
    DWORD type = REG_NONE;
    DWORD size = kSettingsTextCapacity;
    BYTE data[kSettingsTextCapacity] = {};
    if (::RegQueryValueExA(key.get(), valueName, nullptr, &type, data, &size) != ERROR_SUCCESS) {
        CopyDefault(destination, defaultText);
        return true;
    }
    if (type != REG_SZ) {
        CopyDefault(destination, defaultText);
        return false;
    }
    // The registry does not promise a terminator: a REG_SZ value may have
    // been written without one.
    if (size == 0) {
        destination[0] = '\0';
        return true;
    }
    if (data[size - 1] != '\0') {
        if (size >= kSettingsTextCapacity) {
            CopyDefault(destination, defaultText);
            return false;
        }
        data[size] = '\0';
    }
    std::memcpy(destination, data, kSettingsTextCapacity);
    destination[kSettingsTextCapacity - 1] = '\0';
    return true;
}

bool WriteSetting(const char* text, const char* valueName) {
    UniqueRegKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD size = static_cast<DWORD>(std::strlen(text) + 1);
    return ::RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) ==
           ERROR_SUCCESS;
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

REFERENCE_TIME ParseFrameTime(const char* text) {
    long long value = 0;
    if (!ParseDecimal(text, &value) || value == 0) {
        return kDefaultFrameTime;
    }
    return ClampFrameTime(value);
}

int ParseSelectPixel(const char* text) {
    long long value = 0;
    if (!ParseDecimal(text, &value) || value < 0 || value >= kFrameSizeCount) {
        return kDefaultSelectPixel;
    }
    return static_cast<int>(value);
}

bool FrameTimeFromRate(double rate, REFERENCE_TIME* frameTime) {
    // Written so that NaN fails the test as well.
    if (!(rate > 0.0)) {
        return false;
    }
    const double exact = static_cast<double>(kUnitsPerSecond) / rate;
    // Clamped as a double first: a tiny rate would overflow the integer.
    if (exact >= static_cast<double>(kMaxFrameTime)) {
        *frameTime = kMaxFrameTime;
    } else {
        *frameTime = ClampFrameTime(static_cast<REFERENCE_TIME>(exact));
    }
    return true;
}

double FrameRateFromFrameTime(REFERENCE_TIME frameTime) {
    if (frameTime <= 0) {
        return 0.0;
    }
    return static_cast<double>(kUnitsPerSecond / frameTime);
}

REFERENCE_TIME ClampFrameTime(REFERENCE_TIME frameTime) {
    if (frameTime < kMinFrameTime) {
        return kMinFrameTime;
    }
    if (frameTime > kMaxFrameTime) {
        return kMaxFrameTime;
    }
    return frameTime;
}
