// CSampleSink: one DirectShow media sample as the frame producer's sink
// for one frame: its buffer is the frame's target (TargetOfSample, RGB
// rows bottom-up), and once the frame is drawn its data length becomes the
// frame's size and the pin's stamper gives it the frame's times. A size or
// output format stored meanwhile is kept for the pin to apply.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <optional>

#include "capture/sample_stamper.h"
#include "picture/frame_target.h"
#include "produce/frame_sink.h"

class CSampleSink final : public IFrameSink {
public:
    // sample: the one to fill (not owned); shape: the format and size of
    // the connection's frames; stamper: the pin's.
    CSampleSink(IMediaSample* sample, const FrameShape& shape, CSampleStamper& stamper)
        : m_sample(sample), m_shape(shape), m_stamper(stamper) {}

    void StoredFormatChanged(const StoredFormat& stored) override { m_stored = stored; }
    FrameTarget Target() override;
    void FrameDrawn(const FrameTimes& times) override;

    // A size or format stored by someone else, heard while this frame was
    // made.
    const std::optional<StoredFormat>& Stored() const { return m_stored; }

private:
    IMediaSample* const m_sample;
    const FrameShape m_shape;
    CSampleStamper& m_stamper;
    FrameTarget m_target;
    std::optional<StoredFormat> m_stored;
};
