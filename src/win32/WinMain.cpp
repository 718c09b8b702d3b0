// The program's entry point: one instance per session, then the main window and the message
// loop until the program's one shutdown (VarnekIT::Shutdown) ends the process with EndProcess
// below. `VarnekIT.exe /selftest` runs the self-test instead.
#include "win32/WinMain.h"

#include "app/Application.h"
#include "app/VarnekIT.h"
#include "win32/Barrier.h"
#include "win32/ProgramServices.h"
#include "win32/SelfTest.h"
#include "win32/SystemLibrary.h"
#include "win32/UniqueHandle.h"
#include "win32/Window.h"

#include <windows.h>

namespace {

constexpr const wchar_t* InstanceMutexName = L"Local\\VarnekIT.Running";

// Libraries loaded by bare name (by the program, or by Windows for it) come from the system
// folder only, never from the program's folder, which its users can write. Windows 7 and Vista
// have the function only with their update KB2533623; without it the program runs as always.
void LoadLibrariesFromTheSystemFolder() {
    const auto setDefault = varnek::win32::SystemFunction<BOOL(WINAPI*)(DWORD)>(
        L"kernel32.dll", "SetDefaultDllDirectories");
    if (setDefault) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    using namespace varnek::win32;
    LoadLibrariesFromTheSystemFolder();
    if (IsSelfTestCommandLine(commandLine ? commandLine : L"")) {
        return RunSelfTest();
    }

    // A second start in the same session ends at once, silently. Held for the whole run (the
    // process's end releases it).
    const UniqueHandle instance(CreateMutexW(nullptr, FALSE, InstanceMutexName));
    if (!instance || GetLastError() == ERROR_ALREADY_EXISTS) {
        return 0;
    }

    ProgramServices services;
    const FailureLog failureLog(services.updateLog);
    varnek::Application app(services.Record());
    // A program error in the start leaves no program to run: it ends, and the log says why.
    const bool started = Barrier(
        "the program's start",
        [&] {
            app.LoadMainWindow();
            return true;
        },
        [] { return false; });
    if (!started) {
        return 1;
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchQueued(message);
        app.ReleaseUnloaded();
    }
    // The program never posts WM_QUIT, but another program can; the loop also stops when the
    // queue fails. Either way the program ends as it always does.
    app.MainWindow().Shutdown();
}

void varnek::win32::EndProcess(UINT code) {
    TerminateProcess(GetCurrentProcess(), code);
    // Not reached: the call ends this thread with the others. Were it ever refused, the ordinary
    // way out is all there is.
    ExitProcess(code);
}
