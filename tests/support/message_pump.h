// Message pumping for test and benchmark threads that own windows or live
// in a single-threaded apartment: such a thread must keep handling its
// messages while it waits, or its windows stop painting and calls into its
// apartment stall.
#pragma once

#include <windows.h>

#include <functional>

namespace qmtest {

// Handles the messages waiting for this thread's windows and apartment,
// then returns.
void PumpMessages();

// Keeps handling this thread's messages for about `ms` milliseconds.
void PumpFor(DWORD ms);

// Handles this thread's messages until `done` holds or `timeoutMs` passed;
// returns whether `done` held in the end.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 20000);

}  // namespace qmtest
