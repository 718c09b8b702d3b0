// Stands in for a running remote-control client that the program may end. It writes its
// process id to <own name>.log beside itself, then waits: until it is ended, or for at most
// ten minutes (or the number of seconds given as its first argument, if fewer), so that
// nothing lingers after a test.
#include "toolio.h"

#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    DWORD seconds = 600;
    if (argc > 1) {
        unsigned long wanted = std::wcstoul(argv[1], nullptr, 10);
        if (wanted < seconds)
            seconds = DWORD(wanted);
    }
    const std::string line = "{\"pid\":" + std::to_string(GetCurrentProcessId()) +
                             ",\"exe\":" + toolio::jsonString(toolio::modulePath()) + "}";
    if (!toolio::appendLine(toolio::logPathBesideSelf(), line))
        return 3;

    // Waiting for messages marks the process as idle for whoever started it.
    const ULONGLONG end = GetTickCount64() + seconds * 1000ULL;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return 0;
        }
    }
    return 0;
}
