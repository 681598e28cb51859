#include "tests/support/registry_sandbox.h"

#include <atomic>

namespace qmtest {

namespace {

std::atomic<int> g_sandboxCounter{0};

}  // namespace

RegistrySandbox::RegistrySandbox(std::initializer_list<HKEY> roots) {
    m_path = L"Software\\QMCaptureTests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(++g_sandboxCounter);
    // A run that was killed may have left its scratch keys behind, and
    // process ids repeat.
    ::RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    int index = 0;
    for (HKEY root : roots) {
        const std::wstring path = m_path + L"\\" + std::to_wstring(index++);
        m_scratchPaths.push_back({root, path});
        HKEY scratch = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &scratch, nullptr) != ERROR_SUCCESS) {
            m_ok = false;
            continue;
        }
        m_overrides.push_back({root, scratch});
    }
    // Override only after every scratch key exists: once HKEY_CURRENT_USER
    // is redirected, new scratch keys would land inside the previous one.
    for (const Override& o : m_overrides) {
        if (::RegOverridePredefKey(o.root, o.scratch) != ERROR_SUCCESS) {
            m_ok = false;
        }
    }
}

RegistrySandbox::~RegistrySandbox() {
    for (const Override& o : m_overrides) {
        ::RegOverridePredefKey(o.root, nullptr);
        ::RegCloseKey(o.scratch);
    }
    ::RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QMCaptureTests");
}

std::wstring RegistrySandbox::ScratchPath(HKEY root) const {
    for (const auto& [redirected, path] : m_scratchPaths) {
        if (redirected == root) {
            return path;
        }
    }
    return {};
}

int RegistrySandbox::CountEntries(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD subkeys = 0;
    DWORD values = 0;
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr);
    ::RegCloseKey(key);
    return static_cast<int>(subkeys + values);
}

}  // namespace qmtest
