#include "mf/media_foundation.h"

#include <mfapi.h>

#include "framework/com_util.h"
#include "framework/system_functions.h"

namespace {

// The declared types of the functions, calling convention included
// (__stdcall on x86): decltype of the SDK's own declarations, which are
// never called directly, so nothing is imported.
struct Functions {
    HRESULT loaded = E_UNEXPECTED;
    decltype(&::MFCreateAttributes) createAttributes = nullptr;
    decltype(&::MFCreateEventQueue) createEventQueue = nullptr;
    decltype(&::MFCreateMediaType) createMediaType = nullptr;
    decltype(&::MFCreateMemoryBuffer) createMemoryBuffer = nullptr;
    decltype(&::MFCreatePresentationDescriptor) createPresentationDescriptor = nullptr;
    decltype(&::MFCreateSample) createSample = nullptr;
    decltype(&::MFCreateStreamDescriptor) createStreamDescriptor = nullptr;
    decltype(&::MFGetSystemTime) getSystemTime = nullptr;
};

Functions LoadFunctions() {
    return system_functions::Load<Functions>(L"mfplat.dll", [](HMODULE library, Functions* f) {
        using system_functions::Find;
        return Find(library, "MFCreateAttributes", &f->createAttributes) &&
               Find(library, "MFCreateEventQueue", &f->createEventQueue) &&
               Find(library, "MFCreateMediaType", &f->createMediaType) &&
               Find(library, "MFCreateMemoryBuffer", &f->createMemoryBuffer) &&
               Find(library, "MFCreatePresentationDescriptor", &f->createPresentationDescriptor) &&
               Find(library, "MFCreateSample", &f->createSample) &&
               Find(library, "MFCreateStreamDescriptor", &f->createStreamDescriptor) &&
               Find(library, "MFGetSystemTime", &f->getSystemTime);
    });
}

const Functions& Loaded() {
    // Initialised once, by whichever thread comes first; the others wait.
    static const Functions functions = LoadFunctions();
    return functions;
}

}  // namespace

namespace media_foundation {

HRESULT Load() {
    return Loaded().loaded;
}

HRESULT CreateAttributes(IMFAttributes** attributes, UINT32 initialSize) {
    const Functions& f = Loaded();
    RETURN_IF_FAILED(f.loaded);
    return f.createAttributes(attributes, initialSize);
}

HRESULT CreateEventQueue(IMFMediaEventQueue** queue) {
    const Functions& f = Loaded();
    RETURN_IF_FAILED(f.loaded);
    return f.createEventQueue(queue);
}

HRESULT CreateMediaType(IMFMediaType** type) {
    const Functions& f = Loaded();
    RETURN_IF_FAILED(f.loaded);
    return f.createMediaType(type);
}

HRESULT CreateMemoryBuffer(DWORD maxLength, IMFMediaBuffer** buffer) {
    const Functions& f = Loaded();
    RETURN_IF_FAILED(f.loaded);
    return f.createMemoryBuffer(maxLength, buffer);
}

HRESULT CreatePresentationDescriptor(DWORD count, IMFStreamDescriptor** descriptors,
                                     IMFPresentationDescriptor** presentation) {
    const Functions& f = Loaded();
    RETURN_IF_FAILED(f.loaded);
    return f.createPresentationDescriptor(count, descriptors, presentation);
}

HRESULT CreateSample(IMFSample** sample) {
    const Functions& f = Loaded();
    RETURN_IF_FAILED(f.loaded);
    return f.createSample(sample);
}

HRESULT CreateStreamDescriptor(DWORD id, DWORD typeCount, IMFMediaType** types, IMFStreamDescriptor** descriptor) {
    const Functions& f = Loaded();
    RETURN_IF_FAILED(f.loaded);
    return f.createStreamDescriptor(id, typeCount, types, descriptor);
}

MFTIME SystemTime() {
    const Functions& f = Loaded();
    return SUCCEEDED(f.loaded) ? f.getSystemTime() : 0;
}

}  // namespace media_foundation
