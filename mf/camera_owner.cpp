#include "mf/camera_owner.h"

#include <mferror.h>

#include "framework/com_util.h"
#include "framework/diagnostic_log.h"
#include "mf/media_source_ids.h"

namespace camera_owner {

HRESULT OwnerOf(IMFAttributes* attributes, frame_ring::OwnerSid* owner) {
    RETURN_HR_IF(E_POINTER, attributes == nullptr || owner == nullptr);
    wchar_t given[frame_ring::kMaxSidTextLength] = {};
    UINT32 length = 0;
    const HRESULT found = attributes->GetString(kCameraOwnerAttribute, given, frame_ring::kMaxSidTextLength, &length);
    if (found == MF_E_ATTRIBUTENOTFOUND) {
        RETURN_IF_FAILED(frame_ring::ProcessUserSid(owner));
        diagnostic_log::Write("media source: no owner given, the camera of this process's user %ls", owner->text);
        return S_OK;
    }
    // Too long for a SID, or of another type: not an owner.
    RETURN_HR_IF(E_INVALIDARG, FAILED(found));
    const HRESULT parsed = frame_ring::ParseOwnerSid(given, owner);
    if (FAILED(parsed)) {
        diagnostic_log::Write("media source: the owner given is no SID (0x%08lX)", static_cast<unsigned long>(parsed));
        return parsed;
    }
    diagnostic_log::Write("media source: the camera of %ls", owner->text);
    return S_OK;
}

}  // namespace camera_owner
