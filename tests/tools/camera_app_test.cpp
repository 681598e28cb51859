// qmcamera.exe run as a program, under Wine: Wine has no mfsensorgroup.dll
// and so no MFCreateVirtualCamera, which is the answer a system before
// Windows 11 gives too. What it does on Windows 11 cannot run here.
#include <gtest/gtest.h>

#include <mfapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "ring/frame_ring.h"
#include "settings/camera_list.h"
#include "framework/com_util.h"
#include "mf/attribute_store_forwarder.h"
#include "mf/media_source_ids.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/test_window_thread.h"
#include "tests/tools/client_process.h"
#include "camera/camera_frame_writer.h"
#include "tools/camera_app/single_instance.h"
#include "tools/camera_app/tray_icon.h"
#include "tools/camera_app/virtual_cameras.h"

using namespace qmtest;

namespace {

// A virtual camera as MFCreateVirtualCamera makes one, in this process: an
// attribute store that notes what it held when it was started.
class FakeVirtualCamera final : public CAttributeStoreForwarder<IMFVirtualCamera> {
public:
    explicit FakeVirtualCamera(IMFAttributes* store) { m_store = store; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != __uuidof(IMFAttributes) && riid != __uuidof(IMFVirtualCamera)) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IMFVirtualCamera*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_references)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&m_references);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE Start(IMFAsyncCallback*) override {
        UINT32 length = 0;
        if (FAILED(m_store->GetString(kCameraOwnerAttribute, ownerAtStart, frame_ring::kMaxSidTextLength, &length))) {
            ownerAtStart[0] = L'\0';
        }
        started = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Remove() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Shutdown() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddProperty(const DEVPROPKEY*, DEVPROPTYPE, const BYTE*, ULONG) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddRegistryEntry(LPCWSTR, LPCWSTR, DWORD, const BYTE*, ULONG) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendCameraProperty(REFGUID, ULONG, ULONG, void*, ULONG, void*, ULONG, ULONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateSyncEvent(REFGUID, ULONG, ULONG, HANDLE, IMFCameraSyncObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateSyncSemaphore(REFGUID, ULONG, ULONG, HANDLE, LONG, IMFCameraSyncObject**) override {
        return E_NOTIMPL;
    }

    bool started = false;
    wchar_t ownerAtStart[frame_ring::kMaxSidTextLength] = {};

private:
    ~FakeVirtualCamera() = default;
    volatile LONG m_references = 1;
};

// The camera the fake MFCreateVirtualCamera made last (one reference).
Microsoft::WRL::ComPtr<FakeVirtualCamera> g_fakeCamera;

HRESULT STDAPICALLTYPE FakeCreateVirtualCamera(qm_mf::VirtualCameraType, qm_mf::VirtualCameraLifetime,
                                               qm_mf::VirtualCameraAccess, LPCWSTR, LPCWSTR, const GUID*, ULONG,
                                               IMFVirtualCamera** camera) {
    Microsoft::WRL::ComPtr<IMFAttributes> store;
    RETURN_IF_FAILED(::MFCreateAttributes(&store, 1));
    // Not Attach: mingw-w64's ComPtr::Attach takes a reference of its own.
    *g_fakeCamera.ReleaseAndGetAddressOf() = new FakeVirtualCamera(store.Get());
    *camera = g_fakeCamera.Get();
    (*camera)->AddRef();
    return S_OK;
}

}  // namespace

TEST(CameraAppTest, EachVirtualCameraNamesItsOwnerBeforeItStarts_VirtualCameraFaked) {
    // The media source runs in the Frame Server, not as the user: what the
    // camera carries is how it learns whose frame ring to read.
    ASSERT_EQ(S_OK, ::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET));
    frame_ring::OwnerSid owner = {};
    ASSERT_EQ(S_OK, frame_ring::ParseOwnerSid(L"S-1-5-21-1004336348-1177238915-682003330-1004", &owner));
    {
        qmcamera::CVirtualCameras cameras(&FakeCreateVirtualCamera, owner);
        ASSERT_EQ(S_OK, cameras.Add(2, L"Slides"));
        ASSERT_TRUE(g_fakeCamera);
        EXPECT_TRUE(g_fakeCamera->started);
        EXPECT_STREQ(owner.text, g_fakeCamera->ownerAtStart);
    }
    g_fakeCamera.Reset();
    EXPECT_EQ(S_OK, ::MFShutdown());
}

