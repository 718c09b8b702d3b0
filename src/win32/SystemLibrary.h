// Functions of system libraries the program needs only now and then. Each library is loaded
// on first use, and only from the system folder, so the program starts without it and a file
// of the same name in the program's or the current folder is never taken.
#pragma once

#include <windows.h>

namespace varnek::win32 {

// Loads the system library `library` (a bare file name) from the system folder; null when it
// is not there.
HMODULE LoadSystemLibrary(const wchar_t* library);

// The function `name` of the system library `library`, loaded now if it is not yet; null when
// either is missing. The library stays loaded for the rest of the process.
template <typename Function> Function SystemFunction(const wchar_t* library, const char* name) {
    HMODULE module = GetModuleHandleW(library);
    if (!module) {
        module = LoadSystemLibrary(library);
    }
    return module
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

// COM on this thread, started on first need: for the picture decoder and for the shell's
// handlers of files and addresses. False when COM could not be started.
bool EnsureCom();

} // namespace varnek::win32
