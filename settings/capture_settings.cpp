#include "settings/capture_settings.h"

#include <cstring>
#include <cwchar>
#include <iterator>

#include "settings/frame_sizes.h"
#include "framework/diagnostic_log.h"

namespace {

using Values = CCaptureSettings::Values;

// One stored value: how it is read into its field, compared and written.
struct SettingRow {
    const char* valueName;
    unsigned change;
    void (*read)(const CSettingsKey& key, const char* valueName, Values& values);
    bool (*same)(const Values& a, const Values& b);
    bool (*write)(const CSettingsKey& key, const char* valueName, const Values& values);
};

template <typename T>
bool SameValue(const T& a, const T& b) {
    return a == b;
}
template <size_t N>
bool SameValue(const wchar_t (&a)[N], const wchar_t (&b)[N]) {
    return std::wcscmp(a, b) == 0;
}

template <size_t N>
void ReadText(const CSettingsKey& key, const char* valueName, const wchar_t* defaultText, wchar_t (&text)[N]) {
    QM_IGNORE(key.ReadWide(valueName, defaultText, text, N), "a value of another type reads as the default");
}

// A UTF-16 text (REG_SZ, so that a value an older version wrote in the
// host's code page reads back the same); missing or unusable, the default.
template <auto kMember, auto kDefault>
constexpr SettingRow TextRow(const char* valueName, unsigned change) {
    return {valueName, change,
            [](const CSettingsKey& key, const char* name, Values& values) {
                ReadText(key, name, kDefault, values.*kMember);
            },
            [](const Values& a, const Values& b) { return SameValue(a.*kMember, b.*kMember); },
            [](const CSettingsKey& key, const char* name, const Values& values) {
                return key.WriteWide(name, values.*kMember);
            }};
}

// A number or switch as decimal text. The parser gives the default for
// text without a number, which is what a missing or unusable value reads as.
template <auto kMember, auto kParse>
constexpr SettingRow NumberRow(const char* valueName, unsigned change) {
    return {valueName, change,
            [](const CSettingsKey& key, const char* name, Values& values) {
                char text[kSettingsTextCapacity];
                values.*kMember = kParse(key.Read(name, "", text) ? text : "");
            },
            [](const Values& a, const Values& b) { return SameValue(a.*kMember, b.*kMember); },
            [](const CSettingsKey& key, const char* name, const Values& values) {
                return key.WriteNumber(name, static_cast<long long>(values.*kMember));
            }};
}

// A rectangle as "X,Y,W,H" text; missing or unusable, none.
template <auto kMember>
constexpr SettingRow RectRow(const char* valueName, unsigned change) {
    return {valueName, change,
            [](const CSettingsKey& key, const char* name, Values& values) {
                char text[kSettingsTextCapacity];
                values.*kMember = ParseStoredRect(key.Read(name, "", text) ? text : "");
            },
            [](const Values& a, const Values& b) { return a.*kMember == b.*kMember; },
            [](const CSettingsKey& key, const char* name, const Values& values) {
                char text[kSettingsTextCapacity];
                FormatStoredRect(values.*kMember, text);
                return key.Write(name, text);
            }};
}

constexpr SettingRow kSettingRows[] = {
    TextRow<&Values::windowName, kDefaultWindowName>(kWindowNameValue, CCaptureSettings::kWindowChanged),
    TextRow<&Values::windowClass, kDefaultWindowClass>(kWindowClassValue, CCaptureSettings::kWindowChanged),
    TextRow<&Values::windowProgram, kDefaultWindowProgram>(kWindowProgramValue, CCaptureSettings::kWindowChanged),
    TextRow<&Values::titleText, kDefaultTitleTextW>(kTitleTextValue, CCaptureSettings::kTitleTextChanged),
    TextRow<&Values::standbyImage, kDefaultStandbyImage>(kStandbyImageValue, CCaptureSettings::kStandbyImageChanged),
    NumberRow<&Values::frameTime, &ParseFrameTime>(kFrameTimeValue, CCaptureSettings::kFrameTimeChanged),
    NumberRow<&Values::selectPixel, &ParseSelectPixel>(kSelectPixelValue, CCaptureSettings::kSelectPixelChanged),
    NumberRow<&Values::outputFormat, &ParseOutputFormat>(kOutputFormatValue, CCaptureSettings::kOutputFormatChanged),
    NumberRow<&Values::captureMethod, &ParseCaptureMethod>(kCaptureMethodValue,
                                                          CCaptureSettings::kCaptureMethodChanged),
    NumberRow<&Values::scaleMode, &ParseScaleMode>(kScaleModeValue, CCaptureSettings::kScaleModeChanged),
    NumberRow<&Values::mirror, &ParseSwitch>(kMirrorValue, CCaptureSettings::kMirrorChanged),
    NumberRow<&Values::diagnosticLog, &ParseSwitch>(kDiagnosticLogValue, CCaptureSettings::kDiagnosticLogChanged),
    NumberRow<&Values::sourceKind, &ParseSourceKind>(kSourceKindValue, CCaptureSettings::kSourceChanged),
    TextRow<&Values::sourceMonitor, kDefaultSourceMonitor>(kSourceMonitorValue, CCaptureSettings::kSourceChanged),
    RectRow<&Values::sourceRegion>(kSourceRegionValue, CCaptureSettings::kSourceChanged),
    RectRow<&Values::cropRect>(kCropRectValue, CCaptureSettings::kCropChanged),
    NumberRow<&Values::showCursor, &ParseCursorChoice>(kShowCursorValue, CCaptureSettings::kCursorChanged),
};

const SettingRow& RowOf(const char* valueName) {
    for (const SettingRow& row : kSettingRows) {
        if (std::strcmp(row.valueName, valueName) == 0) {
            return row;
        }
    }
    QM_DCHECK(!"a setting without a row");
    return kSettingRows[0];
}

Values ReadStored(const CSettingsKey& key) {
    Values values;
    for (const SettingRow& row : kSettingRows) {
        row.read(key, row.valueName, values);
    }
    return values;
}

}  // namespace

