// The platform services the portable core uses. The Win32 layer implements each of them; the
// unit tests use in-memory fakes.
#pragma once

#include "platform/Files.h"
#include "platform/Handles.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

// Launches through the shell (ShellExecute).
class IShell {
public:
    virtual ~IShell() = default;
    // The active window of the calling thread (GetActiveWindow), 0 if none.
    virtual WindowHandle GetActiveWindow() = 0;
    // ShellExecute: `parameters` and `directory` may be absent (null) or given (even empty).
    // Returns the shell's result, greater than 32 on success.
    virtual std::intptr_t Execute(WindowHandle owner, std::string_view verb, std::string_view file,
                                  std::optional<std::string_view> parameters,
                                  std::optional<std::string_view> directory, int showCommand) = 0;
};

// A program to run hidden and wait for (IProcesses::RunHidden).
struct RunRequest {
    std::string program; // a full path
    std::string arguments;
    std::string folder; // its working folder
    std::uint32_t timeoutMs = 0;
    // Run on the worker right before the start; a refusal starts nothing (optional).
    FileCheck check;
};

// How a program run by IProcesses::RunHidden ended.
struct RunResult {
    enum class Outcome {
        Exited,     // `code` is its exit code (an exception's code where one ended it)
        NotStarted, // `code` is the system's error (193: not a program of this machine, ...)
        TimedOut,   // it was still running at the time-out and was ended
        Refused,    // the request's check refused the file: `verdict` says why
    };
    Outcome outcome = Outcome::NotStarted;
    std::uint32_t code = 0;
    FileVerdict verdict; // the check's, when the request had one
};

// Who hears how the processes service's work on a worker ended: on the user-interface thread.
class IProcessOwner {
public:
    virtual ~IProcessOwner() = default;
    // A RunHidden ended.
    virtual void RunComplete(const RunResult&) {}
    // The processes a TerminateProcessesNamed asked to end have ended (or 5 s passed).
    virtual void ProcessesEnded() {}
};

// The process table.
class IProcesses {
public:
    virtual ~IProcesses() = default;
    // Asks every process whose executable name equals `name` (case-insensitively) to end with
    // exit code 0, and returns how many were asked; a process that cannot be opened for ending
    // (another user's, an elevated one) is skipped. Once all of them have ended, or 5 s passed,
    // the owner hears ProcessesEnded (unless it was forgotten first). The caller waits for
    // nothing: the user-interface thread goes on meanwhile.
    virtual int TerminateProcessesNamed(std::string_view name, IProcessOwner& owner) = 0;
    // Starts the system's command processor on the script (a bare file name in `folder`),
    // hidden, with `folder` as its working folder, without waiting; false when it could not be
    // started.
    virtual bool StartScript(std::string_view script, std::string_view folder) = 0;
    // This process's id: no other process running at the same time has it.
    virtual std::uint32_t ProcessId() = 0;
    // Runs the request's check and then its program on a worker: hidden, ended at the time-out,
    // and ended at once where an exception would end it (no error dialog keeps it alive). The
    // end reaches the owner on the user-interface thread, unless the owner was forgotten first.
    virtual void RunHidden(IProcessOwner& owner, RunRequest request) = 0;
    // The owner is going away: nothing more reaches it (a program still running runs on to its
    // end or its time-out, processes being ended end).
    virtual void ForgetOwner(IProcessOwner& owner) = 0;
    // A lock of the whole machine, across users and sessions: true when this process took it
    // (no other process holds it); it is held until released or this process ends.
    virtual bool TakeMachineLock(std::string_view name) = 0;
    virtual void ReleaseMachineLock(std::string_view name) = 0;
};

// What the machine's administrator decided for the program (Group Policy's settings for it).
class IPolicies {
public:
    virtual ~IPolicies() = default;
    // True when the administrator manages the program's updates: the program never replaces
    // itself then. Read anew at every call, so a policy that arrives while the program runs
    // holds from the next check on.
    virtual bool ProgramUpdatesManaged() = 0;
};

// What tells this machine from the others.
class IMachine {
public:
    virtual ~IMachine() = default;
    // The machine's MachineGuid, the id Windows gives an installation (HKLM
    // SOFTWARE\Microsoft\Cryptography, from the registry's 64-bit view on 64-bit Windows,
    // where a 32-bit program would otherwise be shown a copy), as written there; absent when it
    // cannot be read.
    virtual std::optional<std::string> MachineGuid() = 0;
};

// Message boxes. Styles and results are the Win32 values (MB_*, ID*).
class IDialogs {
public:
    virtual ~IDialogs() = default;
    // Shows a modal message box; an absent title means the program's default title.
    virtual int MsgBox(std::string_view text, std::uint32_t style,
                       std::optional<std::string_view> title) = 0;
};

enum MsgBoxStyle : std::uint32_t {
    vbOKOnly = 0,
    vbYesNo = 4,
    vbCritical = 16,
    vbInformation = 64,
};
enum MsgBoxResult : int { vbOK = 1, vbYes = 6, vbNo = 7 };

// The registry as the autostart routines reach it (the A functions' semantics: result codes
// are Win32 error numbers, 0 on success).
class IRegistry {
public:
    virtual ~IRegistry() = default;
    using Key = std::uintptr_t;
    // The registry's own numbers (the Win32 side checks them against its names).
    static constexpr Key LocalMachine = 0x80000002; // the root HKEY_LOCAL_MACHINE
    static constexpr std::uint32_t StringValue = 1; // REG_SZ
    static constexpr std::uint32_t DwordValue = 4;  // REG_DWORD
    virtual long OpenKey(Key root, std::string_view subKey, std::uint32_t options,
                         std::uint32_t access, Key& result) = 0;
    virtual long SetValue(Key key, std::string_view valueName, std::uint32_t type,
                          const std::vector<std::uint8_t>& data) = 0;
    virtual long DeleteValue(Key key, std::string_view valueName) = 0;
    virtual long CloseKey(Key key) = 0;
    // A text value of the current user's, under `subKey` of HKEY_CURRENT_USER (made where it is
    // missing), and its removal; 0 or the system's error.
    virtual long SetUserText(std::string_view subKey, std::string_view valueName,
                             std::string_view text) = 0;
    virtual long DeleteUserValue(std::string_view subKey, std::string_view valueName) = 0;
};

} // namespace varnek
