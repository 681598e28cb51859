// Module-wide state: the table of served classes. The instance handle is
// framework/module_instance.h's, which DllMain sets.
#pragma once

#include <windows.h>

#include "module/class_factory.h"

extern const CFactoryTemplate g_Templates[];
extern const int g_cTemplates;

// Calls each row's load or unload hook, in row order.
void DllInitClasses(BOOL loading);
