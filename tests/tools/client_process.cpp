#include "tests/tools/client_process.h"

#include <thread>

#include "framework/com_util.h"
#include "tools/capture_client/camera_commands.h"
#include "tools/capture_client/capture_options.h"
#include "tools/capture_client/video_device.h"

using namespace qmcapture;

namespace qmtest {

namespace {

constexpr wchar_t kClientProgram[] = L"qmcapture.exe";
constexpr wchar_t kDeviceModule[] = L"QMCaptureDevice.ax";
constexpr wchar_t kDemoProgram[] = L"quillmere_demo.exe";
// The demo window closes by itself after this long, should the test
// program die before it can end the window.
constexpr wchar_t kDemoLifetimeSeconds[] = L"300";
constexpr DWORD kReadyPollMs = 50;

// Quotes one argument the way CommandLineToArgvW splits it again.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

void ReadAll(HANDLE pipe, std::string* text) {
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        text->append(buffer, read);
    }
}

HRESULT MakePipe(UniqueHandle* readEnd, UniqueHandle* writeEnd) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) {
        return HResultFromWin32(::GetLastError());
    }
    readEnd->reset(read);
    writeEnd->reset(write);
    // Only the child's end is inherited.
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    return S_OK;
}

bool DeviceIsListed() {
    std::vector<VideoDeviceInfo> devices;
    if (FAILED(ListVideoInputDevices(&devices))) {
        return false;
    }
    for (const VideoDeviceInfo& device : devices) {
        if (device.friendlyName == kDefaultDeviceName) {
            return true;
        }
    }
    return false;
}

using ServerFunction = HRESULT(STDAPICALLTYPE*)();

// DllRegisterServer and DllUnregisterServer of a loaded module.
ServerFunction FindServerFunction(HMODULE module, const char* name) {
    // Through void*: GetProcAddress's FARPROC has a different signature.
    return reinterpret_cast<ServerFunction>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

std::wstring TestProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    const size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

std::wstring ScratchPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"qmcapture-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + name;
}

HRESULT RunCaptureClientProcess(const std::vector<std::wstring>& args, DWORD timeoutMs, ClientRun* run) {
    return RunToolProcess(kClientProgram, args, timeoutMs, run);
}

HRESULT RunToolProcess(const wchar_t* programName, const std::vector<std::wstring>& args, DWORD timeoutMs,
                       ClientRun* run) {
    RETURN_HR_IF_NULL(E_POINTER, programName);
    RETURN_HR_IF_NULL(E_POINTER, run);
    *run = ClientRun();
    const std::wstring program = TestProgramFolder() + programName;
    std::wstring commandLine = QuoteArgument(program);
    for (const std::wstring& arg : args) {
        commandLine += L" " + QuoteArgument(arg);
    }

    UniqueHandle outRead, outWrite, errRead, errWrite;
    RETURN_IF_FAILED(MakePipe(&outRead, &outWrite));
    RETURN_IF_FAILED(MakePipe(&errRead, &errWrite));
    UniqueHandle nullInput(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (nullInput.get() == INVALID_HANDLE_VALUE) {
        nullInput.release();
    } else {
        ::SetHandleInformation(nullInput.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullInput.get();
    startup.hStdOutput = outWrite.get();
    startup.hStdError = errWrite.get();
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &process)) {
        return HResultFromWin32(::GetLastError());
    }
    const UniqueHandle processHandle(process.hProcess);
    const UniqueHandle threadHandle(process.hThread);
    // The parent's copies of the write ends must go, or the reads below
    // would never see the end of the output.
    outWrite.reset();
    errWrite.reset();

    std::string out;
    std::string err;
    std::thread outReader(ReadAll, outRead.get(), &out);
    std::thread errReader(ReadAll, errRead.get(), &err);
    const DWORD waited = ::WaitForSingleObject(processHandle.get(), timeoutMs);
    if (waited != WAIT_OBJECT_0) {
        ::TerminateProcess(processHandle.get(), 0xFFFFFFFF);
        ::WaitForSingleObject(processHandle.get(), INFINITE);
    }
    outReader.join();
    errReader.join();
    RETURN_HR_IF(HRESULT_FROM_WIN32(WAIT_TIMEOUT), waited != WAIT_OBJECT_0);

    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(processHandle.get(), &exitCode)) {
        return HResultFromWin32(::GetLastError());
    }
    run->exitCode = exitCode;
    run->out = std::move(out);
    run->err = std::move(err);
    return S_OK;
}

HRESULT ReadSummaryFile(const std::wstring& path, std::map<std::string, std::string>* values) {
    RETURN_HR_IF_NULL(E_POINTER, values);
    values->clear();
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        return HResultFromWin32(::GetLastError());
    }
    std::string text;
    ReadAll(file.get(), &text);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            (*values)[line.substr(0, equals)] = line.substr(equals + 1);
        }
        start = end + 1;
    }
    return S_OK;
}

