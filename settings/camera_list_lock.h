// The lock that makes each change of the machine's camera list one step
// across threads, processes and users: a mutex in the machine's namespace
// that the changes of CCameraList hold around their check and write.
#pragma once

#include <windows.h>

#include "framework/com_util.h"

inline constexpr wchar_t kCameraListLockName[] = L"Global\\QMCapture.CameraList";
// SYSTEM and administrators have every right; every user may wait on the
// mutex and release it (SYNCHRONIZE | MUTEX_MODIFY_STATE). Without it the
// creator's default DACL would lock other users out for as long as the
// first creator's process keeps it.
inline constexpr wchar_t kCameraListLockSecurity[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";

// Held by one thread: the thread that acquired it releases it (a mutex's
// rule), on destruction at the latest. Hold it over registry steps only.
class CCameraListLock {
public:
    // Far longer than any change takes, short enough that a holder that
    // hangs is reported rather than waited for without end.
    static constexpr DWORD kTimeoutMs = 10000;

    CCameraListLock() = default;
    ~CCameraListLock();
    CCameraListLock(const CCameraListLock&) = delete;
    CCameraListLock& operator=(const CCameraListLock&) = delete;

    // S_OK once held; HRESULT_FROM_WIN32(ERROR_TIMEOUT) when another holder
    // keeps it longer than `timeoutMs`; the system's error when the mutex
    // cannot be made or opened.
    [[nodiscard]] HRESULT Acquire(DWORD timeoutMs = kTimeoutMs);

private:
    UniqueHandle m_mutex;
    bool m_held = false;
};
