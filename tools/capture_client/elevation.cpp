#include "tools/capture_client/elevation.h"

#include <windows.h>
#include <shellapi.h>

#include "framework/com_util.h"
#include "tools/capture_client/capture_client.h"

namespace qmcapture {

namespace {

class SystemElevationImpl final : public Elevation {
public:
    bool IsProcessElevated() const override {
        UniqueHandle token;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
            // Unknown counts as elevated: a process that cannot tell must
            // not start copies of itself that might not tell either.
            return true;
        }
        TOKEN_ELEVATION elevation{};
        DWORD bytes = 0;
        if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &bytes)) {
            return true;
        }
        return elevation.TokenIsElevated != 0;
    }

    int RunElevated(const std::wstring& parameters, std::wstring* failure) const override {
        // qmcapture.exe beside the running program (which may be qmsettings).
        wchar_t running[MAX_PATH * 2] = {};
        const DWORD length = ::GetModuleFileNameW(nullptr, running, MAX_PATH * 2);
        std::wstring program(running, length < MAX_PATH * 2 ? length : 0);
        const size_t slash = program.find_last_of(L"\\/");
        if (length == 0 || slash == std::wstring::npos) {
            *failure = L"administrator rights are needed to change the camera list";
            return kExitFailure;
        }
        program = program.substr(0, slash + 1) + L"qmcapture.exe";
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
        info.lpVerb = L"runas";
        info.lpFile = program.c_str();
        info.lpParameters = parameters.c_str();
        info.nShow = SW_HIDE;
        if (!::ShellExecuteExW(&info) || info.hProcess == nullptr) {
            *failure = ::GetLastError() == ERROR_CANCELLED
                           ? L"administrator rights were refused; the camera list is unchanged"
                           : L"administrator rights are needed to change the camera list, and could not be had";
            return kExitFailure;
        }
        const UniqueHandle process(info.hProcess);
        ::WaitForSingleObject(process.get(), INFINITE);
        DWORD status = kExitFailure;
        if (!::GetExitCodeProcess(process.get(), &status)) {
            status = kExitFailure;
        }
        return static_cast<int>(status);
    }
};

}  // namespace

const Elevation& SystemElevation() {
    static const SystemElevationImpl elevation;
    return elevation;
}

}  // namespace qmcapture
