// The cameras one module serves. Camera 1 is the device that has always
// been: its class, its name "QM Capture Device" and its settings under
// HKEY_CURRENT_USER\Software\QMCapture. Cameras 2..8 each have a class of
// their own, a name the user chose and settings of their own under
// HKEY_CURRENT_USER\Software\QMCapture\Cameras\N. Which of them exist is
// the machine's camera list: HKEY_LOCAL_MACHINE\Software\QMCapture\Cameras\N
// with the value FriendlyName, read in the 64-bit registry view by the
// modules of both architectures, so that 32- and 64-bit applications see
// the same cameras.
#pragma once

#include <windows.h>

#include <cstddef>

#include "settings/settings_store.h"

inline constexpr int kFirstCamera = 1;
inline constexpr int kMaxCameras = 8;
// A camera name: 1 to 63 characters, and its terminator.
inline constexpr size_t kCameraNameCapacity = 64;

inline constexpr wchar_t kCameraListKeyPath[] = L"Software\\QMCapture\\Cameras";
inline constexpr wchar_t kCameraNameValue[] = L"FriendlyName";

// The class identifier of camera 1..8; nullptr for any other number.
const GUID* CameraClassId(int camera);

// The camera whose class `clsid` is; 0 for another class.
int CameraOfClassId(const GUID& clsid);

// The settings key of a camera, below HKEY_CURRENT_USER.
struct CameraSettingsPath {
    char text[CSettingsKey::kMaxPath] = {};
};
// Camera 1's key for any number outside 2..8.
CameraSettingsPath SettingsPathOfCamera(int camera);

// The machine's camera list. Every function reads or writes the registry
// afresh; nothing is cached, so another process's change shows at once.
// Each change (Add, Remove, Rename) checks and writes under
// CCameraListLock, so that changes made at once by several threads,
// processes or users follow one another; each of them may answer
// HRESULT_FROM_WIN32(ERROR_TIMEOUT) when another change holds the lock
// for far longer than a change takes, and then changes nothing.
class CCameraList {
public:
    // Camera 1's name for 1; the listed name for a listed camera (S_OK).
    // S_FALSE and an empty name for a number that is not listed, or whose
    // stored name is not a name (not REG_SZ, unterminated, or against the
    // rule of CheckName).
    // E_INVALIDARG for a number outside 1..8, E_POINTER for null.
    [[nodiscard]] static HRESULT GetName(int camera, wchar_t* name, size_t capacity);

    // Whether `name` may be given to `camera` (0: a new camera): S_OK, or
    // E_INVALIDARG for a name that is empty, longer than 63 characters,
    // made only of digits (of any script: it would read as a number), or
    // that holds a control character (U+0000-U+001F, U+007F-U+009F), a
    // line or paragraph separator (U+2028, U+2029), a text-direction
    // control or mark (U+061C, U+200E, U+200F, U+202A-U+202E,
    // U+2066-U+2069) or half of a surrogate pair without the other; or
    // HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) (another camera has it,
    // compared without regard to case).
    [[nodiscard]] static HRESULT CheckName(const wchar_t* name, int camera);

    // Lists a new camera under the lowest free number and returns it. The
    // current user's settings left under that number (of a camera removed
    // by another user, or of an entry that is no name) are cleared first.
    // HRESULT_FROM_WIN32(ERROR_TOO_MANY_NAMES) when all eight exist;
    // E_ACCESSDENIED without the right to write the machine's list.
    [[nodiscard]] static HRESULT Add(const wchar_t* name, int* camera);
    // Takes a camera 2..8 off the list with everything stored below its
    // entry, and the current user's settings of it (a camera added later
    // under that number starts afresh).
    // E_INVALIDARG for camera 1 or a number outside 1..8,
    // HRESULT_FROM_WIN32(ERROR_NOT_FOUND) for one that is not listed.
    [[nodiscard]] static HRESULT Remove(int camera);
    // Renames a listed camera 2..8; errors as Add and Remove.
    [[nodiscard]] static HRESULT Rename(int camera, const wchar_t* name);

    // The camera that a text names: a number 1..8 of a camera that exists,
    // or a camera's name (without regard to case). 0 when none.
    static int Find(const wchar_t* numberOrName);
};
