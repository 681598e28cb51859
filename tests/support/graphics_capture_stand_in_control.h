// What a test and the graphics capture stand-in (the test DLL in
// tests/window/graphics_capture_stand_in/, which plays the Windows
// Runtime's capture classes under Wine) share: the switches the test sets,
// the counts the stand-in keeps, the picture of its frames, and the names
// of the functions it exports besides DllGetActivationFactory.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace qmtest {

struct GraphicsCaptureStandInControl {
    // Set by the test (QmStandInReset puts them back).
    // GraphicsCaptureSession.IsSupported's answer.
    std::atomic<bool> supported{true};
    // The item's factory offers IGraphicsCaptureItemInterop, and the
    // pool's IDirect3D11CaptureFramePoolStatics2 (Windows 10 1903 on).
    std::atomic<bool> windowCapture{true};
    // Sessions offer IGraphicsCaptureSession3 (the border switch).
    std::atomic<bool> borderSwitch{true};
    // CreateForWindow's failure, when one.
    std::atomic<HRESULT> createForWindowResult{S_OK};
    // TryGetNextFrame's failure, when one.
    std::atomic<HRESULT> nextFrameResult{S_OK};
    // Frames come only when the test delivers them (QmStandInDeliverFrames);
    // otherwise a started pool has one new frame for each read that empties
    // it, as for a window that draws all the time.
    std::atomic<bool> manualFrames{false};
    // The client area of the frames is black.
    std::atomic<bool> blackFrames{false};

    // Counted by the stand-in.
    std::atomic<int> itemsCreated{0};
    std::atomic<int> poolsCreated{0};
    std::atomic<int> poolsRecreated{0};
    std::atomic<int> poolsClosed{0};
    std::atomic<int> sessionsStarted{0};
    std::atomic<int> sessionsClosed{0};
    std::atomic<int> framesMade{0};
    std::atomic<int> framesTaken{0};
    // Closed handlers registered now.
    std::atomic<int> closedHandlers{0};
    // The last values put: -1 none, else 0 or 1.
    std::atomic<int> pointerSetting{-1};
    std::atomic<int> borderSetting{-1};
    // The size of the last pool made or recreated.
    std::atomic<int> poolWidth{0};
    std::atomic<int> poolHeight{0};
};

// The frames' picture. Client pixel (x, y) of frame n (counted from 0 by
// framesMade): blue x, green y (low 8 bits each), red the high bits of
// both and n modulo 4, alpha 255; so that a pixel read from the wrong place
// or the wrong frame shows. The rest of the window (its frame) is
// kStandInFrameColour, which no client pixel of a window smaller than
// 1792x1792 has.
inline uint32_t StandInClientPixel(int x, int y, int frame) {
    const uint32_t red = static_cast<uint32_t>(((x >> 8) & 7) | (((y >> 8) & 7) << 3) | ((frame & 3) << 6));
    return 0xFF000000u | (red << 16) | (static_cast<uint32_t>(y & 0xFF) << 8) | static_cast<uint32_t>(x & 0xFF);
}
inline constexpr uint32_t kStandInFrameColour = 0xFF3F3F3Fu;
inline constexpr uint32_t kStandInBlack = 0xFF000000u;

// The stand-in's exports beside DllGetActivationFactory and
// CreateDirect3D11DeviceFromDXGIDevice (undecorated on x86 too).
using StandInControlFunction = GraphicsCaptureStandInControl*(WINAPI*)();
// Every started pool gets `count` new frames (it keeps the newest two).
using StandInDeliverFramesFunction = HRESULT(WINAPI*)(int count);
// Every item closes: its Closed handlers are called, its pool has no
// more frames.
using StandInCloseItemsFunction = void(WINAPI*)();
// The switches back to their defaults, the counts to 0.
using StandInResetFunction = void(WINAPI*)();
inline constexpr char kStandInControlName[] = "QmStandInControl";
inline constexpr char kStandInDeliverFramesName[] = "QmStandInDeliverFrames";
inline constexpr char kStandInCloseItemsName[] = "QmStandInCloseItems";
inline constexpr char kStandInResetName[] = "QmStandInReset";

}  // namespace qmtest
