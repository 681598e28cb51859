// qmsettings' camera picker: the cameras of the machine's list, to open
// the pages of one, or to add, rename or remove one. Adding, renaming and
// removing run qmcapture's camera commands, which ask for administrator
// rights when they lack them.
#pragma once

#include <windows.h>

namespace qmsettings {

// Shows the picker until a camera is chosen (its number) or the picker is
// closed (0).
int ChooseCamera(HINSTANCE instance);

}  // namespace qmsettings
