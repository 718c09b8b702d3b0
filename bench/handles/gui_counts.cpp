// gui_counts PID: prints the GDI and USER object counts, the handle count and the private bytes
// of another process as one JSON line:
//   {"pid":N,"gdi":N,"user":N,"handles":N,"private":N}
// Exit code 1 when the process cannot be opened or a count cannot be read.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: gui_counts PID\n", stderr);
        return 2;
    }
    const DWORD pid = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 0));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) {
        std::fprintf(stderr, "cannot open process %lu (error %lu)\n", pid, GetLastError());
        return 1;
    }
    const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    DWORD handles = 0;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    const bool ok =
        GetProcessHandleCount(process, &handles) &&
        GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory);
    const DWORD error = GetLastError();
    CloseHandle(process);
    if (!ok) {
        std::fprintf(stderr, "cannot read the counts of process %lu (error %lu)\n", pid, error);
        return 1;
    }
    std::printf("{\"pid\":%lu,\"gdi\":%lu,\"user\":%lu,\"handles\":%lu,\"private\":%lu}\n", pid,
                gdi, user, handles, static_cast<unsigned long>(memory.PrivateUsage));
    return 0;
}
