#include "capture/capture_settings.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>

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

bool ReadSettingW(const wchar_t* defaultText, wchar_t* destination, const char* valueName) {
    const wchar_t* fallback = defaultText != nullptr ? defaultText : L"";
    wchar_t name[kSettingsTextCapacity] = {};
    ::MultiByteToWideChar(CP_ACP, 0, valueName, -1, name, kSettingsTextCapacity - 1);
    wchar_t path[kSettingsTextCapacity] = {};
    ::MultiByteToWideChar(CP_ACP, 0, kSettingsKeyPath, -1, path, kSettingsTextCapacity - 1);
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        CopySettingTextW(destination, fallback);
        return true;
    }
    DWORD type = REG_NONE;
    wchar_t data[kSettingsTextCapacity] = {};
    DWORD size = sizeof(data);
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS) {
        CopySettingTextW(destination, fallback);
        return true;
    }
    if (type != REG_SZ) {
        CopySettingTextW(destination, fallback);
        return false;
    }
    // As for 8-bit values: a value may lack its terminator, and one that
    // fills the buffer without one is not taken.
    const DWORD characters = size / sizeof(wchar_t);
    if (characters == 0) {
        destination[0] = L'\0';
        return true;
    }
    if (data[characters - 1] != L'\0') {
        if (characters >= kSettingsTextCapacity) {
            CopySettingTextW(destination, fallback);
            return false;
        }
        data[characters] = L'\0';
    }
    CopySettingTextW(destination, data);
    return true;
}

bool WriteSettingW(const wchar_t* text, const char* valueName) {
    wchar_t name[kSettingsTextCapacity] = {};
    ::MultiByteToWideChar(CP_ACP, 0, valueName, -1, name, kSettingsTextCapacity - 1);
    wchar_t path[kSettingsTextCapacity] = {};
    ::MultiByteToWideChar(CP_ACP, 0, kSettingsKeyPath, -1, path, kSettingsTextCapacity - 1);
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD size = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) ==
           ERROR_SUCCESS;
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

