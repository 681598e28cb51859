#include "framework/com_util.h"

#include <cstdio>
#include <cstring>

#include "framework/diagnostic_log.h"

namespace qm_failures {

namespace {

std::atomic<long> g_count{0};
std::atomic<long> g_survived{0};

// The file's name without its folders: build paths say nothing to a user.
const char* BaseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            name = p + 1;
        }
    }
    return name;
}

}  // namespace

void Report(const char* file, int line, const char* expression, HRESULT hr) noexcept {
    g_count.fetch_add(1);
    const DWORD lastError = ::GetLastError();
#if QM_DCHECK_IS_ON
    char text[512];
    std::snprintf(text, sizeof(text), "QM failure: %s(%d): %s: 0x%08lX\n", BaseName(file), line, expression,
                  static_cast<unsigned long>(hr));
    ::OutputDebugStringA(text);
#endif
    diagnostic_log::Write("failed: %s(%d): %s: 0x%08lX", BaseName(file), line, expression,
                          static_cast<unsigned long>(hr));
    ::SetLastError(lastError);
}

long Count() noexcept {
    return g_count.load();
}

HRESULT Survived(const char* file, int line, const char* expression, HRESULT hr) noexcept {
    if (FAILED(hr)) {
        g_survived.fetch_add(1);
        Report(file, line, expression, hr);
    }
    return hr;
}

long SurvivedCount() noexcept {
    return g_survived.load();
}

}  // namespace qm_failures
