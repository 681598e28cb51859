// Functions of a system DLL that the module must not import (it has to load
// where that DLL is missing): looked up at run time, all or none.
#pragma once

#include <windows.h>

#include "framework/com_util.h"

namespace system_functions {

// `function` gets the export `name` of `library`, as its declared type
// (calling convention included: decltype of the SDK's own declaration,
// never called directly, so nothing is imported). False when it is not
// there.
template <typename Function>
bool Find(HMODULE library, const char* name, Function* function) {
    const FARPROC address = ::GetProcAddress(library, name);
    // GetProcAddress returns a generic function pointer; the function's
    // real type is the declared one.
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    return address != nullptr;
}

// Loads `name` from System32 (never a library of that name beside a host
// program) and has findAll(library, &functions) look up what it needs.
// Functions is a struct of function pointers with an HRESULT `loaded`,
// which says whether they were all found or why not (the loader's error,
// or ERROR_PROC_NOT_FOUND with every pointer null). Once found, the
// library stays loaded for the process: objects made through it may
// outlive this module.
template <typename Functions, typename FindAll>
Functions Load(const wchar_t* name, FindAll findAll) {
    Functions functions;
    const HMODULE library = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        functions.loaded = HResultFromLastError();
        return functions;
    }
    if (!findAll(library, &functions)) {
        functions = Functions{};
        functions.loaded = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        ::FreeLibrary(library);
        return functions;
    }
    functions.loaded = S_OK;
    return functions;
}

}  // namespace system_functions
