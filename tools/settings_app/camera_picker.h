// qmsettings' camera picker: the cameras of the machine's list, to open
// the pages of one, or to add, rename or remove one. Adding, renaming and
// removing run qmcapture's camera commands in this process, with their
// rule on administrator rights: a refusal for want of them starts
// qmcapture.exe with them once, and only while this process's token is
// not elevated; the elevated run is marked and never asks again.
#pragma once

#include <windows.h>

namespace qmsettings {

// Shows the picker until a camera is chosen (its number) or the picker is
// closed (0).
int ChooseCamera(HINSTANCE instance);

}  // namespace qmsettings
