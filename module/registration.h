// Self-registration: the COM class keys of every served class and the
// filter's entries in the system filter mapper.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <vector>

// Registration records in the layouts the filter mappers take.
using AMOVIESETUP_MEDIATYPE = REGPINTYPES;
using AMOVIESETUP_PIN = REGFILTERPINS;
struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    const WCHAR* strName;
    DWORD dwMerit;
    UINT nPins;
    const AMOVIESETUP_PIN* lpPin;
};

// The capture filter's record: one video output pin "RGB Out".
extern const AMOVIESETUP_FILTER sudCaptureDevice;

// The file path of `module` (null: the program), through getName, which is
// GetModuleFileNameW unless a test injects a failure the platform does not
// produce on demand. A failure, also one without an error code, leaves
// `path` empty.
using ModuleFileNameFn = DWORD(WINAPI*)(HMODULE module, LPWSTR name, DWORD capacity);
[[nodiscard]] HRESULT GetModulePath(HMODULE module, std::vector<wchar_t>& path, ModuleFileNameFn getName = &::GetModuleFileNameW);

// Registers (TRUE) or withdraws (FALSE) the class keys of every row of the
// factory table and the mapper data of every row that has a record.
[[nodiscard]] HRESULT AMovieDllRegisterServer2(BOOL doRegister);

// Writes or removes the class keys of all rows, stopping at the first
// failure.
[[nodiscard]] HRESULT RegisterAllServers(LPCWSTR modulePath, BOOL doRegister);

// Writes HKCR\CLSID\{clsid} with its description and server subkey.
[[nodiscard]] HRESULT AMovieSetupRegisterServer(const CLSID& clsid, LPCWSTR description, LPCWSTR modulePath,
                                  LPCWSTR threadingModel, LPCWSTR serverType);

// Removes HKCR\CLSID\{clsid} with everything below it; a missing key is
// success.
[[nodiscard]] HRESULT AMovieSetupUnregisterServer(const CLSID& clsid);

// Removes a key with all its descendants. A missing key is success. Stops,
// leaving the rest in place, when a subkey survives its own removal.
[[nodiscard]] HRESULT EliminateSubKey(HKEY parent, LPCWSTR name);
// The same with the deletion step supplied, so that a key that survives
// its deletion can be simulated.
using RegDeleteKeyFn = LONG(WINAPI*)(HKEY parent, LPCWSTR name);
[[nodiscard]] HRESULT EliminateSubKeyUsing(HKEY parent, LPCWSTR name, RegDeleteKeyFn deleteKey);

// Announces (or only withdraws) one filter through the current or the
// older mapper interface. S_FALSE for a null record.
[[nodiscard]] HRESULT AMovieSetupRegisterFilter2(const AMOVIESETUP_FILTER* setup, IFilterMapper2* mapper, BOOL doRegister);
[[nodiscard]] HRESULT AMovieSetupRegisterFilter(const AMOVIESETUP_FILTER* setup, IFilterMapper* mapper, BOOL doRegister);
