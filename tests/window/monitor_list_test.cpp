// The monitors a camera can show: listed primary first with their device
// names and physical rectangles, and the one a stored name chooses (that
// one, else the primary, else none at all).
#include <gtest/gtest.h>

#include <cwchar>

#include "window/monitor_list.h"

namespace {

MonitorInfo Monitor(const wchar_t* name, RECT rect, bool primary) {
    MonitorInfo monitor;
    std::wcsncpy(monitor.deviceName, name, kMonitorNameCapacity - 1);
    monitor.rect = rect;
    monitor.primary = primary;
    return monitor;
}

// Two monitors, the second left of the primary, listed second first.
int TwoMonitors(MonitorInfo* monitors, int capacity) {
    const MonitorInfo listed[] = {Monitor(L"\\\\.\\DISPLAY2", {-1280, 0, 0, 720}, false),
                                  Monitor(L"\\\\.\\DISPLAY1", {0, 0, 1920, 1080}, true)};
    for (int i = 0; i < 2 && i < capacity; ++i) {
        monitors[i] = listed[i];
    }
    return 2;
}

}  // namespace

TEST(MonitorListTest, TheSystemsMonitorsComePrimaryFirstWithTheirDeviceNames) {
    const std::vector<MonitorInfo> monitors = ListMonitors();
    ASSERT_FALSE(monitors.empty());
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_EQ(0, monitors[0].rect.left);
    EXPECT_EQ(0, monitors[0].rect.top);
    EXPECT_EQ(::GetSystemMetrics(SM_CXSCREEN), monitors[0].rect.right);
    EXPECT_EQ(0, std::wcsncmp(L"\\\\.\\DISPLAY", monitors[0].deviceName, 11)) << monitors[0].deviceName;
}

TEST(MonitorListTest, AStoredNameChoosesItsMonitorElseThePrimaryElseNone) {
    const std::vector<MonitorInfo> monitors = ListMonitors(&TwoMonitors);
    ASSERT_EQ(2u, monitors.size());
    EXPECT_TRUE(monitors[0].primary) << "the primary first";
    struct Case {
        const wchar_t* name;
        LONG left;
    };
    for (const Case& c : {Case{L"\\\\.\\DISPLAY2", -1280}, Case{L"\\\\.\\display2", -1280},
                          Case{L"\\\\.\\DISPLAY1", 0}, Case{L"", 0}, Case{L"\\\\.\\DISPLAY9", 0}}) {
        const MonitorInfo* chosen = ChooseMonitor(monitors.data(), 2, c.name);
        ASSERT_NE(nullptr, chosen) << c.name;
        EXPECT_EQ(c.left, chosen->rect.left) << c.name;
    }
    EXPECT_EQ(nullptr, ChooseMonitor(monitors.data(), 0, L"")) << "no monitor at all";
}
