// One qmcamera per user: the user's cameras have one frame ring each,
// shared by all the user's sessions (ring/frame_ring.h), and one program
// feeds them. The qmcamera that runs holds a named mutex,
// Global\QMCapture.<SID>.qmcamera (the user's SID, as the rings are named),
// for as long as its process lives; a second start of the same user, in
// any session, finds it and ends. Windows closes the handle when the
// process ends, however it ends, so a start after that runs.
//
// A mutex in Global\ takes no privilege, so any account may make one of
// that name before the user does. The user's own is made with the user as
// its owner and granted to the user and SYSTEM alone; an object of that
// name that the user cannot open, or whose owner is someone else, is not
// taken for a running qmcamera: Claim says so with its own code.
#pragma once

#include <windows.h>

#include <string>

#include "framework/com_util.h"
#include "ring/frame_ring.h"

namespace qmcamera {

// The process exit code and line of a start while the user's qmcamera runs.
inline constexpr int kExitAlreadyRunning = 5;
inline constexpr char kAlreadyRunningLine[] =
    "qmcamera: qmcamera is already running for this user (its icon is in the notification area); this start ends";

class CSingleInstance {
public:
    CSingleInstance() = default;
    // Lets the next start run.
    ~CSingleInstance() = default;
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // The mutex's name: `prefix` (frame_ring::kGlobalPrefix but in tests)
    // + "QMCapture." + the SID + ".qmcamera".
    static std::wstring ObjectName(const wchar_t* prefix, const frame_ring::OwnerSid& user);

    // S_OK: this process is `user`'s one qmcamera while this object lives.
    // S_FALSE: `user`'s qmcamera already runs; nothing is held.
    // E_ACCESSDENIED: an object of that name belongs to another account
    // (one the user may not open, or owned by someone else), so whether
    // qmcamera runs cannot be told. E_INVALIDARG for a user that is not a
    // SID, E_POINTER for a null prefix, E_UNEXPECTED when held already;
    // the platform's error otherwise (such as ERROR_INVALID_HANDLE for an
    // object of that name that is no mutex).
    [[nodiscard]] HRESULT Claim(const wchar_t* prefix, const frame_ring::OwnerSid& user);

    bool Holds() const { return static_cast<bool>(m_mutex); }

    // Whether `user`'s qmcamera runs, looked at without claiming anything
    // (nothing is created): S_OK it runs, S_FALSE it does not;
    // E_ACCESSDENIED and the other failures as Claim's, when it cannot be
    // told.
    [[nodiscard]] static HRESULT IsRunning(const wchar_t* prefix, const frame_ring::OwnerSid& user);

private:
    UniqueHandle m_mutex;
};

}  // namespace qmcamera
