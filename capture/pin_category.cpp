#include "capture/pin_category.h"

#include <uuids.h>

#include "framework/com_util.h"

namespace pin_category {

namespace {

constexpr DWORD kPinCategorySize = sizeof(GUID);

}  // namespace

HRESULT Get(REFGUID set, DWORD id, void* data, DWORD dataLength, DWORD* returned) {
    RETURN_HR_IF(E_PROP_SET_UNSUPPORTED, !IsEqualGUID(set, AMPROPSETID_Pin));
    RETURN_HR_IF(E_PROP_ID_UNSUPPORTED, id != AMPROPERTY_PIN_CATEGORY);
    RETURN_HR_IF(E_POINTER, data == nullptr && returned == nullptr);
    if (returned != nullptr) {
        *returned = kPinCategorySize;
    }
    if (data == nullptr) {
        return S_OK;  // a size query
    }
    RETURN_HR_IF(E_UNEXPECTED, dataLength < kPinCategorySize);
    *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    RETURN_HR_IF(E_PROP_SET_UNSUPPORTED, !IsEqualGUID(set, AMPROPSETID_Pin));
    RETURN_HR_IF(E_PROP_ID_UNSUPPORTED, id != AMPROPERTY_PIN_CATEGORY);
    if (support != nullptr) {
        *support = KSPROPERTY_SUPPORT_GET;
    }
    return S_OK;
}

}  // namespace pin_category
