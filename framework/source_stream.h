// CSourceStream: the output pin of a source filter. It owns a worker
// thread that takes empty samples from the allocator, lets the derived
// pin fill them (FillBuffer) and delivers them downstream, from the
// filter's Pause until its Stop.
#pragma once

#include "framework/am_thread.h"
#include "framework/base_output_pin.h"

class CSource;

class CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    // The commands of the worker's request channel.
    enum Command : DWORD { CMD_INIT = 0, CMD_PAUSE = 1, CMD_RUN = 2, CMD_STOP = 3, CMD_EXIT = 4 };

    // Registers the pin with `filter` (AddPin); a failure to do so is
    // stored in `phr` when given. The pin uses the filter's state lock.
    CSourceStream(LPCWSTR objectName, HRESULT* phr, CSource* filter, LPCWSTR pinName);
    // Ends a worker that is still running (its owner should have stopped
    // the pin first) and takes the pin out of the filter's table.
    ~CSourceStream() override;

    // Commits the allocator and starts the worker (CMD_INIT, CMD_PAUSE).
    // S_FALSE when the filter is already active; S_OK and nothing started
    // while unconnected.
    HRESULT Active() override;
    // Decommits the allocator, sends CMD_STOP and CMD_EXIT and waits for
    // the worker to end.
    HRESULT Inactive() override;

    // A pin with one fixed format accepts exactly the type of the
    // one-argument GetMediaType; these two run under the state lock.
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;

    // The pin's 1-based position in the filter's table, as text.
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;

protected:
    // The command loop.
    DWORD ThreadProc() override;
    // Fills one sample. S_OK delivers it; kNoSample delivers nothing this
    // time (a pending request ended the fill: the request is answered
    // next, and a sample stamped for later never leaves early); S_FALSE
    // ends the stream; a failure ends it and reports EC_ERRORABORT to the
    // graph. Runs on the worker thread with no framework lock held.
    static constexpr HRESULT kNoSample = MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_ITF, 0x0201);
    virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
    // Worker hooks: start-up (a failure is the reply to CMD_INIT and ends
    // the worker), shut-down, and the start of each sample loop.
    virtual HRESULT OnThreadCreate();
    virtual HRESULT OnThreadDestroy();
    virtual HRESULT OnThreadStartPlay();
    // Get, fill, deliver, until a command that ends it.
    virtual HRESULT DoBufferProcessingLoop();

public:
    // The pin's single format; E_UNEXPECTED unless a derived pin has one.
    virtual HRESULT GetMediaType(CMediaType* mt);

protected:
    // Not counted: the filter owns the pin. Hides CBasePin::m_pFilter,
    // which points to the same object.
    CSource* const m_pFilter;
};
