// qmcamera: keeps a Media Foundation virtual camera (Windows 11) for each
// camera of the machine's list, and feeds each one's frame ring with the
// picture of the window its settings name, while a media source of the
// camera reads. The cameras live as long as this program runs: its icon in
// the notification area opens the settings or quits; Ctrl+C or closing the
// console ends it too. It runs once per user (tools/camera_app/
// single_instance.h): a second start, in any of the user's sessions, ends.
//
//   qmcamera              runs the cameras, its console window open
//   qmcamera --tray       the same with the icon alone: it lets go of its
//                         console (the closing of which no longer ends it);
//                         the logon entry starts it so
//   qmcamera --autostart on|off
//                         adds or removes the user's logon entry that
//                         starts "qmcamera --tray" (tools/camera_app/
//                         logon_entry.h), and ends; no camera is made
//
// Exit codes:
//   0  ended by the user
//   2  usage
//   3  no Media Foundation virtual cameras on this system (before Windows
//      11 build 22000, or Wine): one line says so
//   4  no camera could be created (each failure is printed), or qmcamera
//      cannot start at all
//   5  qmcamera already runs for this user: one line says so
//   6  --autostart: the logon entry could not be changed (the error is
//      printed)
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
#include "tools/camera_app/logon_entry.h"
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
        "Usage: qmcamera [--tray]\n"
        "       qmcamera --autostart on|off\n"
        "Keeps a Windows 11 virtual camera for each camera of QM Capture Device and shows each camera's\n"
        "window in it, until Ctrl+C or Quit in its icon's menu in the notification area. With --tray it\n"
        "shows the icon alone, without its console window. It runs once per user: a second start, in any\n"
        "session of the user, says that qmcamera is already running and ends.\n"
        "--autostart on makes Windows start \"qmcamera --tray\" when you log on (the value \"%ls\" of\n"
        "HKEY_CURRENT_USER\\%ls); --autostart off removes that. Neither starts or ends the cameras.\n"
        "Exit codes: 0 ended (or the logon entry changed), 2 usage, %d no virtual cameras on this system,\n"
        "%d no camera could be created, %d qmcamera is already running, %d the logon entry could not be\n"
        "changed.\n",
        qmcamera::CLogonEntry::kValueName, qmcamera::CLogonEntry::kRunKeyPath, qmcamera::kExitNoVirtualCameras,
        kExitNoCamera, qmcamera::kExitAlreadyRunning, qmcamera::kExitLogonEntryFailed);
}

// `--autostart on|off`: changes the user's logon entry and says what it
// did.
int ChangeLogonEntry(bool on) {
    if (!on) {
        const HRESULT removed = qmcamera::CLogonEntry::Remove();
        if (FAILED(removed)) {
            std::fprintf(stderr, "qmcamera: cannot remove the logon entry \"%ls\": 0x%08lX\n",
                         qmcamera::CLogonEntry::kValueName, static_cast<unsigned long>(removed));
            return qmcamera::kExitLogonEntryFailed;
        }
        std::printf(removed == S_OK ? "qmcamera: removed the logon entry; qmcamera no longer starts when you log on\n"
                                    : "qmcamera: there was no logon entry; qmcamera does not start when you log on\n");
        return 0;
    }
    const qmcamera::CLogonEntry entry(qmcamera::CLogonEntry::RunningProgram());
    const HRESULT added = entry.Add();
    if (FAILED(added)) {
        std::fprintf(stderr, "qmcamera: cannot write the logon entry \"%ls\" for %ls: 0x%08lX\n",
                     qmcamera::CLogonEntry::kValueName, entry.Program().c_str(), static_cast<unsigned long>(added));
        return qmcamera::kExitLogonEntryFailed;
    }
    std::printf("qmcamera: qmcamera starts when you log on: %ls\n",
                qmcamera::CLogonEntry::CommandLine(entry.Program()).c_str());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool tray = false;
    if (argc > 1) {
        if (std::wcscmp(argv[1], L"--autostart") == 0) {
            const bool on = argc == 3 && std::wcscmp(argv[2], L"on") == 0;
            const bool off = argc == 3 && std::wcscmp(argv[2], L"off") == 0;
            if (!on && !off) {
                if (argc == 3) {
                    std::fprintf(stderr, "qmcamera: --autostart takes on or off, not \"%ls\"\n", argv[2]);
                } else {
                    std::fprintf(stderr, "qmcamera: --autostart takes one argument, on or off\n");
                }
                return kExitUsage;
            }
            return ChangeLogonEntry(on);
        }
        tray = argc == 2 && std::wcscmp(argv[1], qmcamera::kTrayOption) == 0;
        if (!tray) {
            const bool help = std::wcscmp(argv[1], L"--help") == 0 || std::wcscmp(argv[1], L"/?") == 0;
            PrintUsage();
            return help && argc == 2 ? 0 : kExitUsage;
        }
    }
    if (tray) {
        // Started at logon: the console window Windows opened for it
        // closes (when no other program shares it), and the icon is all
        // that shows. What is printed from now on goes to the standard
        // handles it was given, if any.
        ::FreeConsole();
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
