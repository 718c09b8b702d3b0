// The Win32 services of one run of the program, each made once, and the record of them that the
// core takes. Making them does nothing yet: no setting is read, no library loaded, nothing
// written.
#pragma once

#include "app/Application.h"
#include "win32/Authenticode.h"
#include "win32/Files.h"
#include "win32/GdiIconMaker.h"
#include "win32/ReadService.h"
#include "win32/UiTask.h"
#include "win32/UpdateLogFile.h"
#include "win32/ViewFactory.h"
#include "win32/Win32Services.h"

namespace varnek::win32 {

struct ProgramServices {
    UpdateLogFile updateLog; // first, so that it outlives everything that writes to it
    UiTasks tasks;           // before the services whose workers post to it
    RegistrySettingsStore store;
    NotifyShell notifyShell;
    GdiIconMaker iconMaker;
    Shell shell;
    Files files;
    Processes processes{tasks};
    Dialogs dialogs;
    Registry registry;
    Machine machine;
    ReadService reads{tasks};
    Clock clock;
    Authenticode signatures;
    Policies policies;
    ViewFactory views;

    Services Record() {
        return Services{store,     notifyShell, iconMaker, shell,          files, processes,
                        dialogs,   registry,    machine,   reads,          clock, signatures,
                        updateLog, policies,    views,     ProgramFolder()};
    }
};

} // namespace varnek::win32
