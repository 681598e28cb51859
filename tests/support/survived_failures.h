// Failures the code survives (LOG_IF_FAILED) are counted: a test during
// which the count rises fails the run, unless it declares the failures it
// provokes on purpose with an ExpectSurvivedFailures in its scope.
#pragma once

#include <gtest/gtest.h>

// Declares that the running test provokes failures the code survives.
class ExpectSurvivedFailures {
public:
    ExpectSurvivedFailures();
    ExpectSurvivedFailures(const ExpectSurvivedFailures&) = delete;
    ExpectSurvivedFailures& operator=(const ExpectSurvivedFailures&) = delete;
};

// The listener the test main installs: notes the count as each test
// starts, and names every test that raised it without declaring so.
class SurvivedFailureListener : public testing::EmptyTestEventListener {
public:
    // quiet: counts without printing (the listener's own test).
    explicit SurvivedFailureListener(bool quiet = false) : m_quiet(quiet) {}
    void OnTestStart(const testing::TestInfo& test) override;
    void OnTestEnd(const testing::TestInfo& test) override;
    // Tests that raised the count undeclared.
    int Offenders() const { return m_offenders; }

private:
    const bool m_quiet;
    long m_countAtStart = 0;
    int m_offenders = 0;
};
