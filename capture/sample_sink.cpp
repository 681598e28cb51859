#include "capture/sample_sink.h"

#include "capture/sample_target.h"

FrameTarget CSampleSink::Target() {
    m_target = TargetOfSample(m_sample, m_shape.format, m_shape.width, m_shape.height);
    return m_target;
}

void CSampleSink::FrameDrawn(const FrameTimes& times) {
    SetFrameLength(m_sample, m_target);
    m_stamper.Stamp(m_sample, times);
}
