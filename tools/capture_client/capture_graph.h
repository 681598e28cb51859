// The capture graph: device -> sample grabber -> null renderer, run until
// a frame limit, a time limit, a stall or an error from the graph.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <string>

#include "tools/capture_client/frame_grabber.h"

namespace qmcapture {

enum class CaptureStop {
    kTimeElapsed,
    kFrameLimit,
    // No frame arrived for the stall time.
    kStalled,
    // The graph reported an error (EC_ERRORABORT, EC_DEVICE_LOST, ...).
    kGraphError,
    // The source ended its stream (EC_COMPLETE).
    kStreamEnded,
};

const wchar_t* CaptureStopName(CaptureStop stop);

struct CaptureWaitResult {
    CaptureStop stop = CaptureStop::kTimeElapsed;
    // From Run to the end of the wait, seconds.
    double elapsedSeconds = 0.0;
    // For kGraphError: the event code and its HRESULT parameter.
    long eventCode = 0;
    HRESULT eventResult = S_OK;
};

class CaptureGraph {
public:
    CaptureGraph() = default;
    ~CaptureGraph();
    CaptureGraph(const CaptureGraph&) = delete;
    CaptureGraph& operator=(const CaptureGraph&) = delete;

    // Adds the device, a sample grabber that accepts video of
    // `grabberSubtype` and a null renderer, and connects them (the graph
    // may insert a converter between device and grabber). `error` says which
    // step failed.
    HRESULT Build(IBaseFilter* device, IPin* capturePin, const GUID& grabberSubtype, bool noClock,
                  std::wstring* error);

    // The media type on the grabber's input; the caller frees its contents.
    HRESULT GetConnectedType(AM_MEDIA_TYPE* type);

    // Runs the graph with `grabber` as the sample callback, and waits with
    // messages pumped (the thread is a single-threaded apartment). A
    // `seconds` of 0 waits for the grabber's frame limit alone.
    HRESULT Capture(FrameGrabber* grabber, double seconds, double stallSeconds, CaptureWaitResult* result);

    HRESULT Stop();

private:
    CaptureWaitResult Wait(FrameGrabber* grabber, double seconds, double stallSeconds);

    Microsoft::WRL::ComPtr<IGraphBuilder> m_graph;
    Microsoft::WRL::ComPtr<IBaseFilter> m_grabberFilter;
    Microsoft::WRL::ComPtr<ISampleGrabber> m_grabber;
    Microsoft::WRL::ComPtr<IBaseFilter> m_renderer;
    Microsoft::WRL::ComPtr<IMediaControl> m_control;
    Microsoft::WRL::ComPtr<IMediaEventEx> m_events;
    bool m_running = false;
};

}  // namespace qmcapture
