#include "tests/page/fake_capture_settings.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "framework/time_units.h"

namespace qmtest {

namespace {

constexpr SIZE kFrameSizes[] = {{204, 360},  {272, 480},  {432, 768},   {568, 320},  {852, 480},
                                {1136, 640}, {720, 1280}, {1080, 1920}, {1280, 720}, {1920, 1080}};
constexpr LONGLONG kMinFrameTime = 166666;
constexpr LONGLONG kDefaultFrameTime = 333333;
constexpr LONGLONG kMaxFrameTime = 10000000;

}  // namespace

FakeCaptureSettings::FakeCaptureSettings()
    : CUnknown(L"FakeCaptureSettings", nullptr),
      m_width(kFrameSizes[0].cx),
      m_height(kFrameSizes[0].cy),
      m_frameTime(kDefaultFrameTime),
      m_titleText("- QM Capture -") {}

HRESULT STDMETHODCALLTYPE FakeCaptureSettings::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_ICaptureDeviceSettings)) {
        return GetInterface(static_cast<ICaptureDeviceSettings*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

int FakeCaptureSettings::Count(const char* method) const {
    int count = 0;
    for (const Call& call : m_calls) {
        count += call.method == method ? 1 : 0;
    }
    return count;
}

const FakeCaptureSettings::Call* FakeCaptureSettings::Last(const char* method) const {
    for (auto it = m_calls.rbegin(); it != m_calls.rend(); ++it) {
        if (it->method == method) {
            return &*it;
        }
    }
    return nullptr;
}

void FakeCaptureSettings::Record(const char* method, double number, const char* text) {
    m_calls.push_back({method, number, text != nullptr ? text : ""});
}

HRESULT STDMETHODCALLTYPE FakeCaptureSettings::GetFrameSize(int* size) {
    Record("GetFrameSize");
    if (size == nullptr) {
        return E_POINTER;
    }
    if (m_fail) {
        return E_FAIL;
    }
    size[0] = m_width;
    size[1] = m_height;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeCaptureSettings::SetFrameSize(const int* size) {
    Record("SetFrameSize", size != nullptr ? size[0] : 0);
    if (size == nullptr) {
        return E_POINTER;
    }
    if (m_fail) {
        return E_FAIL;
    }
    m_width = size[0];
    m_height = size[1];
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeCaptureSettings::SetSelectPixel(int index) {
    Record("SetSelectPixel", index);
    if (m_fail) {
        return E_FAIL;
    }
    if (index >= 0 && index < static_cast<int>(std::size(kFrameSizes))) {
        m_width = kFrameSizes[index].cx;
        m_height = kFrameSizes[index].cy;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeCaptureSettings::GetFrameRate(double* rate) {
    Record("GetFrameRate");
    if (rate == nullptr) {
        return E_POINTER;
    }
    if (m_fail) {
        return E_FAIL;
    }
    *rate = m_frameTime > 0 ? static_cast<double>(kUnitsPerSecond / m_frameTime) : 0.0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeCaptureSettings::SetFrameRate(double rate) {
    Record("SetFrameRate", rate);
    if (m_fail) {
        return E_FAIL;
    }
    if (!(rate > 0.0)) {
        return S_OK;
    }
    LONGLONG frameTime = static_cast<LONGLONG>(static_cast<double>(kUnitsPerSecond) / rate);
    if (frameTime < kMinFrameTime) {
        frameTime = kMinFrameTime;
    } else if (frameTime > kMaxFrameTime) {
        frameTime = kMaxFrameTime;
    }
    m_frameTime = frameTime;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeCaptureSettings::GetTitleText(char* text) {
    Record("GetTitleText");
    if (m_fail) {
        return E_FAIL;
    }
    std::memcpy(text, m_titleText, sizeof(m_titleText));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeCaptureSettings::SetTitleText(const char* text) {
    Record("SetTitleText", 0.0, text);
    if (m_fail) {
        return E_FAIL;
    }
    std::snprintf(m_titleText, sizeof(m_titleText), "%s", text);
    return S_OK;
}

}  // namespace qmtest