HRESULT ScopedDeviceRegistration::Register() {
    if (DeviceIsListed()) {
        return S_FALSE;
    }
    const std::wstring path = TestProgramFolder() + kDeviceModule;
    m_module = ::LoadLibraryW(path.c_str());
    if (m_module == nullptr) {
        return HResultFromWin32(::GetLastError());
    }
    const auto registerServer = FindServerFunction(m_module, "DllRegisterServer");
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), registerServer == nullptr);
    RETURN_IF_FAILED(registerServer());
    m_registeredHere = true;
    return S_OK;
}

ScopedDeviceRegistration::~ScopedDeviceRegistration() {
    if (m_module == nullptr) {
        return;
    }
    if (m_registeredHere) {
        const auto unregisterServer = FindServerFunction(m_module, "DllUnregisterServer");
        if (unregisterServer != nullptr) {
            unregisterServer();
        }
    }
    ::FreeLibrary(m_module);
}

HRESULT ScopedDeviceUnregistration::Unregister() {
    RETURN_HR_IF(E_UNEXPECTED, m_module != nullptr);
    if (RegisteredModule(sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY).empty()) {
        return S_FALSE;
    }
    const std::wstring path = TestProgramFolder() + kDeviceModule;
    m_module = ::LoadLibraryW(path.c_str());
    if (m_module == nullptr) {
        return HResultFromWin32(::GetLastError());
    }
    const auto unregisterServer = FindServerFunction(m_module, "DllUnregisterServer");
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), unregisterServer == nullptr);
    RETURN_IF_FAILED(unregisterServer());
    m_unregisteredHere = true;
    return S_OK;
}

ScopedDeviceUnregistration::~ScopedDeviceUnregistration() {
    if (m_module == nullptr) {
        return;
    }
    if (m_unregisteredHere) {
        const auto registerServer = FindServerFunction(m_module, "DllRegisterServer");
        if (registerServer != nullptr) {
            registerServer();
        }
    }
    ::FreeLibrary(m_module);
}

namespace {

constexpr wchar_t kUserSettingsKey[] = L"Software\\QMCapture";
constexpr const wchar_t* kSavedNames[] = {L"WindowName",    L"WindowClass",   L"WindowProgram", L"ScaleMode",
                                          L"Mirror",        L"OutputFormat",  L"StandbyImage",  L"SourceKind",
                                          L"SourceMonitor", L"SourceRegion",  L"CropRect",      L"ShowCursor",
                                          L"CaptureMethod"};

}  // namespace

SavedUserSettings::SavedUserSettings() {
    UniqueRegKey key;
    const bool opened = ::RegOpenKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    for (const wchar_t* name : kSavedNames) {
        Saved saved;
        saved.name = name;
        DWORD size = 0;
        if (opened && ::RegQueryValueExW(key.get(), name, nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
            saved.data.resize(size);
            saved.present = ::RegQueryValueExW(key.get(), name, nullptr, &saved.type,
                                               saved.data.empty() ? nullptr : saved.data.data(), &size) ==
                            ERROR_SUCCESS;
            saved.data.resize(size);
        }
        m_saved.push_back(std::move(saved));
    }
}

SavedUserSettings::~SavedUserSettings() {
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS) {
        return;
    }
    for (const Saved& saved : m_saved) {
        if (saved.present) {
            ::RegSetValueExW(key.get(), saved.name, 0, saved.type, saved.data.empty() ? nullptr : saved.data.data(),
                             static_cast<DWORD>(saved.data.size()));
        } else {
            ::RegDeleteValueW(key.get(), saved.name);
        }
    }
}

HRESULT ScopedDemoWindow::Start(const std::wstring& title, const std::wstring& windowClass, DWORD timeoutMs) {
    RETURN_HR_IF(E_UNEXPECTED, static_cast<bool>(m_process));
    m_readyFile = ScratchPath(L"demo-window.ready");
    ::DeleteFileW(m_readyFile.c_str());
    const std::wstring program = TestProgramFolder() + kDemoProgram;
    std::wstring commandLine = QuoteArgument(program);
    for (const std::wstring& arg : {std::wstring(L"--title"), title, std::wstring(L"--class"), windowClass,
                                    std::wstring(L"--seconds"), std::wstring(kDemoLifetimeSeconds),
                                    std::wstring(L"--ready-file"), m_readyFile}) {
        commandLine += L" " + QuoteArgument(arg);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return HResultFromWin32(::GetLastError());
    }
    const UniqueHandle thread(process.hThread);
    m_process.reset(process.hProcess);

    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (::GetFileAttributesW(m_readyFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // The program ended without painting: it could not show its window.
        RETURN_HR_IF(E_FAIL, ::WaitForSingleObject(m_process.get(), kReadyPollMs) == WAIT_OBJECT_0);
        RETURN_HR_IF(HRESULT_FROM_WIN32(WAIT_TIMEOUT), ::GetTickCount64() > deadline);
    }
    return S_OK;
}

ScopedDemoWindow::~ScopedDemoWindow() {
    if (m_process) {
        ::TerminateProcess(m_process.get(), 0);
        ::WaitForSingleObject(m_process.get(), INFINITE);
    }
    if (!m_readyFile.empty()) {
        ::DeleteFileW(m_readyFile.c_str());
    }
}

}  // namespace qmtest
