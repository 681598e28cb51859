// CCaptureDeviceProp: the capture device's settings page. It shows quality,
// orientation, frame rate, standby text and standby picture in a Japanese
// dialog and edits them through ICaptureDeviceSettings of the object the
// frame attaches (the capture pin, or the filter, which routes the
// interface to its pin). The standby picture's path is shown read only;
// "参照…" chooses a file and "クリア" empties it. Objects without
// ICaptureDeviceSettings3 have the two buttons disabled.
#pragma once

#include <windows.h>

#include <wrl/client.h>

#include "settings/capture_device_settings.h"
#include "settings/settings_values.h"
#include "framework/base_property_page.h"

class CCaptureDeviceProp : public CBasePropertyPage {
public:
    // The creation function of the page's factory row. *phr is always S_OK;
    // a null result means the allocation failed.
    static CUnknown* WINAPI CreateInstance(IUnknown* outer, HRESULT* phr);

    explicit CCaptureDeviceProp(IUnknown* outer);

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // Capacity of the texts read back from the edit boxes, terminator
    // included.
    static constexpr int kEditTextCapacity = 256;

    // What the controls hold, as Apply needs it.
    struct Edits {
        // Selected quality item (標準, 高, 最高, HD, フルHD), or -1 when none
        // is selected.
        int quality = -1;
        // The orientation the size index is taken for.
        bool landscape = false;
        WCHAR rateText[kEditTextCapacity] = {};
        WCHAR titleText[kEditTextCapacity] = {};
        WCHAR standbyImage[kStandbyImageCapacity] = {};
    };

    void ReadControls(Edits* edits) const;
    // The standby text in and out, in UTF-16 where the object offers it.
    void ReadTitleText(wchar_t (&title)[kEditTextCapacity]) const;
    // Shows the device's output format (read only).
    void ShowOutputFormat();
    // "RGB24", "NV12", ... for the formats the device sends; "-" else.
    static const wchar_t* FormatNameOf(const GUID& subtype);
    void WriteTitleText(const wchar_t* title);
    // Sets size, standby text, standby picture and frame rate, in this
    // order.
    void WriteSettings(const Edits& edits);
    // The buttons of the standby picture: a file chosen in the open dialog,
    // or none; the path control shows it and the page turns dirty.
    void BrowseStandbyImage();
    void ShowStandbyImage(const wchar_t* path);
    void MarkDirty();

    // The attached object's settings: null when none is attached or the
    // object has no such interface.
    ICaptureDeviceSettings* Settings() const {
        ICaptureDeviceSettings2* settings2 = Settings2();
        return settings2 != nullptr ? settings2 : m_pSettings.Get();
    }
    // The UTF-16 interface: the third one, which extends it, or the second.
    ICaptureDeviceSettings2* Settings2() const {
        return m_pSettings3 ? m_pSettings3.Get() : m_pSettings2.Get();
    }

    // One of the three is held, never more, so that the page holds one
    // reference on the object. The one with the standby picture where the
    // object offers it; else the UTF-16 one; else the first, and the
    // standby text goes through its 8-bit methods in the host's code page.
    // Used on the frame's thread only.
    Microsoft::WRL::ComPtr<ICaptureDeviceSettings3> m_pSettings3;
    Microsoft::WRL::ComPtr<ICaptureDeviceSettings2> m_pSettings2;
    Microsoft::WRL::ComPtr<ICaptureDeviceSettings> m_pSettings;
    // The controls' values at Deactivate, for an Apply that comes after the
    // dialog is gone. Valid while m_hasPendingEdits.
    Edits m_pendingEdits;
    bool m_hasPendingEdits = false;
};
