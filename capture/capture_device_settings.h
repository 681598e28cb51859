// ICaptureDeviceSettings: the device's own settings interface, on the
// output pin and (forwarded) on the filter. The property page uses it.
#pragma once

#include <windows.h>
#include <unknwn.h>

// {42E354AF-99B8-476E-AA4B-9FA80EF0A9F2}
inline constexpr GUID IID_ICaptureDeviceSettings = {
    0x42e354af, 0x99b8, 0x476e, {0xaa, 0x4b, 0x9f, 0xa8, 0x0e, 0xf0, 0xa9, 0xf2}};

// Capacity of the 8-bit settings texts, terminator included.
inline constexpr int kSettingsTextCapacity = 64;

MIDL_INTERFACE("42E354AF-99B8-476E-AA4B-9FA80EF0A9F2")
ICaptureDeviceSettings : public IUnknown {
public:
    // size[0] = width, size[1] = height of the current output format.
    virtual HRESULT STDMETHODCALLTYPE GetFrameSize(int* size) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFrameSize(const int* size) = 0;
    // Index 0..5 into the table of output sizes; persisted.
    virtual HRESULT STDMETHODCALLTYPE SetSelectPixel(int index) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFrameRate(double* rate) = 0;
    // Frames per second, kept within 1..30; persisted.
    virtual HRESULT STDMETHODCALLTYPE SetFrameRate(double rate) = 0;
    // text: a buffer of at least kSettingsTextCapacity bytes.
    virtual HRESULT STDMETHODCALLTYPE GetTitleText(char* text) = 0;
    // The standby text, 8-bit in the system code page; persisted.
    virtual HRESULT STDMETHODCALLTYPE SetTitleText(const char* text) = 0;
};

#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(ICaptureDeviceSettings, 0x42e354af, 0x99b8, 0x476e, 0xaa, 0x4b, 0x9f, 0xa8, 0x0e, 0xf0,
                0xa9, 0xf2)
#endif
