#include "tests/support/survived_failures.h"

#include <atomic>
#include <cstdio>

#include "framework/com_util.h"

namespace {

// Set by a declaration, cleared as each test starts.
std::atomic<bool> g_declared{false};

}  // namespace

ExpectSurvivedFailures::ExpectSurvivedFailures() {
    g_declared = true;
}

void SurvivedFailureListener::OnTestStart(const testing::TestInfo&) {
    g_declared = false;
    m_countAtStart = qm_failures::SurvivedCount();
}

void SurvivedFailureListener::OnTestEnd(const testing::TestInfo& test) {
    const long raised = qm_failures::SurvivedCount() - m_countAtStart;
    if (raised > 0 && !g_declared) {
        ++m_offenders;
        if (m_quiet) {
            return;
        }
        std::printf("[  FAILED  ] %s.%s: %ld failure(s) survived without the test expecting any (see the lines "
                    "reported above)\n",
                    test.test_suite_name(), test.name(), raised);
    }
}
