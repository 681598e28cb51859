// Redirects predefined registry roots (HKEY_CURRENT_USER, and for
// registration tests HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE) to scratch
// keys for one test, and removes the scratch keys afterwards.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace qmtest {

class RegistrySandbox {
public:
    explicit RegistrySandbox(std::initializer_list<HKEY> roots = {HKEY_CURRENT_USER});
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    bool ok() const { return m_ok; }

    // Where a redirected root really lies: its scratch key's path below
    // the real HKEY_CURRENT_USER, for another process to write there.
    std::wstring ScratchPath(HKEY root) const;

    // Counts values and subkeys below a path of a redirected root; 0 when
    // the key is missing.
    static int CountEntries(HKEY root, const wchar_t* path);

private:
    struct Override {
        HKEY root;
        HKEY scratch;
    };
    std::vector<Override> m_overrides;
    std::vector<std::pair<HKEY, std::wstring>> m_scratchPaths;
    std::wstring m_path;
    bool m_ok = true;
};

}  // namespace qmtest
