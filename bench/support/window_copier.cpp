#include "bench/support/window_copier.h"

namespace qmbench {

WindowCopier::WindowCopier(int width, int height) {
    if (!m_dib.Create(width, height, 32, /*topDown=*/true) || !m_request || !m_done) {
        return;
    }
    m_thread.reset(::CreateThread(nullptr, 0, &WindowCopier::ThreadProc, this, 0, nullptr));
}

WindowCopier::~WindowCopier() {
    if (m_thread) {
        m_window = nullptr;
        ::SetEvent(m_request.get());
        ::WaitForSingleObject(m_thread.get(), INFINITE);
    }
}

void WindowCopier::Read(HWND window) {
    if (!ok() || window == nullptr) {
        return;
    }
    m_window = window;
    ::SetEvent(m_request.get());
    ::WaitForSingleObject(m_done.get(), INFINITE);
}

DWORD WINAPI WindowCopier::ThreadProc(LPVOID parameter) {
    auto* self = static_cast<WindowCopier*>(parameter);
    for (;;) {
        ::WaitForSingleObject(self->m_request.get(), INFINITE);
        const HWND window = self->m_window;
        if (window == nullptr) {
            return 0;
        }
        {
            WindowDc dc(window);
            ::BitBlt(self->m_dib.Dc(), 0, 0, self->m_dib.Width(), self->m_dib.Height(), dc.get(), 0, 0, SRCCOPY);
        }
        ::GdiFlush();
        ::SetEvent(self->m_done.get());
    }
}

}  // namespace qmbench
