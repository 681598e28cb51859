// Which camera a property page edits: the one its object (the device's
// filter, or its pin) is part of.
#pragma once

#include <windows.h>
#include <unknwn.h>

// The camera an object of the device is part of: its filter, or its pin
// (through the pin's filter). Camera 1 for anything else.
int CameraOfObject(IUnknown* object);
