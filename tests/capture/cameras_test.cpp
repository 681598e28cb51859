// Several cameras streaming in one process: each its own settings, size
// and rate, all following their windows at once.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <cstdlib>
#include <vector>

#include "settings/camera_list.h"
#include "settings/capture_device_settings.h"
#include "settings/settings_store.h"
#include "capture/zrv_capture.h"
#include "framework/media_type.h"
#include "framework/memory_dib.h"
#include "tests/support/capture_graph.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/test_window_thread.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

constexpr DWORD kTimeoutMs = 10000;

HRESULT CreateCamera(CUnknown* object, HRESULT hr, IBaseFilter** filter) {
    if (object == nullptr) {
        return E_OUTOFMEMORY;
    }
    RETURN_IF_FAILED(hr);
    object->NonDelegatingAddRef();
    hr = object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(filter));
    object->NonDelegatingRelease();
    return hr;
}

// The colour at (x, y), y = 0 at the top, of a bottom-up RGB24 frame.
COLORREF PixelAt(const std::vector<BYTE>& frame, int width, int height, int x, int y) {
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    const BYTE* p = frame.data() + stride * static_cast<size_t>(height - 1 - y) + static_cast<size_t>(x) * 3;
    return RGB(p[2], p[1], p[0]);
}

SIZE FrameSizeOf(const AM_MEDIA_TYPE& mt) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    return {vih->bmiHeader.biWidth, vih->bmiHeader.biHeight};
}

bool IsNear(COLORREF a, COLORREF b) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= 8 && std::abs(GetGValue(a) - GetGValue(b)) <= 8 &&
           std::abs(GetBValue(a) - GetBValue(b)) <= 8;
}

}  // namespace

TEST(CamerasTest, TwoCamerasInOneProcessStreamTheirOwnSizesAndRatesFromOneWindow) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    // Camera 1 at 568x320 and 30 fps; camera 3 at 204x360 and 15 fps, both
    // following the default window.
    ASSERT_TRUE(CSettingsKey().WriteNumber(kSelectPixelValue, 3));
    const CSettingsKey third(SettingsPathOfCamera(3).text);
    ASSERT_TRUE(third.WriteNumber(kSelectPixelValue, 0));
    ASSERT_TRUE(third.WriteNumber(kFrameTimeValue, 666666));

    // The window lives on a thread that answers its messages, as an
    // application's does.
    TestWindowThread ui;
    ASSERT_TRUE(ui.ok());
    HWND window = nullptr;
    ASSERT_EQ(S_OK, ui.Create(L"Quillmere::MainFrame", L"Quillmere", 320, 180,
                              QuadrantPainter(320, 180, RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255),
                                              RGB(255, 255, 255)),
                              &window, 40, 40));
    ComPtr<IBaseFilter> first;
    ComPtr<IBaseFilter> other;
    HRESULT hr = S_OK;
    ASSERT_EQ(S_OK, CreateCamera(CZRV_Capture::CreateInstance(nullptr, &hr), hr, &first));
    hr = S_OK;
    ASSERT_EQ(S_OK, CreateCamera(CZRV_Capture::CreateCamera<3>(nullptr, &hr), hr, &other));
    CLSID clsid = GUID_NULL;
    ASSERT_EQ(S_OK, other->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualGUID(*CameraClassId(3), clsid));

    CaptureGraph a;
    CaptureGraph b;
    ASSERT_EQ(S_OK, a.Build(first.Get(), false));
    ASSERT_EQ(S_OK, b.Build(other.Get(), false));
    ASSERT_TRUE(SUCCEEDED(a.Run()));
    ASSERT_TRUE(SUCCEEDED(b.Run()));
    ASSERT_TRUE(a.recorder.WaitForSamples(6, kTimeoutMs));
    ASSERT_TRUE(b.recorder.WaitForSamples(4, kTimeoutMs));
    const std::vector<BYTE> frameA = a.recorder.latestFrame();
    const std::vector<BYTE> frameB = b.recorder.latestFrame();
    EXPECT_EQ(S_OK, a.Stop());
    EXPECT_EQ(S_OK, b.Stop());

    CMediaType typeA;
    CMediaType typeB;
    ASSERT_EQ(S_OK, a.ConnectedType(&typeA));
    ASSERT_EQ(S_OK, b.ConnectedType(&typeB));
    EXPECT_EQ(568, FrameSizeOf(typeA).cx);
    EXPECT_EQ(204, FrameSizeOf(typeB).cx);
    EXPECT_EQ(333333, reinterpret_cast<const VIDEOINFOHEADER*>(typeA.pbFormat)->AvgTimePerFrame);
    EXPECT_EQ(666666, reinterpret_cast<const VIDEOINFOHEADER*>(typeB.pbFormat)->AvgTimePerFrame);
    // Both show the window.
    ASSERT_EQ(568u * 320u * 3u, frameA.size());
    ASSERT_EQ(204u * 360u * 3u, frameB.size());
    EXPECT_TRUE(IsNear(RGB(255, 0, 0), PixelAt(frameA, 568, 320, 10, 10)));
    EXPECT_TRUE(IsNear(RGB(255, 255, 255), PixelAt(frameA, 568, 320, 557, 309)));
    EXPECT_TRUE(IsNear(RGB(255, 0, 0), PixelAt(frameB, 204, 360, 10, 10)));
    EXPECT_TRUE(IsNear(RGB(255, 255, 255), PixelAt(frameB, 204, 360, 193, 349)));
}

