#include "tests/page/page_session.h"

#include <amvideo.h>
#include <dshow.h>

#include "settings/capture_device_ids.h"
#include "framework/com_util.h"
#include "framework/media_type.h"
#include "module/module.h"
#include "page/capture_device_prop.h"
#include "tests/support/graph_lookup.h"

using Microsoft::WRL::ComPtr;

namespace qmtest {

HRESULT CreateCaptureFilterTarget(ComPtr<IUnknown>* object) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    object->Reset();
    ComPtr<IClassFactory> factory;
    RETURN_IF_FAILED(GetClassObjectFromTable(g_Templates, g_cTemplates, CLSID_CaptureDevice, IID_IClassFactory,
                                             reinterpret_cast<void**>(factory.GetAddressOf())));
    return factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(object->GetAddressOf()));
}

HRESULT CreateCapturePinTarget(ComPtr<IUnknown>* object) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    object->Reset();
    ComPtr<IUnknown> filterObject;
    RETURN_IF_FAILED(CreateCaptureFilterTarget(&filterObject));
    ComPtr<IBaseFilter> filter;
    RETURN_IF_FAILED(filterObject.As(&filter));
    ComPtr<IPin> pin;
    RETURN_IF_FAILED(GetPin(filter.Get(), PINDIR_OUTPUT, &pin));
    return pin.As(object);
}

HRESULT ReadStreamFormat(IUnknown* object, StreamFormat* format) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    RETURN_HR_IF_NULL(E_POINTER, format);
    ComPtr<IAMStreamConfig> config;
    RETURN_IF_FAILED(object->QueryInterface(IID_PPV_ARGS(&config)));
    AM_MEDIA_TYPE* mt = nullptr;
    RETURN_IF_FAILED(config->GetFormat(&mt));
    RETURN_HR_IF_NULL(E_UNEXPECTED, mt);
    HRESULT hr = S_OK;
    if (!IsEqualGUID(mt->formattype, FORMAT_VideoInfo) || mt->pbFormat == nullptr ||
        mt->cbFormat < sizeof(VIDEOINFOHEADER)) {
        hr = VFW_E_INVALIDMEDIATYPE;
    } else {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
        format->subtype = mt->subtype;
        format->width = vih->bmiHeader.biWidth;
        format->height = vih->bmiHeader.biHeight;
        format->avgTimePerFrame = vih->AvgTimePerFrame;
    }
    DeleteMediaType(mt);
    return hr;
}

HRESULT ReadDeviceSettings(IUnknown* object, DeviceSettings* settings) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    RETURN_HR_IF_NULL(E_POINTER, settings);
    ComPtr<ICaptureDeviceSettings> itf;
    RETURN_IF_FAILED(object->QueryInterface(IID_ICaptureDeviceSettings, reinterpret_cast<void**>(itf.GetAddressOf())));
    int size[2] = {};
    RETURN_IF_FAILED(itf->GetFrameSize(size));
    double rate = 0.0;
    RETURN_IF_FAILED(itf->GetFrameRate(&rate));
    char title[kSettingsTextCapacity] = {};
    RETURN_IF_FAILED(itf->GetTitleText(title));
    settings->width = size[0];
    settings->height = size[1];
    settings->rate = rate;
    settings->title.assign(title, strnlen(title, sizeof(title)));
    return S_OK;
}

HRESULT PrepareDevice(IUnknown* object, int sizeIndex, double rate, const char* title) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    ComPtr<ICaptureDeviceSettings> itf;
    RETURN_IF_FAILED(object->QueryInterface(IID_ICaptureDeviceSettings, reinterpret_cast<void**>(itf.GetAddressOf())));
    RETURN_IF_FAILED(itf->SetSelectPixel(sizeIndex));
    RETURN_IF_FAILED(itf->SetFrameRate(rate));
    RETURN_IF_FAILED(itf->SetTitleText(title));
    return S_OK;
}

PageSession::PageSession(PageCreator create) {
    HRESULT hr = E_FAIL;
    CUnknown* page = (create != nullptr ? create : &CCaptureDeviceProp::CreateInstance)(nullptr, &hr);
    if (page != nullptr) {
        page->NonDelegatingQueryInterface(IID_IPropertyPage, reinterpret_cast<void**>(m_page.GetAddressOf()));
    }
    m_site = new RecordingPageSite();
    m_site->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(m_siteRef.GetAddressOf()));
}

PageSession::~PageSession() {
    m_page.Reset();
    ::CoTaskMemFree(m_info.pszTitle);
}

HRESULT PageSession::Attach(IUnknown* object) {
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_page);
    RETURN_IF_FAILED(m_page->SetPageSite(m_site));
    IUnknown* objects[] = {object};
    return m_page->SetObjects(1, objects);
}

HRESULT PageSession::Activate() {
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_page);
    RETURN_IF_FAILED(m_page->Activate(m_host.get(), &rect, FALSE));
    RETURN_IF_FAILED(m_page->Show(SW_SHOW));
    PumpMessages();
    return S_OK;
}

HRESULT PageSession::Open(IUnknown* object) {
    RETURN_IF_FAILED(Attach(object));
    ::CoTaskMemFree(m_info.pszTitle);
    m_info = {};
    RETURN_IF_FAILED(m_page->GetPageInfo(&m_info));
    return Activate();
}

HRESULT PageSession::Close() {
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_page);
    RETURN_IF_FAILED(m_page->Deactivate());
    RETURN_IF_FAILED(m_page->SetObjects(0, nullptr));
    return m_page->SetPageSite(nullptr);
}

}  // namespace qmtest
