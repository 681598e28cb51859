// The functions of Media Foundation's platform library (mfplat.dll) that
// the media source calls, loaded from the system folder when they are
// first needed rather than imported. Where Media Foundation is missing
// (Windows N and KN editions without the Media Feature Pack, stripped-down
// images) the loader would refuse a module that imports mfplat.dll as a
// whole, and the DirectShow camera, which needs none of it, would go with
// it; this way only the media source is missing there. The library stays
// loaded for the rest of the process once found.
//
// Any thread may call; the library is looked for once per process.
#pragma once

#include <windows.h>
#include <mfidl.h>
#include <mfobjects.h>

namespace media_foundation {

// Whether the functions are there: S_OK, or the reason they are not,
// the same every time: HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) without
// mfplat.dll, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) for an mfplat.dll
// that lacks one of them.
[[nodiscard]] HRESULT Load();

// MFCreateAttributes, MFCreateEventQueue, MFCreateMediaType,
// MFCreateMemoryBuffer, MFCreatePresentationDescriptor, MFCreateSample and
// MFCreateStreamDescriptor; without the library they answer Load's
// failure.
[[nodiscard]] HRESULT CreateAttributes(IMFAttributes** attributes, UINT32 initialSize);
[[nodiscard]] HRESULT CreateEventQueue(IMFMediaEventQueue** queue);
[[nodiscard]] HRESULT CreateMediaType(IMFMediaType** type);
[[nodiscard]] HRESULT CreateMemoryBuffer(DWORD maxLength, IMFMediaBuffer** buffer);
[[nodiscard]] HRESULT CreatePresentationDescriptor(DWORD count, IMFStreamDescriptor** descriptors,
                                                   IMFPresentationDescriptor** presentation);
[[nodiscard]] HRESULT CreateSample(IMFSample** sample);
[[nodiscard]] HRESULT CreateStreamDescriptor(DWORD id, DWORD typeCount, IMFMediaType** types,
                                             IMFStreamDescriptor** descriptor);
// MFGetSystemTime; 0 without the library (no media source exists then).
MFTIME SystemTime();

}  // namespace media_foundation
