#include "picture/standby_image.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <new>
#include <utility>

#include "settings/frame_sizes.h"
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

// Rows copied out of the decoder at a time; a cancelled read ends between
// two strips.
constexpr UINT kStripRows = 64;

// The size of a width x height picture fitted into a box, aspect kept;
// the picture's own size when it fits already.
SIZE FitInto(UINT width, UINT height, UINT boxWidth, UINT boxHeight) {
    if (width <= boxWidth && height <= boxHeight) {
        return {static_cast<LONG>(width), static_cast<LONG>(height)};
    }
    const auto w = static_cast<unsigned long long>(width);
    const auto h = static_cast<unsigned long long>(height);
    if (w * boxHeight >= h * boxWidth) {
        const unsigned long long fitted = (h * boxWidth + w / 2) / w;
        return {static_cast<LONG>(boxWidth), static_cast<LONG>(fitted > 0 ? fitted : 1)};
    }
    const unsigned long long fitted = (w * boxHeight + h / 2) / h;
    return {static_cast<LONG>(fitted > 0 ? fitted : 1), static_cast<LONG>(boxHeight)};
}

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

HRESULT CStandbyImage::Load(const wchar_t* path, const std::atomic<bool>* cancel) {
    Clear();
    if (path == nullptr || path[0] == L'\0') {
        return S_FALSE;
    }
    const char* step = "";
    const HRESULT hr = Decode(path, cancel, &step);
    if (hr == E_ABORT) {
        // Given up on request: nothing to report.
        Clear();
    } else if (FAILED(hr)) {
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

SIZE CStandbyImage::KeptSize(UINT width, UINT height) {
    // The standby frame fits the picture into the frame, aspect kept: no
    // frame size shows more of it than the largest fit among them.
    SIZE kept = {0, 0};
    for (const FrameSize& frame : FrameSizeTable) {
        const SIZE fitted = FitInto(width, height, static_cast<UINT>(frame.width), static_cast<UINT>(frame.height));
        if (static_cast<long long>(fitted.cx) * fitted.cy > static_cast<long long>(kept.cx) * kept.cy) {
            kept = fitted;
        }
    }
    return kept;
}

HRESULT CStandbyImage::Decode(const wchar_t* path, const std::atomic<bool>* cancel, const char** step) {
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
    // Decoded straight to the size kept, a strip at a time: a huge picture
    // is never held whole here.
    const SIZE kept = KeptSize(width, height);
    ComPtr<IWICBitmapSource> source = converter;
    if (static_cast<UINT>(kept.cx) != width || static_cast<UINT>(kept.cy) != height) {
        ComPtr<IWICBitmapScaler> scaler;
        *step = "cannot be scaled down";
        hr = factory->CreateBitmapScaler(&scaler);
        if (SUCCEEDED(hr)) {
            hr = scaler->Initialize(converter.Get(), static_cast<UINT>(kept.cx), static_cast<UINT>(kept.cy),
                                    WICBitmapInterpolationModeFant);
        }
        if (FAILED(hr)) {
            return hr;
        }
        source = scaler;
    }
    const UINT keptWidth = static_cast<UINT>(kept.cx);
    const UINT keptHeight = static_cast<UINT>(kept.cy);
    const UINT stride = keptWidth * 4;
    const size_t size = static_cast<size_t>(stride) * keptHeight;
    *step = "no memory for its pixels";
    std::unique_ptr<BYTE[]> pixels(new (std::nothrow) BYTE[size]);
    if (!pixels) {
        return E_OUTOFMEMORY;
    }
    for (UINT row = 0; row < keptHeight; row += kStripRows) {
        *step = "no longer wanted";
        if (cancel != nullptr && cancel->load()) {
            return E_ABORT;
        }
        const UINT rows = keptHeight - row < kStripRows ? keptHeight - row : kStripRows;
        const WICRect strip = {0, static_cast<INT>(row), static_cast<INT>(keptWidth), static_cast<INT>(rows)};
        *step = "damaged or cut short";
        hr = source->CopyPixels(&strip, stride, stride * rows, pixels.get() + static_cast<size_t>(stride) * row);
        if (FAILED(hr)) {
            return hr;
        }
    }
    m_pixels = std::move(pixels);
    m_width = kept.cx;
    m_height = kept.cy;
    return S_OK;
}
