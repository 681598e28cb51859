#include "capture/sample_stamper.h"

#include <type_traits>

// The stream's frame times (int64_t, 100-ns units) become sample times
// unconverted.
static_assert(std::is_same_v<REFERENCE_TIME, int64_t>, "REFERENCE_TIME is int64_t");

void CSampleStamper::Restart() {
    m_streamingThread.Detach();
    QM_DCHECK_ON_THREAD(m_streamingThread);
    m_stamped = false;
    m_appliedOffset = 0;
    m_lastEnd = 0;
}

void CSampleStamper::Stamp(IMediaSample* sample, const FrameTimes& times) {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    REFERENCE_TIME offset = GetStreamOffset();
    if (m_stamped && times.start + offset < m_lastEnd) {
        // Lowered while streaming: as far down as the last end allows.
        offset = m_lastEnd - times.start;
    }
    const bool discontinuity = times.discontinuity || (m_stamped && offset != m_appliedOffset);
    m_stamped = true;
    m_appliedOffset = offset;
    m_lastEnd = times.end + offset;
    REFERENCE_TIME start = times.start + offset;
    REFERENCE_TIME end = times.end + offset;
    // A sample of the standard allocator accepts all three; a failure of
    // another one leaves the sample as it was, which the graph tolerates.
    QM_IGNORE(sample->SetTime(&start, &end), "see above");
    QM_IGNORE(sample->SetSyncPoint(TRUE), "see above");
    QM_IGNORE(sample->SetDiscontinuity(discontinuity ? TRUE : FALSE), "see above");
}

HRESULT CSampleStamper::SetStreamOffset(REFERENCE_TIME offset) {
    CAutoLock lock(&m_lock);
    const REFERENCE_TIME largest = m_maxStreamOffset > 0 ? m_maxStreamOffset : kDefaultMaxStreamOffset;
    RETURN_HR_IF(E_INVALIDARG, offset < 0 || offset > largest);
    m_streamOffset = offset;
    return S_OK;
}

REFERENCE_TIME CSampleStamper::GetStreamOffset() const {
    CAutoLock lock(&m_lock);
    return m_streamOffset;
}

HRESULT CSampleStamper::SetMaxStreamOffset(REFERENCE_TIME maxOffset) {
    RETURN_HR_IF(E_INVALIDARG, maxOffset < 0 || maxOffset > kStreamOffsetCeiling);
    CAutoLock lock(&m_lock);
    m_maxStreamOffset = maxOffset;
    // The offset in use comes down to the new largest one, as a lowered
    // offset does (see Stamp), rather than staying above it.
    const REFERENCE_TIME largest = maxOffset > 0 ? maxOffset : kDefaultMaxStreamOffset;
    if (m_streamOffset > largest) {
        m_streamOffset = largest;
    }
    return S_OK;
}

REFERENCE_TIME CSampleStamper::GetMaxStreamOffset() const {
    CAutoLock lock(&m_lock);
    return m_maxStreamOffset;
}
