// CSampleCallback: the one base of the sample grabber's callbacks (the
// capture client's, the tests' and the benchmarks'). It answers for
// IUnknown and ISampleGrabberCB and refuses BufferCB: every callback here
// is set up for SampleCB, which carries the sample and its times.
//
// Not counted unless a derived class counts: a callback that its owner
// keeps alive longer than the graph that calls it (a member, a local that
// outlives the graph) needs no count. One the graph may outlive (the
// client's FrameGrabber) overrides AddRef and Release.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

class CSampleCallback : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISampleGrabberCB)) {
            *ppv = static_cast<ISampleGrabberCB*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE BufferCB(double /*sampleTime*/, BYTE* /*buffer*/, LONG /*length*/) override {
        return E_NOTIMPL;
    }

protected:
    CSampleCallback() = default;
    ~CSampleCallback() = default;
};
