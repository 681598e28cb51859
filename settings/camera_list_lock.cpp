#include "settings/camera_list_lock.h"

#include <sddl.h>

#include "framework/diagnostic_log.h"

namespace {

struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type Null() { return nullptr; }
    static void Close(Type memory) { ::LocalFree(memory); }
};

}  // namespace

CCameraListLock::~CCameraListLock() {
    if (m_held) {
        ::ReleaseMutex(m_mutex.get());
    }
}

HRESULT CCameraListLock::Acquire(DWORD timeoutMs) {
    RETURN_HR_IF(E_UNEXPECTED, m_held);
    if (!m_mutex) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        RETURN_HR_IF(HResultFromLastError(), !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                                 kCameraListLockSecurity, SDDL_REVISION_1, &descriptor, nullptr));
        const UniqueResource<LocalMemoryTraits> owned(descriptor);
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
        // Only the rights the DACL grants everyone, so that opening the
        // mutex another user made succeeds as creating it does.
        m_mutex.reset(::CreateMutexExW(&attributes, kCameraListLockName, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
        RETURN_HR_IF(HResultFromLastError(), !m_mutex);
    }
    const DWORD waited = ::WaitForSingleObject(m_mutex.get(), timeoutMs);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_TIMEOUT), waited == WAIT_TIMEOUT);
    RETURN_HR_IF(HResultFromLastError(), waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED);
    if (waited == WAIT_ABANDONED) {
        // A holder ended inside a change. Each change is a few single-key
        // writes that the next change checks afresh, so the list is usable.
        diagnostic_log::Write("the camera list's lock was abandoned by a process that ended while holding it");
    }
    m_held = true;
    return S_OK;
}
