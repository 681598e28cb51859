#include "tools/capture_client/png_file.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <vector>

#include "framework/com_util.h"
#include "framework/memory_dib.h"

using Microsoft::WRL::ComPtr;

namespace qmcapture {

namespace {

const BYTE* RowOf(const FrameLayout& layout, const BYTE* data, UINT topDownRow) {
    const int row = static_cast<int>(topDownRow);
    const int stored = layout.bottomUp ? layout.height - 1 - row : row;
    return data + static_cast<size_t>(stored) * layout.stride;
}

HRESULT EncodePng(const std::wstring& path, UINT width, UINT height, const GUID& format, UINT rowBytes,
                  const PngRowSource& rows) {
    ComPtr<IWICImagingFactory> factory;
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(&factory)));
    ComPtr<IWICStream> stream;
    RETURN_IF_FAILED(factory->CreateStream(&stream));
    RETURN_IF_FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE));
    ComPtr<IWICBitmapEncoder> encoder;
    RETURN_IF_FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder));
    RETURN_IF_FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache));
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> frameOptions;
    RETURN_IF_FAILED(encoder->CreateNewFrame(&frame, &frameOptions));
    RETURN_IF_FAILED(frame->Initialize(frameOptions.Get()));
    RETURN_IF_FAILED(frame->SetSize(width, height));
    // The encoder answers with the format it will write, which must be the
    // one the rows are in.
    WICPixelFormatGUID written = format;
    RETURN_IF_FAILED(frame->SetPixelFormat(&written));
    RETURN_HR_IF(WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT, !IsEqualGUID(written, format));

    // Rows go to the encoder one at a time, top row first: a bottom-up
    // picture is turned the right way up, and a row is converted or made
    // only when it is written.
    std::vector<BYTE> scratch(rowBytes);
    for (UINT y = 0; y < height; ++y) {
        const BYTE* row = rows(y, scratch.data());
        RETURN_HR_IF_NULL(E_POINTER, row);
        // WritePixels only reads the row; its parameter merely lacks const.
        RETURN_IF_FAILED(frame->WritePixels(1, rowBytes, rowBytes, const_cast<BYTE*>(row)));
    }
    RETURN_IF_FAILED(frame->Commit());
    return encoder->Commit();
}

}  // namespace

bool FrameLayout::Valid() const {
    return width > 0 && height > 0 && (bitsPerPixel == 24 || bitsPerPixel == 32) &&
           stride >= static_cast<size_t>(DibStride(width, bitsPerPixel));
}

bool LayoutFromBitmapHeader(const BITMAPINFOHEADER& header, FrameLayout* layout) {
    if (header.biCompression != BI_RGB || (header.biBitCount != 24 && header.biBitCount != 32) ||
        header.biWidth <= 0 || header.biHeight == 0) {
        return false;
    }
    FrameLayout result;
    result.width = header.biWidth;
    result.height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    result.bitsPerPixel = header.biBitCount;
    result.bottomUp = header.biHeight > 0;
    result.stride = static_cast<size_t>(DibStride(result.width, result.bitsPerPixel));
    *layout = result;
    return true;
}

HRESULT WritePngFile(const std::wstring& path, UINT width, UINT height, const GUID& format, UINT rowBytes,
                     const PngRowSource& rows) {
    RETURN_HR_IF(E_INVALIDARG, width == 0 || height == 0 || rowBytes == 0 || !rows);
    const HRESULT hr = EncodePng(path, width, height, format, rowBytes, rows);
    if (FAILED(hr)) {
        // No half-written picture is left behind under the picture's name.
        ::DeleteFileW(path.c_str());
    }
    return hr;
}

HRESULT SaveFrameAsPng(const std::wstring& path, const FrameLayout& layout, const BYTE* data) {
    RETURN_HR_IF_NULL(E_POINTER, data);
    RETURN_HR_IF(E_INVALIDARG, !layout.Valid());
    const UINT rowBytes = static_cast<UINT>(layout.width) * 3;
    return WritePngFile(path, static_cast<UINT>(layout.width), static_cast<UINT>(layout.height),
                        GUID_WICPixelFormat24bppBGR, rowBytes, [&layout, data](UINT y, BYTE* scratch) {
                            const BYTE* source = RowOf(layout, data, y);
                            if (layout.bitsPerPixel == 24) {
                                return source;
                            }
                            // BGRX to BGR: the unused fourth byte dropped.
                            for (int x = 0; x < layout.width; ++x) {
                                scratch[x * 3 + 0] = source[x * 4 + 0];
                                scratch[x * 3 + 1] = source[x * 4 + 1];
                                scratch[x * 3 + 2] = source[x * 4 + 2];
                            }
                            return static_cast<const BYTE*>(scratch);
                        });
}

double MeanLevel(const FrameLayout& layout, const BYTE* data) {
    if (data == nullptr || !layout.Valid()) {
        return 0.0;
    }
    const int bytesPerPixel = layout.bitsPerPixel / 8;
    unsigned long long sum = 0;
    for (int y = 0; y < layout.height; ++y) {
        const BYTE* row = data + static_cast<size_t>(y) * layout.stride;
        for (int x = 0; x < layout.width; ++x) {
            sum += static_cast<unsigned>(row[x * bytesPerPixel]) + row[x * bytesPerPixel + 1] +
                   row[x * bytesPerPixel + 2];
        }
    }
    return static_cast<double>(sum) / (3.0 * layout.width * layout.height);
}

}  // namespace qmcapture
