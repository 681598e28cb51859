#include "tools/camera_app/single_instance.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

namespace {

// Whether the object behind `object` (opened with READ_CONTROL) has `user`
// as its owner.
HRESULT IsOwnedBy(HANDLE object, PSID user, bool* owned) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = ::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                         nullptr, nullptr, &descriptor);
    RETURN_HR_IF(HResultFromWin32(read), read != ERROR_SUCCESS);
    const UniqueResource<frame_ring::LocalMemoryTraits> descriptorOwner(descriptor);
    *owned = owner != nullptr && ::EqualSid(owner, user);
    return S_OK;
}

}  // namespace

namespace qmcamera {

std::wstring CSingleInstance::ObjectName(const wchar_t* prefix, const frame_ring::OwnerSid& user) {
    return std::wstring(prefix != nullptr ? prefix : L"") + L"QMCapture." + user.text + L".qmcamera";
}

HRESULT CSingleInstance::Claim(const wchar_t* prefix, const frame_ring::OwnerSid& user) {
    RETURN_HR_IF_NULL(E_POINTER, prefix);
    RETURN_HR_IF(E_UNEXPECTED, static_cast<bool>(m_mutex));
    PSID sid = nullptr;
    RETURN_HR_IF(E_INVALIDARG, ::wmemchr(user.text, L'\0', frame_ring::kMaxSidTextLength) == nullptr ||
                                   !::ConvertStringSidToSidW(user.text, &sid));
    const UniqueResource<frame_ring::LocalMemoryTraits> sidOwner(sid);

    // Owned by the user (not the Administrators group an elevated start
    // would give it by default), so that a start that is not elevated
    // recognises it; only the user and SYSTEM may open it.
    const std::wstring sddl =
        std::wstring(L"O:") + user.text + L"D:P(A;;GA;;;" + user.text + L")(A;;GA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    RETURN_HR_IF(HResultFromLastError(), !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                             sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    const UniqueResource<frame_ring::LocalMemoryTraits> descriptorOwner(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};

    const std::wstring name = ObjectName(prefix, user);
    // No more access than a start that finds it needs: waiting (never done;
    // the handle's existence is the claim) and reading its owner. Reading
    // is what even a start that is not elevated may do to one made by an
    // elevated start, whose integrity level is higher.
    ::SetLastError(ERROR_SUCCESS);
    UniqueHandle mutex(::CreateMutexExW(&attributes, name.c_str(), 0, SYNCHRONIZE | READ_CONTROL));
    const DWORD error = ::GetLastError();
    const HRESULT failure = HResultFromLastError();
    // It exists, and the user may not open it: not the user's.
    RETURN_HR_IF(E_ACCESSDENIED, !mutex && error == ERROR_ACCESS_DENIED);
    RETURN_HR_IF(failure, !mutex);
    if (error == ERROR_ALREADY_EXISTS) {
        bool owned = false;
        RETURN_IF_FAILED(IsOwnedBy(mutex.get(), sid, &owned));
        RETURN_HR_IF(E_ACCESSDENIED, !owned);
        return S_FALSE;
    }
    m_mutex = std::move(mutex);
    return S_OK;
}

HRESULT CSingleInstance::IsRunning(const wchar_t* prefix, const frame_ring::OwnerSid& user) {
    RETURN_HR_IF_NULL(E_POINTER, prefix);
    PSID sid = nullptr;
    RETURN_HR_IF(E_INVALIDARG, ::wmemchr(user.text, L'\0', frame_ring::kMaxSidTextLength) == nullptr ||
                                   !::ConvertStringSidToSidW(user.text, &sid));
    const UniqueResource<frame_ring::LocalMemoryTraits> sidOwner(sid);

    const std::wstring name = ObjectName(prefix, user);
    const UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE, name.c_str()));
    if (!mutex) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            // No object of that name: no qmcamera of the user's holds it.
            return S_FALSE;
        }
        RETURN_HR_IF(E_ACCESSDENIED, error == ERROR_ACCESS_DENIED);
        return HResultFromWin32(error);
    }
    bool owned = false;
    RETURN_IF_FAILED(IsOwnedBy(mutex.get(), sid, &owned));
    RETURN_HR_IF(E_ACCESSDENIED, !owned);
    return S_OK;
}

}  // namespace qmcamera
