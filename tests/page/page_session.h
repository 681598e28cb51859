// Drives the capture settings page as a property frame does, against the
// objects a frame is given (the capture filter, or its pin), and reads back
// what reached the device and the registry.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <strmif.h>

#include <wrl/client.h>

#include <ostream>
#include <string>

#include "framework/unknown.h"
#include "tests/support/property_page_harness.h"
#include "tests/support/stored_settings.h"

namespace qmtest {

// An object the frame can hand to the page.
struct SettingsTarget {
    const char* name;
    HRESULT (*create)(Microsoft::WRL::ComPtr<IUnknown>* object);
};

inline void PrintTo(const SettingsTarget& target, std::ostream* os) {
    *os << target.name;
}

// The capture filter, made by the module's factory row 0 in this process.
// Create it inside a RegistrySandbox: it reads its settings on creation.
HRESULT CreateCaptureFilterTarget(Microsoft::WRL::ComPtr<IUnknown>* object);
// The filter's one pin, found through its EnumPins; the pin keeps the
// filter alive.
HRESULT CreateCapturePinTarget(Microsoft::WRL::ComPtr<IUnknown>* object);

// What the device reports through ICaptureDeviceSettings.
struct DeviceSettings {
    int width = 0;
    int height = 0;
    double rate = 0.0;
    std::string title;
};
HRESULT ReadDeviceSettings(IUnknown* object, DeviceSettings* settings);
// The current output format as IAMStreamConfig::GetFormat reports it.
struct StreamFormat {
    GUID subtype = GUID_NULL;
    LONG width = 0;
    LONG height = 0;
    REFERENCE_TIME avgTimePerFrame = 0;
};
HRESULT ReadStreamFormat(IUnknown* object, StreamFormat* format);
// Brings the device to a known state through its own setters.
HRESULT PrepareDevice(IUnknown* object, int sizeIndex, double rate, const char* title);

// A page's creation function, as its factory row names it.
using PageCreator = CUnknown*(WINAPI*)(IUnknown* outer, HRESULT* phr);

// One page, its site and its host window, opened the way a frame opens it.
class PageSession {
public:
    // The settings page, or the page `create` makes.
    explicit PageSession(PageCreator create = nullptr);
    ~PageSession();
    PageSession(const PageSession&) = delete;
    PageSession& operator=(const PageSession&) = delete;

    // SetPageSite, then SetObjects with the object.
    HRESULT Attach(IUnknown* object);
    // Activate on the host window, then Show.
    HRESULT Activate();
    // Attach, GetPageInfo (kept in info()), Activate.
    HRESULT Open(IUnknown* object);
    // Deactivate, SetObjects with none, SetPageSite with null.
    HRESULT Close();

    IPropertyPage* page() const { return m_page.Get(); }
    RecordingPageSite* site() const { return m_site; }
    HWND host() const { return m_host.get(); }
    // The page's dialog while active.
    HWND dialog() const { return m_host.PageWindow(); }
    const PROPPAGEINFO& info() const { return m_info; }
    // Drops the session's page reference; the page goes with its last one.
    void ReleasePage() { m_page.Reset(); }

    RECT rect = {8, 8, 8 + 360, 8 + 200};

private:
    PageHostWindow m_host;
    Microsoft::WRL::ComPtr<IPropertyPage> m_page;
    RecordingPageSite* m_site = nullptr;  // kept alive by m_siteRef
    Microsoft::WRL::ComPtr<IUnknown> m_siteRef;
    PROPPAGEINFO m_info = {};
};

}  // namespace qmtest
