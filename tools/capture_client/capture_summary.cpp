#include "tools/capture_client/capture_summary.h"

#include "framework/com_util.h"
#include "tools/capture_client/console_output.h"
#include "tools/capture_client/source_description.h"

namespace qmcapture {

void CaptureSummary::Add(const std::wstring& key, const std::wstring& value) {
    // One entry per line: line breaks inside a value would start a new key.
    std::wstring flat = value;
    for (wchar_t& c : flat) {
        if (c == L'\r' || c == L'\n') {
            c = L' ';
        }
    }
    m_entries.emplace_back(key, std::move(flat));
}

void CaptureSummary::Add(const std::wstring& key, double value, int decimals) {
    Add(key, FormatText(L"%.*f", decimals, value));
}

void CaptureSummary::Add(const std::wstring& key, long long value) { Add(key, FormatText(L"%lld", value)); }

void CaptureSummary::AddIntervals(const std::wstring& prefix, const IntervalStatistics& stats) {
    Add(prefix + L"_count", static_cast<long long>(stats.count));
    Add(prefix + L"_p50_ms", stats.p50, 3);
    Add(prefix + L"_p90_ms", stats.p90, 3);
    Add(prefix + L"_p99_ms", stats.p99, 3);
    Add(prefix + L"_max_ms", stats.max, 3);
}

void CaptureSummary::AddSource(const CCaptureSettings::Values& values) {
    const wchar_t* kind = values.sourceKind == SourceKind::Monitor  ? L"monitor"
                          : values.sourceKind == SourceKind::Region ? L"region"
                                                                    : L"window";
    Add(L"source_kind", kind);
    Add(L"source", DescribeSource(values));
    Add(L"crop", values.sourceKind == SourceKind::Window && !values.cropRect.Empty() ? RectangleText(values.cropRect)
                                                                                     : std::wstring());
    Add(L"pointer", ShowsCursor(values.showCursor, values.sourceKind) ? L"on" : L"off");
    Add(L"capture_method", CaptureMethodName(values.captureMethod));
}

std::wstring CaptureSummary::Text() const {
    std::wstring text;
    for (const auto& entry : m_entries) {
        text += entry.first + L"=" + entry.second + L"\n";
    }
    return text;
}

HRESULT CaptureSummary::Save(const std::wstring& path) const {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        return HResultFromLastError();
    }
    const std::string bytes = ToUtf8(Text());
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        return HResultFromLastError();
    }
    return S_OK;
}

}  // namespace qmcapture
