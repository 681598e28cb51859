// The machine-readable summary of one run: key=value lines in the order
// they were added, written as UTF-8.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "settings/capture_settings.h"
#include "tools/capture_client/frame_statistics.h"

namespace qmcapture {

class CaptureSummary {
public:
    void Add(const std::wstring& key, const std::wstring& value);
    void Add(const std::wstring& key, double value, int decimals);
    void Add(const std::wstring& key, long long value);
    // <prefix>_count, _p50_ms, _p90_ms, _p99_ms, _max_ms.
    void AddIntervals(const std::wstring& prefix, const IntervalStatistics& stats);
    // What the camera's settings show: source_kind (window, monitor or
    // region), source (its words), crop (X,Y,W,H or empty), pointer (on or
    // off, as drawn) and capture_method.
    void AddSource(const CCaptureSettings::Values& values);

    const std::vector<std::pair<std::wstring, std::wstring>>& Entries() const { return m_entries; }
    std::wstring Text() const;
    HRESULT Save(const std::wstring& path) const;

private:
    std::vector<std::pair<std::wstring, std::wstring>> m_entries;
};

}  // namespace qmcapture
