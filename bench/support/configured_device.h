// The device made in this process (no registration needed) and set
// through IAMStreamConfig to one of its capabilities at a frame time, as
// an application chooses a camera's format before it connects.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

namespace qmbench {

// capability: an index of GetStreamCaps (every size in RGB24, then in
// NV12, YUY2, I420 and RGB32); *subtype (optional) receives its subtype.
HRESULT CreateConfiguredDevice(int capability, REFERENCE_TIME frameTime, Microsoft::WRL::ComPtr<IBaseFilter>* filter,
                               GUID* subtype = nullptr);

}  // namespace qmbench
