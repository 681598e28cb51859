#include "picture/standby_image.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <new>
#include <utility>

#include "framework/com_util.h"
#include "framework/diagnostic_log.h"

namespace {

using Microsoft::WRL::ComPtr;

// Room for a path of MAX_PATH characters in UTF-8.
constexpr size_t kMaxUtf8Path = MAX_PATH * 3;

// COM on the calling thread for one scope: initialised here only where it
// was not yet (a streaming thread already has it), and then undone.
class ScopedComInit {
public:
    ScopedComInit() : m_hr(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ScopedComInit() {
        if (SUCCEEDED(m_hr)) {
            ::CoUninitialize();
        }
    }
    ScopedComInit(const ScopedComInit&) = delete;
    ScopedComInit& operator=(const ScopedComInit&) = delete;

private:
    // S_OK or S_FALSE when this scope holds an initialisation;
    // RPC_E_CHANGED_MODE when the thread is already in an apartment of
    // the other kind, which serves as well.
    HRESULT m_hr;
};

bool IsTakenFormat(const GUID& container) {
    return IsEqualGUID(container, GUID_ContainerFormatPng) || IsEqualGUID(container, GUID_ContainerFormatJpeg) ||
           IsEqualGUID(container, GUID_ContainerFormatBmp);
}

}  // namespace

CStandbyImage::CStandbyImage(CStandbyImage&& other) noexcept
    : m_pixels(std::move(other.m_pixels)), m_width(other.m_width), m_height(other.m_height) {
    other.m_width = 0;
    other.m_height = 0;
}

CStandbyImage& CStandbyImage::operator=(CStandbyImage&& other) noexcept {
    if (this != &other) {
        m_pixels = std::move(other.m_pixels);
        m_width = std::exchange(other.m_width, 0);
        m_height = std::exchange(other.m_height, 0);
    }
    return *this;
}

void CStandbyImage::Clear() {
    m_pixels.reset();
    m_width = 0;
    m_height = 0;
}

HRESULT CStandbyImage::Load(const wchar_t* path) {
    Clear();
    if (path == nullptr || path[0] == L'\0') {
        return S_FALSE;
    }
    const char* step = "";
    const HRESULT hr = Decode(path, &step);
    if (FAILED(hr)) {
        Clear();
        // The log is UTF-8; a path that does not convert is logged empty.
        char utf8[kMaxUtf8Path] = {};
        if (::WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, static_cast<int>(sizeof(utf8)), nullptr,
                                  nullptr) == 0) {
            utf8[0] = '\0';
        }
        diagnostic_log::Write("standby image \"%s\" not shown: %s (0x%08lX)", utf8, step,
                              static_cast<unsigned long>(hr));
    }
    return hr;
}

HRESULT CStandbyImage::Decode(const wchar_t* path, const char** step) {
    // The failures here are reported by the one log line of Load, not by
    // the error macros, which would log each step again.
    const ScopedComInit com;
    ComPtr<IWICImagingFactory> factory;
    *step = "no imaging component";
    HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IWICBitmapDecoder> decoder;
    *step = "cannot be opened as a picture";
    hr = factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    if (FAILED(hr)) {
        return hr;
    }
    GUID container = {};
    *step = "not a PNG, JPEG or BMP picture";
    if (FAILED(decoder->GetContainerFormat(&container)) || !IsTakenFormat(container)) {
        return WINCODEC_ERR_COMPONENTNOTFOUND;
    }
    ComPtr<IWICBitmapFrameDecode> frame;
    *step = "has no readable picture";
    hr = decoder->GetFrame(0, &frame);
    if (FAILED(hr)) {
        return hr;
    }
    UINT width = 0;
    UINT height = 0;
    *step = "has no readable size";
    hr = frame->GetSize(&width, &height);
    if (FAILED(hr)) {
        return hr;
    }
    // Checked before anything of the picture's size is allocated.
    *step = "larger than 8192 x 8192 pixels, or empty";
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) {
        return WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
    }
    ComPtr<IWICFormatConverter> converter;
    *step = "cannot be converted to 32-bit colour";
    hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr)) {
        // Premultiplied: a transparent pixel becomes black, its colour
        // weighed by its opacity, which is the picture laid on black.
        hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr,
                                   0.0, WICBitmapPaletteTypeCustom);
    }
    if (FAILED(hr)) {
        return hr;
    }
    const UINT stride = width * 4;
    const size_t size = static_cast<size_t>(stride) * height;
    *step = "no memory for its pixels";
    std::unique_ptr<BYTE[]> pixels(new (std::nothrow) BYTE[size]);
    if (!pixels) {
        return E_OUTOFMEMORY;
    }
    *step = "damaged or cut short";
    hr = converter->CopyPixels(nullptr, stride, static_cast<UINT>(size), pixels.get());
    if (FAILED(hr)) {
        return hr;
    }
    m_pixels = std::move(pixels);
    m_width = static_cast<int>(width);
    m_height = static_cast<int>(height);
    return S_OK;
}
