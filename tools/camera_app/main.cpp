// qmcamera: keeps a Media Foundation virtual camera (Windows 11) for each
// camera of the machine's list, and feeds each one's frame ring with the
// picture of the window its settings name, while a media source of the
// camera reads. The cameras live as long as this program runs: its icon in
// the notification area opens the settings or quits; Ctrl+C or closing the
// console ends it too. It runs once per user (tools/camera_app/
// single_instance.h): a second start, in any of the user's sessions, ends.
//
// Exit codes:
//   0  ended by the user
//   2  usage
//   3  no Media Foundation virtual cameras on this system (before Windows
//      11 build 22000, or Wine): one line says so
//   4  no camera could be created (each failure is printed), or qmcamera
//      cannot start at all
//   5  qmcamera already runs for this user: one line says so
#include <windows.h>
#include <mfapi.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <vector>

#include "settings/camera_list.h"
#include "ring/frame_ring.h"
#include "framework/com_util.h"
#include "camera/camera_frame_writer.h"
#include "tools/camera_app/single_instance.h"
#include "tools/camera_app/tray_icon.h"
#include "tools/camera_app/virtual_cameras.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitNoCamera = 4;

HANDLE g_quit = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    ::SetEvent(g_quit);
    return TRUE;
}

void PrintUsage() {
    std::printf(
        "Usage: qmcamera\n"
        "Keeps a Windows 11 virtual camera for each camera of QM Capture Device and shows each camera's\n"
        "window in it, until Ctrl+C. It runs once per user: a second start, in any session of the user,\n"
        "says that qmcamera is already running and ends. Exit codes: 0 ended, 2 usage, %d no virtual\n"
        "cameras on this system, %d no camera could be created, %d qmcamera is already running.\n",
        qmcamera::kExitNoVirtualCameras, kExitNoCamera, qmcamera::kExitAlreadyRunning);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) {
        const bool help = std::wcscmp(argv[1], L"--help") == 0 || std::wcscmp(argv[1], L"/?") == 0;
        PrintUsage();
        return help && argc == 2 ? 0 : kExitUsage;
    }
    // The cameras are this user's: only this user's frame rings feed them,
    // and only one qmcamera of the user does.
    frame_ring::OwnerSid owner = {};
    const HRESULT identified = frame_ring::ProcessUserSid(&owner);
    if (FAILED(identified)) {
        std::fprintf(stderr, "qmcamera: cannot tell which user runs it: 0x%08lX\n",
                     static_cast<unsigned long>(identified));
        return kExitNoCamera;
    }
    // Held until the process ends, whichever way it returns.
    qmcamera::CSingleInstance instance;
    const HRESULT claimed = instance.Claim(frame_ring::kGlobalPrefix, owner);
    if (claimed == S_FALSE) {
        std::fprintf(stderr, "%s\n", qmcamera::kAlreadyRunningLine);
        return qmcamera::kExitAlreadyRunning;
    }
    if (FAILED(claimed)) {
        std::fprintf(stderr, "qmcamera: cannot tell whether qmcamera already runs for this user (%ls): 0x%08lX\n",
                     qmcamera::CSingleInstance::ObjectName(frame_ring::kGlobalPrefix, owner).c_str(),
                     static_cast<unsigned long>(claimed));
        return kExitNoCamera;
    }
    const qm_mf::CreateVirtualCameraFn create = qmcamera::LoadCreateVirtualCamera();
    if (create == nullptr) {
        std::fprintf(stderr, "%s\n", qmcamera::kNoVirtualCamerasLine);
        return qmcamera::kExitNoVirtualCameras;
    }

    UniqueHandle quit(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!quit || FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::fprintf(stderr, "qmcamera: cannot start (no event or no COM)\n");
        return kExitNoCamera;
    }
    if (FAILED(::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET))) {
        std::fprintf(stderr, "qmcamera: Media Foundation cannot start\n");
        ::CoUninitialize();
        return kExitNoCamera;
    }
    g_quit = quit.get();
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);

    int made = 0;
    {
        qmcamera::CVirtualCameras cameras(create, owner);
        std::vector<std::unique_ptr<qmcamera::CCameraFrameWriter>> writers;
        for (int camera = kFirstCamera; camera <= kMaxCameras; ++camera) {
            wchar_t name[kCameraNameCapacity] = {};
            if (CCameraList::GetName(camera, name, kCameraNameCapacity) != S_OK) {
                continue;
            }
            const HRESULT added = cameras.Add(camera, name);
            if (FAILED(added)) {
                std::fprintf(stderr, "qmcamera: camera %d (%ls): MFCreateVirtualCamera or Start failed: 0x%08lX\n",
                             camera, name, static_cast<unsigned long>(added));
                continue;
            }
            std::unique_ptr<qmcamera::CCameraFrameWriter> writer(new (std::nothrow)
                                                           qmcamera::CCameraFrameWriter(camera, frame_ring::kGlobalPrefix));
            if (!writer || FAILED(writer->Start())) {
                std::fprintf(stderr, "qmcamera: camera %d: the frame writer cannot start\n", camera);
                continue;
            }
            writers.push_back(std::move(writer));
            std::printf("qmcamera: camera %d \"%ls\" is running\n", camera, name);
            ++made;
        }
        std::fflush(stdout);
        if (made > 0) {
            std::printf("qmcamera: quit from its icon in the notification area, or press Ctrl+C, to remove the "
                        "cameras and end\n");
            std::fflush(stdout);
            qmcamera::CTrayIcon icon;
            if (icon.Create(quit.get())) {
                icon.RunUntil(quit.get());
            } else {
                ::WaitForSingleObject(quit.get(), INFINITE);
            }
        }
        for (auto& writer : writers) {
            writer->Stop();
        }
        cameras.RemoveAll();
    }
    ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
    QM_IGNORE(::MFShutdown(), "the process ends");
    ::CoUninitialize();
    return made > 0 ? 0 : kExitNoCamera;
}
