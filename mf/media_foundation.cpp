#include "mf/media_foundation.h"

#include <mfapi.h>

#include "framework/com_util.h"

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

template <typename Function>
bool Find(HMODULE library, const char* name, Function* function) {
    const FARPROC address = ::GetProcAddress(library, name);
    // GetProcAddress returns a generic function pointer; the function's
    // real type is the declared one.
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    return address != nullptr;
}

Functions LoadFunctions() {
    Functions functions;
    // System32 only: never a library of that name beside a host program.
    const HMODULE library = ::LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        functions.loaded = HResultFromLastError();
        return functions;
    }
    const bool found = Find(library, "MFCreateAttributes", &functions.createAttributes) &&
                       Find(library, "MFCreateEventQueue", &functions.createEventQueue) &&
                       Find(library, "MFCreateMediaType", &functions.createMediaType) &&
                       Find(library, "MFCreateMemoryBuffer", &functions.createMemoryBuffer) &&
                       Find(library, "MFCreatePresentationDescriptor", &functions.createPresentationDescriptor) &&
                       Find(library, "MFCreateSample", &functions.createSample) &&
                       Find(library, "MFCreateStreamDescriptor", &functions.createStreamDescriptor) &&
                       Find(library, "MFGetSystemTime", &functions.getSystemTime);
    if (!found) {
        functions = Functions{};
        functions.loaded = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        ::FreeLibrary(library);
        return functions;
    }
    // Kept for the process: objects made with it may outlive this module.
    functions.loaded = S_OK;
    return functions;
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