CCaptureSettings::CCaptureSettings(const char* keyPath) : m_key(keyPath), m_stored(ReadStored(m_key)) {
    FrameTime = m_stored.frameTime;
    diagnostic_log::Enable(m_stored.diagnosticLog);
}

unsigned CCaptureSettings::Reload() {
    const Values fresh = ReadStored(m_key);
    unsigned changes = kNoChange;
    {
        CAutoLock lock(&m_valueLock);
        for (const SettingRow& row : kSettingRows) {
            if (!row.same(fresh, m_stored)) {
                changes |= row.change;
            }
        }
        if ((changes & kFrameTimeChanged) != 0) {
            FrameTime = fresh.frameTime;
        }
        m_stored = fresh;
    }
    if ((changes & kDiagnosticLogChanged) != 0) {
        diagnostic_log::Enable(fresh.diagnosticLog);
    }
    return changes;
}

CCaptureSettings::Snapshot CCaptureSettings::GetSnapshot() const {
    CAutoLock lock(&m_valueLock);
    Snapshot snapshot = m_stored;
    snapshot.frameTime = FrameTime;
    return snapshot;
}

int64_t CCaptureSettings::GetFrameTime() const {
    CAutoLock lock(&m_valueLock);
    return FrameTime;
}

int CCaptureSettings::GetSelectPixel() const {
    CAutoLock lock(&m_valueLock);
    return m_stored.selectPixel;
}

PixelFormat CCaptureSettings::GetOutputFormat() const {
    CAutoLock lock(&m_valueLock);
    return PixelFormatOfOutputFormat(m_stored.outputFormat);
}

template <typename Update>
void CCaptureSettings::SetAndPersist(const char* valueName, Update update) {
    CAutoLock persist(&m_persistLock);
    Values written;
    {
        CAutoLock lock(&m_valueLock);
        update(m_stored);
        written = m_stored;
    }
    // A failed write still applies the value to this device; the log says
    // that it was not stored.
    LOG_IF_FAILED(RowOf(valueName).write(m_key, valueName, written));
}

HRESULT CCaptureSettings::GetFrameRate(double* rate) const {
    RETURN_HR_IF_NULL(E_POINTER, rate);
    *rate = FrameRateFromFrameTime(GetFrameTime());
    return S_OK;
}

HRESULT CCaptureSettings::SetFrameRate(double rate) {
    int64_t frameTime = 0;
    if (!FrameTimeFromRate(rate, &frameTime)) {
        return S_OK;
    }
    SetAndPersist(kFrameTimeValue, [&](Values& values) {
        values.frameTime = frameTime;
        FrameTime = frameTime;
    });
    return S_OK;
}

HRESULT CCaptureSettings::GetTitleText(char* text) const {
    RETURN_HR_IF_NULL(E_POINTER, text);
    wchar_t wide[kSettingsTextCapacity];
    {
        CAutoLock lock(&m_valueLock);
        std::memcpy(wide, m_stored.titleText, sizeof(wide));
    }
    QM_IGNORE(CodePageSettingTextFromWide(text, wide), "the 8-bit form is cut to its 63 bytes");
    return S_OK;
}

HRESULT CCaptureSettings::SetTitleText(const char* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    wchar_t wide[kSettingsTextCapacity];
    QM_IGNORE(WideSettingTextFromCodePage(wide, text), "a long text is cut to 63 characters");
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
    QM_IGNORE(CopySettingTextW(copy, text), "a long text is cut to 63 characters");
    SetAndPersist(kTitleTextValue, [&](Values& values) { std::memcpy(values.titleText, copy, sizeof(copy)); });
    return S_OK;
}

HRESULT CCaptureSettings::GetStandbyImage(wchar_t* path, int capacity) const {
    RETURN_HR_IF_NULL(E_POINTER, path);
    RETURN_HR_IF(E_INVALIDARG, capacity <= 0);
    CAutoLock lock(&m_valueLock);
    const size_t length = std::wcslen(m_stored.standbyImage);
    if (length >= static_cast<size_t>(capacity)) {
        path[0] = L'\0';
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    std::wmemcpy(path, m_stored.standbyImage, length + 1);
    return S_OK;
}

HRESULT CCaptureSettings::SetStandbyImage(const wchar_t* path) {
    RETURN_HR_IF_NULL(E_POINTER, path);
    // Counted only as far as the limit: the text may be long.
    const size_t length = wcsnlen(path, kStandbyImageCapacity);
    RETURN_HR_IF(E_INVALIDARG, length >= kStandbyImageCapacity);
    SetAndPersist(kStandbyImageValue,
                  [&](Values& values) { std::wmemcpy(values.standbyImage, path, length + 1); });
    return S_OK;
}

HRESULT CCaptureSettings::PersistSelectPixel(int index) {
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= kFrameSizeTableCount);
    SetAndPersist(kSelectPixelValue, [&](Values& values) { values.selectPixel = index; });
    return S_OK;
}

void CCaptureSettings::SetFrameTime(int64_t avgTimePerFrame) {
    if (avgTimePerFrame <= 0) {
        return;
    }
    CAutoLock lock(&m_valueLock);
    FrameTime = ClampFrameTime(avgTimePerFrame);
}
