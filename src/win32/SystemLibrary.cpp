#include "win32/SystemLibrary.h"

#include <objbase.h>

#include <string>

namespace varnek::win32 {

HMODULE LoadSystemLibrary(const wchar_t* library) {
    if (const HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return module;
    }
    // Windows 7 and Vista without their update KB2533623 refuse the flag as an invalid
    // parameter: there the library is named by its whole path in the system folder, and its
    // own libraries are looked for beside it first.
    if (GetLastError() != ERROR_INVALID_PARAMETER) {
        return nullptr;
    }
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    const std::wstring path = std::wstring(folder, length) + L"\\" + library;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool EnsureCom() {
    static const bool started = [] {
        const auto initialize =
            SystemFunction<decltype(&CoInitializeEx)>(L"ole32.dll", "CoInitializeEx");
        // ShellExecute may hand the launch to a shell extension that is a COM object: that
        // needs a single-threaded apartment, and DDE through OLE1 is of no use to it.
        // S_FALSE: this thread had COM already.
        return initialize &&
               SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }();
    return started;
}

} // namespace varnek::win32
