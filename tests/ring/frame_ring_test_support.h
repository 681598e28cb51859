// What the frame ring's tests and their writer program (a process of its
// own, tests/ring/frame_ring_writer/) agree on: the program's name and
// modes, and frames whose every byte tells their number, so that a frame
// put together from two shows.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/performance_counter.h"
#include "ring/frame_ring.h"

namespace qmtest {

// Beside the test program. Usage:
//   frame_ring_writer PREFIX CAMERA frames COUNT
//       writes COUNT frames of the readers' request, a few ms apart;
//   frame_ring_writer PREFIX CAMERA hang COUNT EVENT
//       writes COUNT frames, begins the next, writes half of it, sets the
//       named event and waits to be killed;
//   frame_ring_writer PREFIX CAMERA stream
//       writes frames without a pause until killed;
//   frame_ring_writer PREFIX CAMERA stall COUNT EVENT RESUME
//       writes COUNT frames, begins the next, writes half of it, sets the
//       named event EVENT, waits until the named event RESUME is set (as a
//       writer that stalls mid-frame), writes the other half straight into
//       the slot and commits it.
// It waits for the ring and a request first. Exit codes: RingWriterExit.
inline constexpr wchar_t kRingWriterProgram[] = L"frame_ring_writer.exe";

enum RingWriterExit : DWORD {
    kRingWriterDone = 0,
    kRingWriterUsage = 2,
    kRingWriterNoRing = 3,
    kRingWriterNoRequest = 4,
    kRingWriterFailed = 5,
    kRingWriterNotKilled = 6,
    // stall: the commit after the stall was refused, since another writer
    // took the ring over meanwhile.
    kRingWriterLostTheRing = 7,
};

// The byte every byte of frame `frameNumber` holds: its low 8 bits, which
// differ between any two frames that one slot holds in turn.
inline BYTE FrameByte(uint64_t frameNumber) {
    return static_cast<BYTE>(frameNumber & 0xFF);
}

inline bool IsUniform(const BYTE* data, size_t size, BYTE value) {
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != value) {
            return false;
        }
    }
    return true;
}

// The frame a request asks for, stamped now.
inline frame_ring::FrameDescription FrameFor(const frame_ring::FrameRequest& request) {
    return {request.width, request.height, request.format, PerformanceCounterTime()};
}

}  // namespace qmtest
