// The instance handle of the module that holds the resources: the property
// pages' dialogs and titles. The framework loads them through it, so the
// handle lives here, at the bottom of the layers; the module's entry point
// sets it at process attach, and a test program that links the resources
// into itself sets it to its own handle.
#pragma once

#include <windows.h>

// The handle last set; null until SetModuleInstance is called.
HINSTANCE ModuleInstance();

// Called once, before anything loads a resource: by DllMain at process
// attach, or by a test program's main before its first test.
void SetModuleInstance(HINSTANCE instance);
