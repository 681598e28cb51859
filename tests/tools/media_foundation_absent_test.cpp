// The module where Media Foundation is missing (Windows N and KN editions
// without the Media Feature Pack, stripped-down images). Wine takes a DLL
// away from one program with a DLL override (WINEDLLOVERRIDES=mfplat=d, or
// the same per program in its registry); the programs here run with
// mfplat.dll taken away and reach the module through its registration,
// as any application does.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/tools/client_process.h"

using namespace qmtest;

namespace {

// Wine's load order of one program (its key DllOverrides under
// HKCU\Software\Wine\AppDefaults): mfplat disabled while the object
// lives, as WINEDLLOVERRIDES=mfplat=d does for a program started from a shell. (A
// WINEDLLOVERRIDES set here would not reach the child: Wine takes it
// from the Unix environment the child inherits, not from the Windows
// one.) The key is this test's own: nothing else configures these
// programs.
class MediaFoundationTakenAway {
public:
    explicit MediaFoundationTakenAway(const wchar_t* program)
        : m_key(std::wstring(L"Software\\Wine\\AppDefaults\\") + program) {
        const std::wstring overrides = m_key + L"\\DllOverrides";
        const wchar_t disabled[] = L"disabled";
        m_set = ::RegSetKeyValueW(HKEY_CURRENT_USER, overrides.c_str(), L"mfplat", REG_SZ, disabled,
                                  sizeof(disabled)) == ERROR_SUCCESS;
    }
    ~MediaFoundationTakenAway() { ::RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()); }
    MediaFoundationTakenAway(const MediaFoundationTakenAway&) = delete;
    MediaFoundationTakenAway& operator=(const MediaFoundationTakenAway&) = delete;
    bool ok() const { return m_set; }

private:
    std::wstring m_key;
    bool m_set = false;
};

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(MediaFoundationAbsentTest, TheDirectShowCameraStreamsAndTheMediaSourceSaysMediaFoundationIsMissing) {
    ScopedDeviceRegistration registration;
    const HRESULT registered = registration.Register();
    ASSERT_TRUE(SUCCEEDED(registered)) << std::hex << registered;
    MediaFoundationTakenAway fromProbe(L"mf_absent_probe.exe");
    MediaFoundationTakenAway fromClient(L"qmcapture.exe");
    ASSERT_TRUE(fromProbe.ok() && fromClient.ok());

    ClientRun probe;
    ASSERT_EQ(S_OK, RunToolProcess(L"mf_absent_probe.exe", {}, 60000, &probe));
    EXPECT_EQ(0u, probe.exitCode) << probe.out << probe.err;
    ASSERT_TRUE(Contains(probe.out, "mfplat: missing")) << "the override did not take mfplat away:\n" << probe.out;
    // The module loads: its DirectShow camera is made, and the media
    // source says what it lacks.
    EXPECT_TRUE(Contains(probe.out, "directshow camera: 0x00000000")) << probe.out;
    EXPECT_TRUE(Contains(probe.out, "media source: 0x8007007E")) << probe.out;

    ClientRun capture;
    ASSERT_EQ(S_OK, RunCaptureClientProcess({L"--size", L"204x360", L"--frames", L"3", L"--save", L"none"}, 120000,
                                            &capture));
    EXPECT_EQ(0u, capture.exitCode) << capture.out << capture.err;
    EXPECT_TRUE(Contains(capture.out, "captured: 3 frames")) << capture.out << capture.err;
}
