// Module-wide state: the instance handle and the table of served classes.
#pragma once

#include <windows.h>

#include "module/class_factory.h"

// Set at process attach; loads the module's resources and names its path.
extern HINSTANCE g_hInst;

extern const CFactoryTemplate g_Templates[];
extern const int g_cTemplates;

// Calls each row's load or unload hook, in row order.
void DllInitClasses(BOOL loading);
