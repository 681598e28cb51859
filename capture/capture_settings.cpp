#include "capture/capture_settings.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "capture/output_formats.h"

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
    if (!ParseDecimal(text, &value) || value < 0 || value >= kFrameSizeTableCount) {
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

namespace {

void FormatDecimal(char (&text)[16], long long value) {
    std::snprintf(text, sizeof(text), "%d", static_cast<int>(value));
}

}  // namespace

CCaptureSettings::CCaptureSettings() {
    ReadSetting(kDefaultWindowName, WindowName, kWindowNameValue);
    ReadSetting(kDefaultWindowClass, WindowClass, kWindowClassValue);
    ReadSetting(kDefaultTitleText, TitleText, kTitleTextValue);

    char text[kSettingsTextCapacity];
    char defaultText[16];
    FormatDecimal(defaultText, kDefaultFrameTime);
    FrameTime = ReadSetting(defaultText, text, kFrameTimeValue) ? ParseFrameTime(text) : kDefaultFrameTime;

    FormatDecimal(defaultText, kDefaultSelectPixel);
    m_selectPixel = ReadSetting(defaultText, text, kSelectPixelValue) ? ParseSelectPixel(text) : kDefaultSelectPixel;
}

CCaptureSettings::Snapshot CCaptureSettings::GetSnapshot() const {
    Snapshot snapshot;
    CAutoLock lock(&m_valueLock);
    snapshot.frameTime = FrameTime;
    std::memcpy(snapshot.windowName, WindowName, sizeof(WindowName));
    std::memcpy(snapshot.windowClass, WindowClass, sizeof(WindowClass));
    std::memcpy(snapshot.titleText, TitleText, sizeof(TitleText));
    return snapshot;
}

REFERENCE_TIME CCaptureSettings::GetFrameTime() const {
    CAutoLock lock(&m_valueLock);
    return FrameTime;
}

int CCaptureSettings::GetSelectPixel() const {
    CAutoLock lock(&m_valueLock);
    return m_selectPixel;
}

HRESULT CCaptureSettings::GetFrameRate(double* rate) const {
    RETURN_HR_IF_NULL(E_POINTER, rate);
    *rate = FrameRateFromFrameTime(GetFrameTime());
    return S_OK;
}

HRESULT CCaptureSettings::SetFrameRate(double rate) {
    REFERENCE_TIME frameTime = 0;
    if (!FrameTimeFromRate(rate, &frameTime)) {
        return S_OK;
    }
    CAutoLock persist(&m_persistLock);
    {
        CAutoLock lock(&m_valueLock);
        FrameTime = frameTime;
    }
    char text[16];
    FormatDecimal(text, frameTime);
    // A failed write is not reported: the rate still applies to this device.
    WriteSetting(text, kFrameTimeValue);
    return S_OK;
}

HRESULT CCaptureSettings::GetTitleText(char* text) const {
    RETURN_HR_IF_NULL(E_POINTER, text);
    CAutoLock lock(&m_valueLock);
    std::memcpy(text, TitleText, std::strlen(TitleText) + 1);
    return S_OK;
}

HRESULT CCaptureSettings::SetTitleText(const char* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    char copy[kSettingsTextCapacity];
    CopySettingText(copy, text);
    CAutoLock persist(&m_persistLock);
    {
        CAutoLock lock(&m_valueLock);
        std::memcpy(TitleText, copy, sizeof(copy));
    }
    WriteSetting(copy, kTitleTextValue);
    return S_OK;
}

HRESULT CCaptureSettings::PersistSelectPixel(int index) {
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= kFrameSizeTableCount);
    CAutoLock persist(&m_persistLock);
    {
        CAutoLock lock(&m_valueLock);
        m_selectPixel = index;
    }
    char text[16];
    FormatDecimal(text, index);
    WriteSetting(text, kSelectPixelValue);
    return S_OK;
}

void CCaptureSettings::SetFrameTime(REFERENCE_TIME avgTimePerFrame) {
    if (avgTimePerFrame <= 0) {
        return;
    }
    CAutoLock lock(&m_valueLock);
    FrameTime = ClampFrameTime(avgTimePerFrame);
}
