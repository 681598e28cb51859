// The pin's IKsPropertySet: the pin category (PIN_CATEGORY_CAPTURE), read
// only, which capture applications (and ICaptureGraphBuilder2) ask of a
// capture pin.
#pragma once

#include <windows.h>
#include <dshow.h>

namespace pin_category {

// IKsPropertySet::Get: AMPROPSETID_Pin / AMPROPERTY_PIN_CATEGORY only; a
// null data pointer asks for the size.
HRESULT Get(REFGUID set, DWORD id, void* data, DWORD dataLength, DWORD* returned);
// IKsPropertySet::QuerySupported: the category can be read.
HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support);

}  // namespace pin_category
