#include "tests/support/test_window_thread.h"

namespace qmtest {

namespace {

constexpr UINT kRunMessage = WM_APP + 1;
constexpr UINT kHangMessage = WM_APP + 2;

struct RunRequest {
    const std::function<void()>* work;
    HANDLE done;
};

}  // namespace

DWORD WINAPI TestWindowThread::ThreadProc(LPVOID parameter) {
    auto* self = static_cast<TestWindowThread*>(parameter);
    if (self->m_desktop != nullptr) {
        ::SetThreadDesktop(self->m_desktop);
    }
    const HANDLE ready = self->m_ready;
    MSG message;
    // The message queue exists from here on, so posts to the thread work.
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    ::SetEvent(ready);
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == kRunMessage) {
            const auto* request = reinterpret_cast<const RunRequest*>(message.lParam);
            (*request->work)();
            ::SetEvent(request->done);
            continue;
        }
        if (message.hwnd == nullptr && message.message == kHangMessage) {
            ::Sleep(static_cast<DWORD>(message.wParam));
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}

TestWindowThread::TestWindowThread(HDESK desktop) : m_desktop(desktop) {
    m_ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_ready == nullptr) {
        return;
    }
    m_thread = ::CreateThread(nullptr, 0, &ThreadProc, this, 0, &m_threadId);
    if (m_thread != nullptr) {
        ::WaitForSingleObject(m_ready, INFINITE);
    }
    ::CloseHandle(m_ready);
    m_ready = nullptr;
}

TestWindowThread::~TestWindowThread() {
    if (m_thread == nullptr) {
        return;
    }
    Run([this]() { m_windows.clear(); });
    ::PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
    ::WaitForSingleObject(m_thread, INFINITE);
    ::CloseHandle(m_thread);
}

void TestWindowThread::Run(const std::function<void()>& work) {
    const HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    RunRequest request = {&work, done};
    if (done != nullptr &&
        ::PostThreadMessageW(m_threadId, kRunMessage, 0, reinterpret_cast<LPARAM>(&request))) {
        ::WaitForSingleObject(done, INFINITE);
    }
    if (done != nullptr) {
        ::CloseHandle(done);
    }
}

HRESULT TestWindowThread::Create(const wchar_t* className, const wchar_t* title, int clientWidth,
                                 int clientHeight, const TestWindowPainter& painter, HWND* window, int x, int y,
                                 DWORD exStyle) {
    HRESULT hr = E_FAIL;
    Run([&]() {
        auto created = std::make_unique<TestWindow>();
        hr = created->Create(className, title, clientWidth, clientHeight, painter, x, y, exStyle);
        if (SUCCEEDED(hr)) {
            if (window != nullptr) {
                *window = created->hwnd();
            }
            m_windows.push_back(std::move(created));
        }
    });
    return hr;
}

TestWindow* TestWindowThread::Find(HWND window) {
    for (const auto& candidate : m_windows) {
        if (candidate->hwnd() == window) {
            return candidate.get();
        }
    }
    return nullptr;
}

void TestWindowThread::Paint(HWND window, const TestWindowPainter& painter) {
    Run([&]() {
        if (TestWindow* found = Find(window)) {
            found->Paint(painter);
        }
    });
}

void TestWindowThread::Destroy(HWND window) {
    Run([&]() {
        for (auto it = m_windows.begin(); it != m_windows.end(); ++it) {
            if ((*it)->hwnd() == window) {
                m_windows.erase(it);
                return;
            }
        }
    });
}

void TestWindowThread::Hang(DWORD milliseconds) {
    ::PostThreadMessageW(m_threadId, kHangMessage, milliseconds, 0);
}

}  // namespace qmtest
