// A stand-in for the capture pin's settings: ICaptureDeviceSettings on top
// of CUnknown, keeping the values in memory the way the pin reports them,
// and recording every call in order with its values. It writes nothing to
// the registry. The page's call tests use it where the real device cannot
// tell what they check: how often each method is called and with which
// exact arguments, and settings calls that fail.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "settings/capture_device_settings.h"
#include "framework/unknown.h"

namespace qmtest {

class FakeCaptureSettings : public CUnknown, public ICaptureDeviceSettings {
public:
    struct Call {
        std::string method;
        double number = 0.0;  // index, rate or width, when the call has one
        std::string text;     // the standby text passed to SetTitleText
    };

    FakeCaptureSettings();

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE GetFrameSize(int* size) override;
    HRESULT STDMETHODCALLTYPE SetFrameSize(const int* size) override;
    HRESULT STDMETHODCALLTYPE SetSelectPixel(int index) override;
    HRESULT STDMETHODCALLTYPE GetFrameRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE SetFrameRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetTitleText(char* text) override;
    HRESULT STDMETHODCALLTYPE SetTitleText(const char* text) override;

    const std::vector<Call>& calls() const { return m_calls; }
    void ClearCalls() { m_calls.clear(); }
    // How often a method was called, and its last call (null: never).
    int Count(const char* method) const;
    const Call* Last(const char* method) const;
    // From now on every method records its call, changes nothing and
    // returns E_FAIL.
    void FailEverything() { m_fail = true; }
    LONG RefCount() const { return m_cRef.load(); }

private:
    void Record(const char* method, double number = 0.0, const char* text = nullptr);

    std::vector<Call> m_calls;
    bool m_fail = false;
    int m_width;
    int m_height;
    LONGLONG m_frameTime;
    char m_titleText[kSettingsTextCapacity];
};

}  // namespace qmtest