TEST(CameraAppTest, WithoutVirtualCamerasItSaysSoInOneLineAndExitsWithItsCode) {
    ASSERT_EQ(nullptr, qmcamera::LoadCreateVirtualCamera()) << "this system has virtual cameras";
    ClientRun run;
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {}, 60000, &run));
    EXPECT_EQ(static_cast<DWORD>(qmcamera::kExitNoVirtualCameras), run.exitCode);
    std::string line = run.err;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    EXPECT_EQ(qmcamera::kNoVirtualCamerasLine, line);
    EXPECT_EQ("", run.out);
}

namespace {

// What a run wrote to standard error, without the line's end.
std::string ErrorLine(const ClientRun& run) {
    std::string line = run.err;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

}  // namespace

TEST(CameraAppTest, ASecondStartOfTheSameUserSaysOneRunsAndExitsWithItsCodeAndAStartAfterItRuns) {
    // This process holds the user's claim as a running qmcamera holds it
    // (qmcamera itself ends at once here: Wine has no virtual cameras).
    frame_ring::OwnerSid user = {};
    ASSERT_EQ(S_OK, frame_ring::ProcessUserSid(&user));
    ClientRun run;
    {
        qmcamera::CSingleInstance running;
        ASSERT_EQ(S_OK, running.Claim(frame_ring::kGlobalPrefix, user));
        ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {}, 60000, &run));
        EXPECT_EQ(static_cast<DWORD>(qmcamera::kExitAlreadyRunning), run.exitCode);
        EXPECT_EQ(qmcamera::kAlreadyRunningLine, ErrorLine(run));
        EXPECT_EQ("", run.out);
        // What only prints and exits is not held up by the running one.
        ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--help"}, 60000, &run));
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_NE(std::string::npos, run.out.find("Usage: qmcamera"));
    }
    // Once it has ended, a start goes on: here to the virtual cameras that
    // Wine lacks.
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {}, 60000, &run));
    EXPECT_EQ(static_cast<DWORD>(qmcamera::kExitNoVirtualCameras), run.exitCode);
    // And the claim is free again.
    qmcamera::CSingleInstance next;
    EXPECT_EQ(S_OK, next.Claim(frame_ring::kGlobalPrefix, user));
}

TEST(CameraAppTest, TheClaimIsHeldOncePerUserAndNeverTakenFromAnObjectOfAnotherAccount) {
    const std::wstring prefix = L"Local\\QMCameraAppTest.I." + std::to_wstring(::GetCurrentProcessId()) + L".";
    frame_ring::OwnerSid user = {};
    ASSERT_EQ(S_OK, frame_ring::ProcessUserSid(&user));
    {
        qmcamera::CSingleInstance first;
        ASSERT_EQ(S_OK, first.Claim(prefix.c_str(), user));
        EXPECT_EQ(E_UNEXPECTED, first.Claim(prefix.c_str(), user));
        qmcamera::CSingleInstance second;
        EXPECT_EQ(S_FALSE, second.Claim(prefix.c_str(), user));
        EXPECT_FALSE(second.Holds());
        // Another user's claim is another name.
        frame_ring::OwnerSid other = {};
        ASSERT_EQ(S_OK, frame_ring::ParseOwnerSid(L"S-1-5-21-1004336348-1177238915-682003330-1001", &other));
        EXPECT_NE(qmcamera::CSingleInstance::ObjectName(prefix.c_str(), user),
                  qmcamera::CSingleInstance::ObjectName(prefix.c_str(), other));
    }
    qmcamera::CSingleInstance after;
    EXPECT_EQ(S_OK, after.Claim(prefix.c_str(), user)) << "the first one's end frees the claim";

    // Objects of the name that this user did not make as qmcamera does.
    struct Squatter {
        const char* what;
        const wchar_t* sddl;  // a mutex with this descriptor; null: an event
        HRESULT expected;
    };
    const Squatter squatters[] = {
        {"a mutex that only SYSTEM may open", L"D:P(A;;GA;;;SY)", E_ACCESSDENIED},
        {"a mutex that everyone may open, owned by SYSTEM", L"O:SYD:P(A;;GA;;;WD)", E_ACCESSDENIED},
        {"an event", nullptr, HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)},
    };
    for (const Squatter& squatter : squatters) {
        const std::wstring squatPrefix = prefix + L"Squat." + std::to_wstring(&squatter - squatters) + L".";
        const std::wstring name = qmcamera::CSingleInstance::ObjectName(squatPrefix.c_str(), user);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (squatter.sddl != nullptr) {
            ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(squatter.sddl, SDDL_REVISION_1,
                                                                              &descriptor, nullptr));
        }
        const UniqueResource<frame_ring::LocalMemoryTraits> descriptorOwner(descriptor);
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
        const UniqueHandle object(squatter.sddl != nullptr
                                      ? ::CreateMutexW(&attributes, FALSE, name.c_str())
                                      : ::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        ASSERT_TRUE(object) << squatter.what << ": " << ::GetLastError();
        qmcamera::CSingleInstance claim;
        EXPECT_EQ(squatter.expected, claim.Claim(squatPrefix.c_str(), user)) << squatter.what;
        EXPECT_FALSE(claim.Holds()) << squatter.what;
    }
}

