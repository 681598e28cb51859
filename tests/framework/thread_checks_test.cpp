// The checked configuration's checks: a failed check ends the process with
// a line that names it, a lock check knows its holder, a thread checker
// its thread; and the failure hook counts what the error macros return.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "timing/stream_pacing.h"
#include "framework/com_util.h"
#include "framework/thread_checks.h"
#include "tests/support/survived_failures.h"

namespace {

bool OnOtherThread(const CThreadChecker& checker) {
    bool valid = true;
    std::thread other([&] { valid = checker.CalledOnValidThread(); });
    other.join();
    return valid;
}

HRESULT FailWith(HRESULT hr) {
    RETURN_IF_FAILED(hr);
    return S_OK;
}

}  // namespace

TEST(ThreadChecksTest, TheTestsAreBuiltWithTheChecksOn) {
    EXPECT_EQ(1, QM_DCHECK_IS_ON);
}

TEST(ThreadChecksDeathTest, AFailedCheckNamesItselfAndEndsTheProcess) {
    QM_DCHECK(1 + 1 == 2);
    EXPECT_DEATH(QM_DCHECK(1 + 1 == 3), "QM_DCHECK failed: .*thread_checks_test\\.cpp\\(\\d+\\): 1 \\+ 1 == 3");
}

TEST(ThreadChecksDeathTest, ALockCheckKnowsTheHolderAndCountsReentries) {
    CCritSec lock;
    EXPECT_DEATH(QM_DCHECK_HELD(lock), "QM_DCHECK failed");
    lock.Lock();
    QM_DCHECK_HELD(lock);
    lock.Lock();
    lock.Unlock();
    // Still held once.
    QM_DCHECK_HELD(lock);
    bool heldElsewhere = true;
    std::thread other([&] { heldElsewhere = lock.IsHeldByCurrentThread(); });
    other.join();
    EXPECT_FALSE(heldElsewhere);
    lock.Unlock();
    EXPECT_FALSE(lock.IsHeldByCurrentThread());
}

TEST(ThreadChecksTest, AThreadCheckerBindsToTheFirstThreadUntilDetached) {
    CThreadChecker checker;
    EXPECT_TRUE(checker.CalledOnValidThread());
    EXPECT_FALSE(OnOtherThread(checker));
    EXPECT_TRUE(checker.CalledOnValidThread());
    checker.Detach();
    EXPECT_TRUE(OnOtherThread(checker)) << "a detached checker binds to the next thread";
    EXPECT_FALSE(checker.CalledOnValidThread());
}

TEST(ThreadChecksDeathTest, TheStreamingThreadsOwnMethodsRefuseAnotherThread) {
    // The pacing belongs to the thread that started it: taking a frame's
    // times from another thread is a broken contract, which the checks
    // catch.
    EXPECT_DEATH(
        {
            CStreamPacing pacing;
            QM_IGNORE(pacing.Start(), "the timer is not what is tested");
            std::thread other([&] { QM_IGNORE(pacing.Take(333333), "the check ends the process first"); });
            other.join();
        },
        "QM_DCHECK failed: .*stream_pacing\\.cpp");
}

TEST(FailureHookTest, EveryFailureTheMacrosReturnIsCounted) {
    const long before = qm_failures::Count();
    EXPECT_EQ(S_OK, FailWith(S_OK));
    EXPECT_EQ(S_OK, FailWith(S_FALSE));
    EXPECT_EQ(before, qm_failures::Count()) << "successes are not failures";
    EXPECT_EQ(E_ACCESSDENIED, FailWith(E_ACCESSDENIED));
    EXPECT_EQ(before + 1, qm_failures::Count());
}

TEST(FailureHookTest, ASurvivedFailureIsCountedApartAndReportedLikeTheOthers) {
    // This test provokes one on purpose; without the declaration the test
    // main would fail the run for it.
    ExpectSurvivedFailures expected;
    const long failures = qm_failures::Count();
    const long survived = qm_failures::SurvivedCount();
    EXPECT_EQ(S_FALSE, LOG_IF_FAILED(S_FALSE));
    EXPECT_EQ(survived, qm_failures::SurvivedCount()) << "successes are not failures";
    EXPECT_EQ(E_OUTOFMEMORY, LOG_IF_FAILED(E_OUTOFMEMORY)) << "the code goes on with the result";
    EXPECT_EQ(survived + 1, qm_failures::SurvivedCount());
    EXPECT_EQ(failures + 1, qm_failures::Count());
}

TEST(FailureHookTest, TheListenerNamesATestThatRaisedTheCountUndeclared) {
    ExpectSurvivedFailures expected;
    SurvivedFailureListener listener(/*quiet=*/true);
    const testing::TestInfo& self = *testing::UnitTest::GetInstance()->current_test_info();
    listener.OnTestStart(self);
    listener.OnTestEnd(self);
    EXPECT_EQ(0, listener.Offenders()) << "nothing survived meanwhile";
    listener.OnTestStart(self);
    (void)LOG_IF_FAILED(E_FAIL);
    listener.OnTestEnd(self);
    EXPECT_EQ(1, listener.Offenders());
    // Declared within the test: not an offender.
    listener.OnTestStart(self);
    ExpectSurvivedFailures declared;
    (void)LOG_IF_FAILED(E_FAIL);
    listener.OnTestEnd(self);
    EXPECT_EQ(1, listener.Offenders());
    // The listener's OnTestStart cleared this test's own declaration.
    ExpectSurvivedFailures again;
}
