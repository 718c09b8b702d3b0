// Calls ShellExecuteW the way a program does, for checking a prefix's handlers from a test:
//   shellexec [--verb V] [--dir D] [--show N] [--owner 0xHWND] FILE [PARAMETERS]
// Prints the value ShellExecuteW returned (greater than 32 means it started something).
#include "toolio.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    const wchar_t* verb = L"open";
    const wchar_t* dir = nullptr;
    const wchar_t* params = nullptr;
    const wchar_t* file = nullptr;
    HWND owner = nullptr;
    int show = SW_SHOWNORMAL;
    bool usage = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--verb" && i + 1 < argc)
            verb = argv[++i];
        else if (a == L"--dir" && i + 1 < argc)
            dir = argv[++i];
        else if (a == L"--show" && i + 1 < argc)
            show = int(std::wcstol(argv[++i], nullptr, 10));
        else if (a == L"--owner" && i + 1 < argc)
            owner = HWND(uintptr_t(std::wcstoull(argv[++i], nullptr, 16)));
        else if (!file)
            file = argv[i];
        else if (!params)
            params = argv[i];
        else
            usage = true;
    }
    if (usage || !file) {
        toolio::writeLine("usage: shellexec [--verb V] [--dir D] [--show N] [--owner 0xHWND] "
                          "FILE [PARAMETERS]");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INT_PTR r = INT_PTR(ShellExecuteW(owner, verb, file, params, dir, show));
    toolio::writeLine(std::to_string(r));
    return r > 32 ? 0 : 1;
}
