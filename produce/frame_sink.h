// IFrameSink: what the owner of a stream gives the frame producer for each
// frame (CFrameProducer::Next): where the frame is drawn, what becomes of
// it once drawn, and word of a size or format stored by someone else. The
// DirectShow pin's sink is a media sample, qmcamera's a slot of the frame
// ring.
#pragma once

#include <optional>

#include "picture/frame_target.h"
#include "timing/stream_pacing.h"

// A size or output format another program stored (the settings program,
// another instance, reg add) while the stream ran or since the device was
// made. Each is set only when that value itself changed, so that a new size
// keeps the format in use (an application's choice) and a new format the
// size.
struct StoredFormat {
    std::optional<int> sizeIndex;
    std::optional<PixelFormat> outputFormat;
};

class IFrameSink {
public:
    // Before the frame's target is asked for: a stored size or format
    // changed. The owner applies it as it sees fit (the pin while it is not
    // connected, or at its next connection; qmcamera not at all, its reader
    // sizes its frames).
    virtual void StoredFormatChanged(const StoredFormat& stored) = 0;
    // Where this frame is drawn. A target with no planes (nowhere to draw,
    // or too little room) is left alone.
    virtual FrameTarget Target() = 0;
    // The frame was drawn into the target: its times, in stream time.
    virtual void FrameDrawn(const FrameTimes& times) = 0;

protected:
    ~IFrameSink() = default;
};