TEST(CamerasTest, ACamerasSettingsInterfaceWritesItsOwnKeyOnly) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    ComPtr<IBaseFilter> filter;
    HRESULT hr = S_OK;
    ASSERT_EQ(S_OK, CreateCamera(CZRV_Capture::CreateCamera<5>(nullptr, &hr), hr, &filter));
    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, filter.As(&settings));
    ASSERT_EQ(S_OK, settings->SetSelectPixel(9));
    ASSERT_EQ(S_OK, settings->SetFrameRate(60.0));
    char stored[kSettingsTextCapacity] = {};
    const CSettingsKey fifth(SettingsPathOfCamera(5).text);
    ASSERT_TRUE(fifth.Read(kSelectPixelValue, "", stored));
    EXPECT_STREQ("9", stored);
    ASSERT_TRUE(fifth.Read(kFrameTimeValue, "", stored));
    EXPECT_STREQ("166666", stored);
    ASSERT_TRUE(CSettingsKey().Read(kSelectPixelValue, "missing", stored));
    EXPECT_STREQ("missing", stored);
    EXPECT_EQ(E_INVALIDARG, [] {
        HRESULT result = S_OK;
        CUnknown* none = CZRV_Capture::CreateCameraInstance(9, nullptr, &result);
        return none == nullptr ? result : S_OK;
    }());
}

TEST(CamerasTest, TwoCamerasFollowingTwoWindowsEachShowTheirOwn) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    TestWindowThread ui;
    ASSERT_TRUE(ui.ok());
    HWND red = nullptr;
    HWND green = nullptr;
    ASSERT_EQ(S_OK, ui.Create(L"QMCamerasTest::Red", L"Red", 320, 180, SolidPainter(RGB(255, 0, 0)), &red, 40, 40));
    ASSERT_EQ(S_OK,
              ui.Create(L"QMCamerasTest::Green", L"Green", 320, 180, SolidPainter(RGB(0, 255, 0)), &green, 400, 40));
    ASSERT_TRUE(StoreWindowChoice(L"Red", L"QMCamerasTest::Red", L""));
    ASSERT_TRUE(StoreWindowChoice(L"Green", L"QMCamerasTest::Green", L"", SettingsPathOfCamera(4).text));

    ComPtr<IBaseFilter> first;
    ComPtr<IBaseFilter> fourth;
    HRESULT hr = S_OK;
    ASSERT_EQ(S_OK, CreateCamera(CZRV_Capture::CreateInstance(nullptr, &hr), hr, &first));
    hr = S_OK;
    ASSERT_EQ(S_OK, CreateCamera(CZRV_Capture::CreateCamera<4>(nullptr, &hr), hr, &fourth));
    CaptureGraph a;
    CaptureGraph b;
    ASSERT_EQ(S_OK, a.Build(first.Get(), false));
    ASSERT_EQ(S_OK, b.Build(fourth.Get(), false));
    ASSERT_TRUE(SUCCEEDED(a.Run()));
    ASSERT_TRUE(SUCCEEDED(b.Run()));
    ASSERT_TRUE(a.recorder.WaitForSamples(6, kTimeoutMs));
    ASSERT_TRUE(b.recorder.WaitForSamples(6, kTimeoutMs));
    const std::vector<BYTE> frameA = a.recorder.latestFrame();
    const std::vector<BYTE> frameB = b.recorder.latestFrame();
    EXPECT_EQ(S_OK, a.Stop());
    EXPECT_EQ(S_OK, b.Stop());
    // Both at the default size, 204x360.
    ASSERT_EQ(204u * 360u * 3u, frameA.size());
    ASSERT_EQ(204u * 360u * 3u, frameB.size());
    EXPECT_TRUE(IsNear(RGB(255, 0, 0), PixelAt(frameA, 204, 360, 100, 180)));
    EXPECT_TRUE(IsNear(RGB(0, 255, 0), PixelAt(frameB, 204, 360, 100, 180)));
}
