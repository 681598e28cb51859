// Whose camera a media source is, which decides the frame ring it reads:
// rings are per user (frame_ring.h), so that no user sees or writes into
// another user's camera.
//
// Windows runs the source in its Frame Server (session 0, LOCAL SERVICE),
// not as the user. The user's qmcamera therefore sets its SID on each
// virtual camera it creates, as the attribute kCameraOwnerAttribute of the
// IMFVirtualCamera (an attribute store). The camera's attributes are
// expected to reach the source through IMFActivate (the source is its own
// activation object, whose attribute store is the source's), before the
// source starts. That path is what the public documentation suggests; it
// can be shown only on Windows 11 with the Frame Server, not here.
//
// A source without that attribute runs for the user of its own process:
// a client that runs the source in-process (the tests, qmmfclient, any
// application of the user). Inside the Frame Server without the attribute
// that is LOCAL SERVICE, a ring that no user's qmcamera can open: the
// camera then shows its standby frame rather than anyone's picture.
#pragma once

#include <windows.h>
#include <mfobjects.h>

#include "ring/frame_ring.h"

namespace camera_owner {

// The owner named by `attributes` (kCameraOwnerAttribute), else the user
// of this process. E_INVALIDARG when the attribute is there but holds no
// SID (the camera is then nobody's: no ring, rather than a guess);
// E_POINTER for null.
[[nodiscard]] HRESULT OwnerOf(IMFAttributes* attributes, frame_ring::OwnerSid* owner);

}  // namespace camera_owner