bool TitleTextFromCodePage(wchar_t* destination, const char* text, UINT codePage) {
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

bool TitleTextToCodePage(char* destination, const wchar_t* text, UINT codePage) {
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

bool ParseMirror(const char* text) {
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

bool StoreWindowChoice(const wchar_t* windowName, const wchar_t* windowClass) {
    if (windowName == nullptr || windowClass == nullptr) {
        return false;
    }
    // The device searches with the 8-bit window functions, in the host's
    // code page: the texts are stored as that code page's text, cut where a
    // character ends.
    char name[kSettingsTextCapacity];
    char windowClassText[kSettingsTextCapacity];
    TitleTextToCodePage(name, windowName);
    TitleTextToCodePage(windowClassText, windowClass);
    // The class first: a device that reloads between the two writes then
    // searches for the old title in the new class, which at worst finds
    // nothing until the title follows.
    const bool classStored = WriteSetting(windowClassText, kWindowClassValue);
    const bool nameStored = WriteSetting(name, kWindowNameValue);
    return classStored && nameStored;
}

bool StoreScaleMode(ScaleMode mode) {
    char text[16];
    FormatDecimal(text, static_cast<int>(mode));
    return WriteSetting(text, kScaleModeValue);
}

bool StoreMirror(bool mirror) {
    return WriteSetting(mirror ? "1" : "0", kMirrorValue);
}

CCaptureSettings::Stored CCaptureSettings::ReadStored() {
    Stored stored;
    ReadSetting(kDefaultWindowName, stored.windowName, kWindowNameValue);
    ReadSetting(kDefaultWindowClass, stored.windowClass, kWindowClassValue);
    ReadSettingW(kDefaultTitleTextW, stored.titleText, kTitleTextValue);

    char text[kSettingsTextCapacity];
    char defaultText[16];
    FormatDecimal(defaultText, kDefaultFrameTime);
    stored.frameTime = ReadSetting(defaultText, text, kFrameTimeValue) ? ParseFrameTime(text) : kDefaultFrameTime;

    FormatDecimal(defaultText, kDefaultSelectPixel);
    stored.selectPixel =
        ReadSetting(defaultText, text, kSelectPixelValue) ? ParseSelectPixel(text) : kDefaultSelectPixel;

    FormatDecimal(defaultText, static_cast<int>(kDefaultCaptureMethod));
    stored.captureMethod =
        ReadSetting(defaultText, text, kCaptureMethodValue) ? ParseCaptureMethod(text) : kDefaultCaptureMethod;

    FormatDecimal(defaultText, static_cast<int>(kDefaultScaleMode));
    stored.scaleMode = ReadSetting(defaultText, text, kScaleModeValue) ? ParseScaleMode(text) : kDefaultScaleMode;

    FormatDecimal(defaultText, kDefaultMirror ? 1 : 0);
    stored.mirror = ReadSetting(defaultText, text, kMirrorValue) ? ParseMirror(text) : kDefaultMirror;
    return stored;
}

CCaptureSettings::CCaptureSettings() : m_stored(ReadStored()) {
    FrameTime = m_stored.frameTime;
}

unsigned CCaptureSettings::Reload() {
    const Stored fresh = ReadStored();
    CAutoLock lock(&m_valueLock);
    unsigned changes = kNoChange;
    if (std::strcmp(fresh.windowName, m_stored.windowName) != 0 ||
        std::strcmp(fresh.windowClass, m_stored.windowClass) != 0) {
        changes |= kWindowChanged;
    }
    if (std::wcscmp(fresh.titleText, m_stored.titleText) != 0) {
        changes |= kTitleTextChanged;
    }
    if (fresh.frameTime != m_stored.frameTime) {
        changes |= kFrameTimeChanged;
        FrameTime = fresh.frameTime;
    }
    if (fresh.captureMethod != m_stored.captureMethod) {
        changes |= kCaptureMethodChanged;
    }
    if (fresh.selectPixel != m_stored.selectPixel) {
        changes |= kSelectPixelChanged;
    }
    if (fresh.scaleMode != m_stored.scaleMode) {
        changes |= kScaleModeChanged;
    }
    if (fresh.mirror != m_stored.mirror) {
        changes |= kMirrorChanged;
    }
    m_stored = fresh;
    return changes;
}

CCaptureSettings::Snapshot CCaptureSettings::GetSnapshot() const {
    Snapshot snapshot;
    CAutoLock lock(&m_valueLock);
    snapshot.frameTime = FrameTime;
    snapshot.captureMethod = m_stored.captureMethod;
    snapshot.scaleMode = m_stored.scaleMode;
    snapshot.mirror = m_stored.mirror;
    std::memcpy(snapshot.windowName, m_stored.windowName, sizeof(snapshot.windowName));
    std::memcpy(snapshot.windowClass, m_stored.windowClass, sizeof(snapshot.windowClass));
    std::memcpy(snapshot.titleText, m_stored.titleText, sizeof(snapshot.titleText));
    return snapshot;
}

REFERENCE_TIME CCaptureSettings::GetFrameTime() const {
    CAutoLock lock(&m_valueLock);
    return FrameTime;
}

int CCaptureSettings::GetSelectPixel() const {
    CAutoLock lock(&m_valueLock);
    return m_stored.selectPixel;
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
        m_stored.frameTime = frameTime;
    }
    char text[16];
    FormatDecimal(text, frameTime);
    // A failed write is not reported: the rate still applies to this device.
    WriteSetting(text, kFrameTimeValue);
    return S_OK;
}

HRESULT CCaptureSettings::GetTitleText(char* text) const {
    RETURN_HR_IF_NULL(E_POINTER, text);
    wchar_t wide[kSettingsTextCapacity];
    {
        CAutoLock lock(&m_valueLock);
        std::memcpy(wide, m_stored.titleText, sizeof(wide));
    }
    TitleTextToCodePage(text, wide);
    return S_OK;
}

HRESULT CCaptureSettings::SetTitleText(const char* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    wchar_t wide[kSettingsTextCapacity];
    TitleTextFromCodePage(wide, text);
    return SetTitleTextW(wide);
}

HRESULT CCaptureSettings::GetTitleTextW(wchar_t* text, int capacity) const {
    RETURN_HR_IF_NULL(E_POINTER, text);
    RETURN_HR_IF(E_INVALIDARG, capacity <= 0);
    CAutoLock lock(&m_valueLock);
    const wchar_t* title = m_stored.titleText;
    size_t length = std::wcslen(title);
    if (length >= static_cast<size_t>(capacity)) {
        length = static_cast<size_t>(capacity) - 1;
        // Never the first half of a surrogate pair alone at the end.
        if (length > 0 && IS_HIGH_SURROGATE(title[length - 1])) {
            --length;
        }
    }
    std::wmemcpy(text, title, length);
    text[length] = L'\0';
    return S_OK;
}

HRESULT CCaptureSettings::SetTitleTextW(const wchar_t* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    wchar_t copy[kSettingsTextCapacity];
    CopySettingTextW(copy, text);
    CAutoLock persist(&m_persistLock);
    {
        CAutoLock lock(&m_valueLock);
        std::memcpy(m_stored.titleText, copy, sizeof(copy));
    }
    WriteSettingW(copy, kTitleTextValue);
    return S_OK;
}

HRESULT CCaptureSettings::PersistSelectPixel(int index) {
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= kFrameSizeTableCount);
    CAutoLock persist(&m_persistLock);
    {
        CAutoLock lock(&m_valueLock);
        m_stored.selectPixel = index;
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
