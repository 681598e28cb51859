// The registry's change notification as the streaming thread sees it:
// changes to the settings key, its creation, and quiet otherwise.
#include <gtest/gtest.h>

#include "settings/capture_settings.h"
#include "settings/settings_watch.h"
#include "tests/support/capture_test_support.h"
#include "tests/support/message_pump.h"
#include "tests/support/registry_sandbox.h"

using namespace qmtest;

namespace {

class SettingsWatchTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_sandbox.ok()); }
    RegistrySandbox m_sandbox;
};

// The notification is asynchronous: give it a moment to arrive.
bool ChangedWithin(CSettingsWatch& watch, DWORD milliseconds) {
    return WaitUntil([&] { return watch.Changed(); }, milliseconds);
}

}  // namespace

TEST_F(SettingsWatchTest, EachChangeIsToldOnceAndQuietKeysStayQuiet) {
    ASSERT_TRUE(StoreText(kTitleTextValue, "first"));
    CSettingsWatch watch;
    ASSERT_EQ(S_OK, watch.Start());
    EXPECT_FALSE(ChangedWithin(watch, 100));
    ASSERT_TRUE(StoreText(kWindowNameValue, "Other"));
    EXPECT_TRUE(ChangedWithin(watch, 1000));
    EXPECT_FALSE(ChangedWithin(watch, 100)) << "one change, one notice";
    ASSERT_TRUE(StoreText(kFrameTimeValue, "666666"));
    EXPECT_TRUE(ChangedWithin(watch, 1000));
    watch.Stop();
    ASSERT_TRUE(StoreText(kFrameTimeValue, "333333"));
    EXPECT_FALSE(watch.Changed());
}

TEST_F(SettingsWatchTest, AKeyCreatedAfterTheStartIsWatchedToo) {
    CSettingsWatch watch;
    ASSERT_EQ(S_OK, watch.Start());
    ASSERT_TRUE(StoreText(kWindowClassValue, "Other::Frame"));
    EXPECT_TRUE(ChangedWithin(watch, 1000));
    // From now on the key itself is watched.
    ChangedWithin(watch, 100);
    ASSERT_TRUE(StoreText(kWindowClassValue, "Third::Frame"));
    EXPECT_TRUE(ChangedWithin(watch, 1000));
}
