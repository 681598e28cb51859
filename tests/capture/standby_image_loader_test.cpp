// The standby picture's loader: a picture read on the loader's thread is
// handed over once; a read that a stop or a newer request superseded is
// told to give up and never handed over.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "picture/standby_image_loader.h"
#include "tests/capture/standby_test_files.h"
#include "tests/support/message_pump.h"

using namespace qmtest;

namespace {

// Reads wait for the gate; each read notes whether it was told to give up.
UniqueHandle g_gate;
UniqueHandle g_entered;
std::atomic<int> g_reads{0};
std::atomic<int> g_toldToGiveUp{0};
HRESULT GatedLoad(const wchar_t* path, const std::atomic<bool>& cancel, CStandbyImage* image) {
    ::SetEvent(g_entered.get());
    ::WaitForSingleObject(g_gate.get(), INFINITE);
    g_toldToGiveUp += cancel.load() ? 1 : 0;
    const HRESULT hr = image->Load(path, &cancel);
    ++g_reads;
    return hr;
}

bool WaitForPicture(CStandbyImageLoader& loader, CStandbyImage* image) {
    return WaitUntil([&] { return loader.TakeLoaded(image); }, 10000);
}

}  // namespace

TEST(StandbyImageLoaderTest, APictureIsHandedOverOnceReadAndOnlyOnce) {
    ScratchFolder folder;
    const std::wstring path = folder.File(L"loaded.png");
    ASSERT_EQ(S_OK, WritePng(path, 30, 20, Solid(RGB(0, 0, 255))));
    CStandbyImageLoader loader;
    loader.Request(path.c_str());
    CStandbyImage image;
    ASSERT_TRUE(WaitForPicture(loader, &image));
    EXPECT_EQ(30, image.Width());
    EXPECT_EQ(20, image.Height());
    EXPECT_FALSE(loader.TakeLoaded(&image));
    // No path: no picture, at once.
    loader.Request(L"");
    ASSERT_TRUE(loader.TakeLoaded(&image));
    EXPECT_TRUE(image.Empty());
}

TEST(StandbyImageLoaderTest, AReadThatAStopOrANewerRequestSupersededIsNeverHandedOver_SlowLoadInjected) {
    ScratchFolder folder;
    const std::wstring first = folder.File(L"first.png");
    const std::wstring second = folder.File(L"second.png");
    ASSERT_EQ(S_OK, WritePng(first, 10, 10, Solid(RGB(255, 0, 0))));
    ASSERT_EQ(S_OK, WritePng(second, 12, 12, Solid(RGB(0, 255, 0))));
    g_gate.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_entered.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_reads = 0;
    g_toldToGiveUp = 0;
    CStandbyImageLoader loader;
    loader.InjectLoadForTesting(&GatedLoad);
    loader.Request(first.c_str());
    // The read waits at the gate; the stream stops meanwhile.
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(g_entered.get(), 10000));
    loader.Cancel();
    ASSERT_TRUE(::SetEvent(g_gate.get()));
    ASSERT_TRUE(WaitUntil([] { return g_reads.load() == 1; }, 10000));
    CStandbyImage image;
    EXPECT_FALSE(loader.TakeLoaded(&image)) << "a cancelled read was handed over";
    EXPECT_EQ(1, g_toldToGiveUp.load());
    // A newer request is read and handed over.
    loader.Request(second.c_str());
    ASSERT_TRUE(WaitForPicture(loader, &image));
    EXPECT_EQ(12, image.Width());
}