TEST(CameraAppTest, HelpAndUsage) {
    ClientRun run;
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--help"}, 60000, &run));
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_NE(std::string::npos, run.out.find("Usage: qmcamera"));
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--frobnicate"}, 60000, &run));
    EXPECT_EQ(2u, run.exitCode);
}

TEST(CameraAppTest, TheWholeChainShowsTheWindowToAMediaFoundationClientOfAnotherProcess) {
    // This process is qmcamera's side: camera 1's settings name a window of
    // four colours, and its frame writer serves the ring under Global\.
    // qmmfclient, another process, creates camera 1's media source through
    // its registered class and reads 60 NV12 frames at 1280x720 through a
    // source reader.
    ScopedDeviceRegistration registration;
    ASSERT_TRUE(SUCCEEDED(registration.Register()));
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    const wchar_t title[] = L"QM camera chain test window";
    const wchar_t windowClass[] = L"QMCameraChainTestWindow";
    const std::string settingsPath = SettingsPathOfCamera(1).text;
    const std::wstring keyPath(settingsPath.begin(), settingsPath.end());
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CURRENT_USER, keyPath.c_str(), L"WindowName", REG_SZ, title,
                                               static_cast<DWORD>(sizeof(title))));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CURRENT_USER, keyPath.c_str(), L"WindowClass", REG_SZ,
                                               windowClass, static_cast<DWORD>(sizeof(windowClass))));
    TestWindowThread windows;
    ASSERT_TRUE(windows.ok());
    HWND window = nullptr;
    ASSERT_EQ(S_OK, windows.Create(windowClass, title, 640, 360,
                                   QuadrantPainter(640, 360, RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255),
                                                   RGB(255, 255, 255)),
                                   &window, 40, 40));
    qmcamera::CCameraFrameWriter writer(1, frame_ring::kGlobalPrefix);
    ASSERT_EQ(S_OK, writer.Start());

    ClientRun run;
    ASSERT_EQ(S_OK, RunToolProcess(L"qmmfclient.exe", {L"--camera", L"1", L"--frames", L"60", L"--size", L"1280x720",
                                                       L"--format", L"nv12"},
                                   120000, &run));
    writer.Stop();
    std::printf("[          ] qmmfclient printed:\n%s", run.out.c_str());
    EXPECT_EQ(0u, run.exitCode) << run.out << run.err;
    EXPECT_NE(std::string::npos, run.out.find("format: NV12 1280x720")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("frames: 60")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("times rising: yes")) << run.out;
    // The luma of red, green, blue and white in BT.601 limited range.
    double quarters[4] = {};
    const size_t at = run.out.find("bottom right): ");
    ASSERT_NE(std::string::npos, at) << run.out;
    ASSERT_EQ(4, std::sscanf(run.out.c_str() + at + 15, "%lf %lf %lf %lf", &quarters[0], &quarters[1],
                             &quarters[2], &quarters[3]))
        << run.out;
    const double expected[4] = {82, 145, 41, 235};
    for (int q = 0; q < 4; ++q) {
        EXPECT_NEAR(expected[q], quarters[q], 3.0) << "quarter " << q << ": " << run.out;
    }
    EXPECT_GT(writer.Committed(), 0);
}

TEST(CameraAppTest, TheIconsQuitCommandEndsTheProgramsWait) {
    // What the icon's menu does, sent as the menu sends it; whether the
    // shell shows the icon at all depends on a notification area, which
    // Xvfb has not.
    UniqueHandle quit(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(quit);
    qmcamera::CTrayIcon icon;
    ASSERT_TRUE(icon.Create(quit.get()));
    ASSERT_NE(nullptr, icon.hwnd());
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(quit.get(), 0));
    ASSERT_TRUE(::PostMessageW(icon.hwnd(), WM_COMMAND, qmcamera::CTrayIcon::kCommandQuit, 0));
    // Returns once the posted command has set the event.
    icon.RunUntil(quit.get());
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(quit.get(), 0));
}
