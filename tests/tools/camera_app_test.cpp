// qmcamera.exe run as a program, under Wine: Wine has no mfsensorgroup.dll
// and so no MFCreateVirtualCamera, which is the answer a system before
// Windows 11 gives too. What it does on Windows 11 cannot run here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/frame_ring.h"
#include "capture/frame_time.h"
#include "tests/support/registry_sandbox.h"
#include "tests/tools/client_process.h"
#include "tools/camera_app/camera_frame_writer.h"
#include "tools/camera_app/virtual_cameras.h"

using namespace qmtest;

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

TEST(CameraAppTest, HelpAndUsage) {
    ClientRun run;
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--help"}, 60000, &run));
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_NE(std::string::npos, run.out.find("Usage: qmcamera"));
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--frobnicate"}, 60000, &run));
    EXPECT_EQ(2u, run.exitCode);
}

TEST(CameraAppTest, TheFrameWriterServesTheReadersRequestAndStopsOnAsk) {
    // No window stored for the camera (an empty user registry): the writer
    // sends its standby frame, black with the camera's standby text, in
    // the format and size the reader asked for.
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    const std::wstring prefix = L"Local\\QMCameraAppTest." + std::to_wstring(::GetCurrentProcessId()) + L".";
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(2, prefix.c_str()));
    ASSERT_EQ(S_OK, reader.SetRequest({432, 768, frame_ring::FrameFormat::Rgb32, kDefaultFrameTime}));

    qmcamera::CCameraFrameWriter writer(2, prefix.c_str());
    ASSERT_EQ(S_OK, writer.Start());
    std::vector<BYTE> frame(432u * 768u * 4u);
    frame_ring::FrameInfo info = {};
    HRESULT copied = S_FALSE;
    for (int attempt = 0; attempt < 60 && copied != S_OK; ++attempt) {
        QM_IGNORE(reader.WaitForFrame(1000, nullptr), "the copy below tells");
        copied = reader.CopyLatest(frame.data(), frame.size(), 0, &info);
    }
    ASSERT_EQ(S_OK, copied);
    EXPECT_EQ(432, info.width);
    EXPECT_EQ(768, info.height);
    EXPECT_EQ(frame_ring::FrameFormat::Rgb32, info.format);
    EXPECT_EQ(432u * 4u, info.stride);
    // Black with opaque alpha in the top left corner.
    EXPECT_EQ(0, frame[0]);
    EXPECT_EQ(0, frame[1]);
    EXPECT_EQ(0, frame[2]);
    EXPECT_EQ(0xFF, frame[3]);
    EXPECT_TRUE(reader.IsWriterAlive());
    writer.Stop();
    EXPECT_GT(writer.Committed(), 0);
}
