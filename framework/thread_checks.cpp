#include "framework/thread_checks.h"

#if QM_DCHECK_IS_ON

#include <cstdio>
#include <cstdlib>

namespace qm_checks {

void DcheckFailed(const char* file, int line, const char* condition) {
    char text[512];
    std::snprintf(text, sizeof(text), "QM_DCHECK failed: %s(%d): %s\n", file, line, condition);
    std::fputs(text, stderr);
    std::fflush(stderr);
    ::OutputDebugStringA(text);
    std::abort();
}

}  // namespace qm_checks

#endif
