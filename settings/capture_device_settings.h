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
    // Index 0..9 into the table of output sizes; persisted.
    virtual HRESULT STDMETHODCALLTYPE SetSelectPixel(int index) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFrameRate(double* rate) = 0;
    // Frames per second, kept within 1..60; persisted.
    virtual HRESULT STDMETHODCALLTYPE SetFrameRate(double rate) = 0;
    // text: a buffer of at least kSettingsTextCapacity bytes; the standby
    // text in the host's 8-bit code page, cut at a character boundary.
    virtual HRESULT STDMETHODCALLTYPE GetTitleText(char* text) = 0;
    // The standby text, 8-bit in the host's code page; stored as UTF-16
    // and persisted.
    virtual HRESULT STDMETHODCALLTYPE SetTitleText(const char* text) = 0;
};

// {6C1B7E0A-3D52-4F8B-9E61-2A7C58D94B13}
inline constexpr GUID IID_ICaptureDeviceSettings2 = {
    0x6c1b7e0a, 0x3d52, 0x4f8b, {0x9e, 0x61, 0x2a, 0x7c, 0x58, 0xd9, 0x4b, 0x13}};

// The settings interface with the standby text in UTF-16, as it is stored:
// the 8-bit methods above can carry only what the host's code page can
// represent, in at most 63 bytes. The device's own pages use this one, so
// that opening a page and pressing OK never loses characters.
MIDL_INTERFACE("6C1B7E0A-3D52-4F8B-9E61-2A7C58D94B13")
ICaptureDeviceSettings2 : public ICaptureDeviceSettings {
public:
    // text: capacity characters (kSettingsTextCapacity hold any stored
    // text); E_POINTER for null, E_INVALIDARG for a capacity below 1.
    virtual HRESULT STDMETHODCALLTYPE GetTitleTextW(wchar_t* text, int capacity) = 0;
    // Cut to 63 characters at a character boundary; persisted.
    virtual HRESULT STDMETHODCALLTYPE SetTitleTextW(const wchar_t* text) = 0;
};

// {EA4D1C4A-8449-4060-8356-4F87D2260B49}
inline constexpr GUID IID_ICaptureDeviceSettings3 = {
    0xea4d1c4a, 0x8449, 0x4060, {0x83, 0x56, 0x4f, 0x87, 0xd2, 0x26, 0x0b, 0x49}};

// The settings interface with the standby picture: the path of a PNG, JPEG
// or BMP file that the standby frame shows, fitted on black under the
// standby text. The path is stored as it is given (UTF-16, at most
// MAX_PATH - 1 characters); the device reads the file when the path
// changes and when a stream starts.
MIDL_INTERFACE("EA4D1C4A-8449-4060-8356-4F87D2260B49")
ICaptureDeviceSettings3 : public ICaptureDeviceSettings2 {
public:
    // path: capacity characters; the stored path, empty for none. E_POINTER
    // for null, E_INVALIDARG for a capacity below 1, and
    // HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) (path left empty) when
    // the path does not fit: a cut path would name another file. MAX_PATH
    // characters hold any stored path.
    virtual HRESULT STDMETHODCALLTYPE GetStandbyImage(wchar_t* path, int capacity) = 0;
    // Stores and persists the path; an empty one clears it. E_POINTER for
    // null, E_INVALIDARG (and nothing changes) for a path of MAX_PATH
    // characters or more. Whether the file is a usable picture is not
    // checked here: one that is not gives the plain black standby frame.
    virtual HRESULT STDMETHODCALLTYPE SetStandbyImage(const wchar_t* path) = 0;
};

#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(ICaptureDeviceSettings, 0x42e354af, 0x99b8, 0x476e, 0xaa, 0x4b, 0x9f, 0xa8, 0x0e, 0xf0,
                0xa9, 0xf2)
__CRT_UUID_DECL(ICaptureDeviceSettings2, 0x6c1b7e0a, 0x3d52, 0x4f8b, 0x9e, 0x61, 0x2a, 0x7c, 0x58, 0xd9,
                0x4b, 0x13)
__CRT_UUID_DECL(ICaptureDeviceSettings3, 0xea4d1c4a, 0x8449, 0x4060, 0x83, 0x56, 0x4f, 0x87, 0xd2, 0x26,
                0x0b, 0x49)
#endif
