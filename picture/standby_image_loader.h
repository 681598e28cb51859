// CStandbyImageLoader: reads the standby picture's file on a thread of its
// own, so that a stream never waits for a file (a picture of 8192 x 8192
// takes seconds to decode). The stream asks for a path and goes on with
// the plain standby frame; once the picture is read it takes it over with
// the next frame.
//
// Threads. Request, Cancel and TakeLoaded belong to one owner thread at a
// time (a device's streaming thread); the reads run on the loader's own
// thread, started with the first request and ended (and waited for) by the
// destructor. A newer request or Cancel supersedes the read in progress:
// its result is dropped, and the read ends early where it can (between
// strips of rows).
#pragma once

#include <windows.h>

#include <atomic>

#include "settings/capture_settings.h"
#include "picture/standby_image.h"
#include "framework/com_util.h"

class CStandbyImageLoader {
public:
    // How a file is read: LoadFromFile, unless a test injects a slow one.
    // `cancel` turns true when the result is no longer wanted.
    using LoadFunction = HRESULT (*)(const wchar_t* path, const std::atomic<bool>& cancel, CStandbyImage* image);
    static HRESULT LoadFromFile(const wchar_t* path, const std::atomic<bool>& cancel, CStandbyImage* image) {
        return image->Load(path, &cancel);
    }

    CStandbyImageLoader() = default;
    // Ends a read in progress and waits for the thread.
    ~CStandbyImageLoader();
    CStandbyImageLoader(const CStandbyImageLoader&) = delete;
    CStandbyImageLoader& operator=(const CStandbyImageLoader&) = delete;

    // Owner: reads `path` (empty or null: no picture, handed over at once)
    // in the background, superseding any earlier request. Where the thread
    // cannot be started the file is read here and now.
    void Request(const wchar_t* path);
    // Owner: drops the request in progress (the stream stops); never waits.
    void Cancel();
    // Owner: the picture of the latest request once it is read (empty when
    // the file could not be used); false while it is not, or was taken.
    [[nodiscard]] bool TakeLoaded(CStandbyImage* image);

    // Before the first Request: a seam for tests.
    void InjectLoadForTesting(LoadFunction load) { m_load = load; }

private:
    static DWORD WINAPI ThreadProc(LPVOID parameter);
    void Serve();
    [[nodiscard]] bool EnsureThread();

    LoadFunction m_load = &LoadFromFile;
    UniqueHandle m_thread;
    // Auto-reset: a request (or the end) is waiting.
    UniqueHandle m_wake;

    // Guards what follows; never held across a read.
    CCritSec m_lock;
    // The latest request: its number and path.
    unsigned m_requested = 0;
    wchar_t m_path[kStandbyImageCapacity] = {};
    bool m_quit = false;
    // The result of request m_readNumber, waiting to be taken.
    unsigned m_readNumber = 0;
    bool m_ready = false;
    CStandbyImage m_result;
    // Set whenever a result waits, so that the owner's check per frame is
    // a plain load while nothing has come.
    std::atomic<bool> m_hasResult{false};
    // Tells the read in progress that its result is no longer wanted: set
    // by every newer request, Cancel and the destructor, cleared by the
    // loader's thread as it starts a read (both under the lock).
    std::atomic<bool> m_cancel{false};
};
