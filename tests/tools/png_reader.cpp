#include "tests/tools/png_reader.h"

#include <wincodec.h>
#include <wrl/client.h>

#include "framework/com_util.h"

using Microsoft::WRL::ComPtr;

namespace qmtest {

COLORREF DecodedPicture::At(UINT x, UINT y) const {
    const BYTE* pixel = pixels.data() + (static_cast<size_t>(y) * width + x) * 3;
    return RGB(pixel[2], pixel[1], pixel[0]);
}

HRESULT DecodePng(const std::wstring& path, DecodedPicture* decoded) {
    RETURN_HR_IF_NULL(E_POINTER, decoded);
    *decoded = DecodedPicture();
    ComPtr<IWICImagingFactory> factory;
    RETURN_IF_FAILED(
        ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)));
    ComPtr<IWICBitmapDecoder> decoder;
    RETURN_IF_FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                        WICDecodeMetadataCacheOnDemand, &decoder));
    GUID container = GUID_NULL;
    RETURN_IF_FAILED(decoder->GetContainerFormat(&container));
    RETURN_HR_IF(E_UNEXPECTED, container != GUID_ContainerFormatPng);
    ComPtr<IWICBitmapFrameDecode> frame;
    RETURN_IF_FAILED(decoder->GetFrame(0, &frame));
    ComPtr<IWICFormatConverter> converter;
    RETURN_IF_FAILED(factory->CreateFormatConverter(&converter));
    RETURN_IF_FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr,
                                           0.0, WICBitmapPaletteTypeCustom));
    DecodedPicture picture;
    RETURN_IF_FAILED(converter->GetSize(&picture.width, &picture.height));
    picture.pixels.resize(static_cast<size_t>(picture.width) * picture.height * 3);
    RETURN_IF_FAILED(converter->CopyPixels(nullptr, picture.width * 3, static_cast<UINT>(picture.pixels.size()),
                                           picture.pixels.data()));
    *decoded = std::move(picture);
    return S_OK;
}

}  // namespace qmtest
