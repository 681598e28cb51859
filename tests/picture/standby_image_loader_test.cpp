// The standby picture's loader: a picture read on the loader's thread is
// handed over once; a read that a stop or a newer request superseded is
// told to give up and never handed over; the loader's end does not wait
// for a read that blocks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "picture/standby_image_loader.h"
#include "tests/support/standby_test_files.h"
#include "tests/support/message_pump.h"

using namespace qmtest;

namespace {

// Reads wait for the gate; each read notes whether it was told to give up.
UniqueHandle g_gate;
UniqueHandle g_entered;
std::atomic<int> g_reads{0};
std::atomic<int> g_toldToGiveUp{0};
std::atomic<DWORD> g_readThread{0};
HRESULT GatedLoad(const wchar_t* path, const std::atomic<bool>& cancel, CStandbyImage* image) {
    g_readThread = ::GetCurrentThreadId();
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

TEST(StandbyImageLoaderTest, ItsEndDoesNotWaitForAReadThatBlocksNorDoesTheReadTouchItAfter_BlockingLoadInjected) {
    ScratchFolder folder;
    const std::wstring path = folder.File(L"blocked.png");
    ASSERT_EQ(S_OK, WritePng(path, 10, 10, Solid(RGB(0, 0, 255))));
    g_gate.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_entered.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_reads = 0;
    g_toldToGiveUp = 0;
    // The loader lies in memory of the test's own, filled with a canary once
    // it has gone: a write to it after its end shows there.
    constexpr unsigned char kCanary = 0xA5;
    alignas(CStandbyImageLoader) unsigned char storage[sizeof(CStandbyImageLoader)];
    auto* loader = new (storage) CStandbyImageLoader;
    loader->InjectLoadForTesting(&GatedLoad);
    loader->Request(path.c_str());
    // The read blocks, as one of a path on an unreachable share does.
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(g_entered.get(), 10000));
    const UniqueHandle reader(::OpenThread(SYNCHRONIZE, FALSE, g_readThread.load()));
    ASSERT_TRUE(reader);
    // The application's last Release, on a thread of its own so that an end
    // that waits for the read cannot hold up the test.
    const UniqueHandle gone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread releasing([&] {
        loader->~CStandbyImageLoader();
        std::memset(storage, kCanary, sizeof(storage));
        ::SetEvent(gone.get());
    });
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(gone.get(), 10000)) << "the loader's end waited for the read";
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(reader.get(), 0)) << "the read did not block";
    EXPECT_EQ(0, g_reads.load());
    // The read comes back after all: its result goes nowhere, and its thread
    // ends without touching the loader.
    ASSERT_TRUE(::SetEvent(g_gate.get()));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(reader.get(), 10000)) << "the read's thread did not end";
    releasing.join();
    EXPECT_EQ(1, g_reads.load());
    EXPECT_EQ(1, g_toldToGiveUp.load()) << "the read was not told that its result is no longer wanted";
    size_t touched = 0;
    for (const unsigned char value : storage) {
        touched += value != kCanary ? 1 : 0;
    }
    EXPECT_EQ(0u, touched) << "bytes of the loader written after its end";
}
