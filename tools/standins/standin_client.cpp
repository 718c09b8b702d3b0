// Stands in for the remote-control client that the program starts. It writes how it was
// started (command line, working folder, show command) to <own name>.log beside itself and ends.
#include "toolio.h"

#include <windows.h>

#include <string>

int wmain() {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    GetStartupInfoW(&si);
    const int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? int(si.wShowWindow) : -1;

    std::wstring cwd(GetCurrentDirectoryW(0, nullptr), L'\0');
    cwd.resize(GetCurrentDirectoryW(DWORD(cwd.size()), cwd.data()));

    const std::string line = "{\"pid\":" + std::to_string(GetCurrentProcessId()) +
                             ",\"cmdline\":" + toolio::jsonString(GetCommandLineW()) +
                             ",\"cwd\":" + toolio::jsonString(cwd) +
                             ",\"show\":" + std::to_string(show) +
                             ",\"exe\":" + toolio::jsonString(toolio::modulePath()) + "}";
    return toolio::appendLine(toolio::logPathBesideSelf(), line) ? 0 : 3;
}
