// The window, picture and capture tests create windows of class
// "Quillmere::MainFrame" and expect the frame source to find exactly those
// (or none). Other test programs may run at the same time under the same
// display, so the main thread moves to a desktop of this process before
// main starts COM. Linked into those programs only (cmake/Tests.cmake):
// in the support library nothing would pull it in.
#include <cstdio>

#include "tests/support/test_window.h"

namespace qmtest {

namespace {

struct EnterPrivateDesktop {
    EnterPrivateDesktop() {
        const HRESULT hr = PrivateTestDesktop::Enter();
        if (FAILED(hr)) {
            std::fprintf(stderr, "private test desktop: 0x%08lx\n", static_cast<unsigned long>(hr));
        }
    }
};

const EnterPrivateDesktop g_enterPrivateDesktop;

}  // namespace

}  // namespace qmtest
