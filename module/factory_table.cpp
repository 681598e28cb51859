// The classes this module serves, in row order.
#include "module/module.h"

const CFactoryTemplate g_Templates[] = {
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
const int g_cTemplates = 0;
