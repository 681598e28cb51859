#include "tests/reliability/reliability_support.h"

#include <cstdio>

#include "settings/capture_device_ids.h"
#include "framework/com_util.h"
#include "module/module.h"

using Microsoft::WRL::ComPtr;

namespace qmtest {

HRESULT CreateCaptureFilter(IBaseFilter** filter) {
    RETURN_HR_IF_NULL(E_POINTER, filter);
    *filter = nullptr;
    ComPtr<IClassFactory> factory;
    RETURN_IF_FAILED(GetClassObjectFromTable(g_Templates, g_cTemplates, CLSID_CaptureDevice,
                                             IID_PPV_ARGS(&factory)));
    return factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

Watchdog::Watchdog(const char* what, DWORD timeoutMs)
    : m_what(what), m_timeoutMs(timeoutMs), m_disarm(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    m_thread = ::CreateThread(nullptr, 0, &Watchdog::Watch, this, 0, nullptr);
}

Watchdog::~Watchdog() {
    ::SetEvent(m_disarm);
    if (m_thread != nullptr) {
        ::WaitForSingleObject(m_thread, INFINITE);
        ::CloseHandle(m_thread);
    }
    ::CloseHandle(m_disarm);
}

DWORD WINAPI Watchdog::Watch(LPVOID parameter) {
    auto* self = static_cast<Watchdog*>(parameter);
    if (::WaitForSingleObject(self->m_disarm, self->m_timeoutMs) == WAIT_TIMEOUT) {
        std::fprintf(stderr, "\nWATCHDOG: %s did not finish within %lu ms (a hang or a deadlock)\n",
                     self->m_what.c_str(), static_cast<unsigned long>(self->m_timeoutMs));
        std::fflush(stderr);
        std::fflush(stdout);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    return 0;
}

}  // namespace qmtest
