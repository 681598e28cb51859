#include "framework/module_instance.h"

namespace {

// Written before any page exists (at process attach, or at the start of a
// test program) and only read after, so it needs no lock.
HINSTANCE g_moduleInstance = nullptr;

}  // namespace

HINSTANCE ModuleInstance() {
    return g_moduleInstance;
}

void SetModuleInstance(HINSTANCE instance) {
    g_moduleInstance = instance;
}
