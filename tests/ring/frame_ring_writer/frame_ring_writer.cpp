// The frame ring's writer in a process of its own, for the tests that
// read across processes and kill the writer (usage and exit codes in
// tests/ring/frame_ring_test_support.h). Every frame it commits has
// every byte set to FrameByte of its number.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ring/frame_ring.h"
#include "framework/com_util.h"
#include "tests/ring/frame_ring_test_support.h"

using namespace frame_ring;
using namespace qmtest;

namespace {

constexpr DWORD kSetUpTimeoutMs = 10000;
// How long a writer that is to be killed waits for it before it ends.
constexpr DWORD kKillTimeoutMs = 60000;

// Waits for the readers' ring, then for a request.
DWORD OpenAndWaitForRequest(CFrameRingWriter* writer, int camera, const wchar_t* prefix, FrameRequest* request) {
    const ULONGLONG deadline = ::GetTickCount64() + kSetUpTimeoutMs;
    while (FAILED(writer->Open(camera, prefix))) {
        if (::GetTickCount64() > deadline) {
            return kRingWriterNoRing;
        }
        ::Sleep(10);
    }
    while (writer->Request(request) != S_OK) {
        if (::GetTickCount64() > deadline) {
            return kRingWriterNoRequest;
        }
        QM_IGNORE(writer->WaitForReaderChange(100, nullptr), "the request is read again either way");
    }
    return kRingWriterDone;
}

// The tests pass only ASCII arguments.
std::wstring Widen(const char* text) {
    return std::wstring(text, text + std::strlen(text));
}

// Begins a frame and fills its data with its byte, then commits it; or
// fills only half of it and leaves it begun (`slot` says where).
HRESULT WriteFrame(CFrameRingWriter* writer, const FrameRequest& request, bool whole, FrameSlot* begun = nullptr) {
    FrameSlot slot = {};
    RETURN_IF_FAILED(writer->BeginFrame(&slot));
    const FrameDescription frame = FrameFor(request);
    uint32_t dataSize = 0;
    RETURN_HR_IF(E_INVALIDARG, !DataSizeOf(frame, &dataSize) || dataSize > slot.capacity);
    std::memset(slot.data, FrameByte(slot.frameNumber), whole ? dataSize : dataSize / 2);
    if (begun != nullptr) {
        *begun = slot;
    }
    if (!whole) {
        return S_OK;
    }
    return writer->CommitFrame(FrameFor(request));
}

// Sets the named event.
bool Signal(const char* name) {
    const UniqueHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, Widen(name).c_str()));
    return event && ::SetEvent(event.get());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: frame_ring_writer PREFIX CAMERA frames|hang|stream|stall [COUNT [EVENT [RESUME]]]\n");
        return kRingWriterUsage;
    }
    const std::wstring prefixText = Widen(argv[1]);
    const wchar_t* const prefix = prefixText.c_str();
    const int camera = std::atoi(argv[2]);
    const char* const mode = argv[3];
    const int count = argc > 4 ? std::atoi(argv[4]) : 0;
    const bool frames = std::strcmp(mode, "frames") == 0;
    const bool hang = std::strcmp(mode, "hang") == 0 && argc > 5;
    const bool stream = std::strcmp(mode, "stream") == 0;
    const bool stall = std::strcmp(mode, "stall") == 0 && argc > 6;
    if (!frames && !hang && !stream && !stall) {
        return kRingWriterUsage;
    }

    CFrameRingWriter writer;
    FrameRequest request = {};
    const DWORD setUp = OpenAndWaitForRequest(&writer, camera, prefix, &request);
    if (setUp != kRingWriterDone) {
        return static_cast<int>(setUp);
    }

    if (stream) {
        const ULONGLONG deadline = ::GetTickCount64() + kKillTimeoutMs;
        while (::GetTickCount64() < deadline) {
            if (FAILED(WriteFrame(&writer, request, true))) {
                return kRingWriterFailed;
            }
        }
        return kRingWriterNotKilled;
    }
    for (int i = 0; i < count; ++i) {
        if (FAILED(WriteFrame(&writer, request, true))) {
            return kRingWriterFailed;
        }
        ::Sleep(3);
    }
    if (frames) {
        return kRingWriterDone;
    }
    // Half a frame, then the test kills this process, or lets it go on.
    FrameSlot slot = {};
    if (FAILED(WriteFrame(&writer, request, false, &slot)) || !Signal(argv[5])) {
        return kRingWriterFailed;
    }
    if (hang) {
        ::Sleep(kKillTimeoutMs);
        return kRingWriterNotKilled;
    }
    const UniqueHandle resume(::OpenEventW(SYNCHRONIZE, FALSE, Widen(argv[6]).c_str()));
    if (!resume || ::WaitForSingleObject(resume.get(), kKillTimeoutMs) != WAIT_OBJECT_0) {
        return kRingWriterFailed;
    }
    // The other half, straight into the slot it was given, as a writer
    // that draws into the ring does, whatever happened meanwhile.
    const FrameDescription frame = FrameFor(request);
    uint32_t dataSize = 0;
    if (!DataSizeOf(frame, &dataSize)) {
        return kRingWriterFailed;
    }
    std::memset(slot.data + dataSize / 2, FrameByte(slot.frameNumber), dataSize - dataSize / 2);
    const HRESULT committed = writer.CommitFrame(frame);
    if (committed == HRESULT_FROM_WIN32(ERROR_BUSY)) {
        return kRingWriterLostTheRing;
    }
    return SUCCEEDED(committed) ? kRingWriterDone : kRingWriterFailed;
}
