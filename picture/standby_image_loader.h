// CStandbyImageLoader: reads the standby picture's file on a thread of its
// own, so that a stream never waits for a file (a picture of 8192 x 8192
// takes seconds to decode). The stream asks for a path and goes on with
// the plain standby frame; once the picture is read it takes it over with
// the next frame.
//
// Threads. Request, Cancel and TakeLoaded belong to one owner thread at a
// time (a device's streaming thread); the reads run on the loader's own
// thread, started with the first request and ended by the destructor. A
// newer request or Cancel supersedes the read in progress: its result is
// dropped, and the read ends early where it can (between strips of rows).
// The destructor waits for the thread's end kThreadExitWaitMs at most: a
// read that blocks (a path on a share that does not answer, a pipe) must
// not hold up the application's last Release. Such a read finishes on its
// own thread afterwards, which holds nothing of the owner's: what it uses
// is a reference-counted state it shares with the loader, its result goes
// nowhere once the loader has gone, and it keeps the module loaded until
// it ends.
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
    // Ends a read in progress and waits for the thread, kThreadExitWaitMs
    // at most.
    ~CStandbyImageLoader();
    CStandbyImageLoader(const CStandbyImageLoader&) = delete;
    CStandbyImageLoader& operator=(const CStandbyImageLoader&) = delete;

    // Owner: reads `path` (empty or null: no picture, handed over at once)
    // in the background, superseding any earlier request. Where the thread
    // cannot be started the file is read here and now; where not even the
    // state shared with it can be allocated, nothing is handed over (the
    // plain standby frame stays).
    void Request(const wchar_t* path);
    // Owner: drops the request in progress (the stream stops); never waits.
    void Cancel();
    // Owner: the picture of the latest request once it is read (empty when
    // the file could not be used); false while it is not, or was taken.
    [[nodiscard]] bool TakeLoaded(CStandbyImage* image);

    // Before the first Request: a seam for tests.
    void InjectLoadForTesting(LoadFunction load) { m_load = load; }

    // How long the destructor waits for the thread to end. A cancelled
    // decode ends between two strips of rows, well within it.
    static constexpr DWORD kThreadExitWaitMs = 1000;

    // What the loader's thread and the loader share.
    struct Shared;

private:
    // The state shared with the thread, made with the first request;
    // false when memory ran out.
    [[nodiscard]] bool EnsureShared();
    // After EnsureShared: starts the thread unless it runs.
    [[nodiscard]] bool EnsureThread();

    LoadFunction m_load = &LoadFromFile;
    // One reference of the owner's (the thread holds another while it runs).
    Shared* m_shared = nullptr;
    UniqueHandle m_thread;
};
