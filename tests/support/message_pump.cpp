#include "tests/support/message_pump.h"

namespace qmtest {

namespace {

// Longest a wait sleeps between two looks at its condition: a condition
// set by another thread wakes no message wait.
constexpr DWORD kWaitSliceMs = 1;

// Milliseconds left until `deadline`, 0 once it has passed.
DWORD RemainingUntil(ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

}  // namespace

void PumpMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void PumpFor(DWORD ms) {
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    for (;;) {
        PumpMessages();
        const DWORD remaining = RemainingUntil(deadline);
        if (remaining == 0) {
            return;
        }
        // Wakes early for a new message, which the next round handles.
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, remaining, QS_ALLINPUT);
    }
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        // Measured before the look, so that the last look comes after the
        // deadline.
        const DWORD remaining = RemainingUntil(deadline);
        if (done()) {
            return true;
        }
        if (remaining == 0) {
            return false;
        }
        PumpFor(remaining < kWaitSliceMs ? remaining : kWaitSliceMs);
    }
}

}  // namespace qmtest
