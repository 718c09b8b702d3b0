// The Win32 implementations of the platform services.
#pragma once

#include "platform/NotifyShell.h"
#include "platform/Services.h"
#include "platform/SettingsStore.h"

#include <windows.h>

#include <shellapi.h>

#include "win32/Thread.h"
#include "win32/UniqueHandle.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace varnek::win32 {

// Per-user settings under HKCU "Software\VB and VBA Program Settings\<application>\<section>",
// as REG_SZ values: where the installed program has always kept them.
class RegistrySettingsStore final : public ISettingsStore {
public:
    static constexpr const wchar_t* Root = L"Software\\VB and VBA Program Settings";
    std::string GetSetting(std::string_view appName, std::string_view section, std::string_view key,
                           std::string_view defaultValue) override;
    bool SaveSetting(std::string_view appName, std::string_view section, std::string_view key,
                     std::string_view value) override;
    void DeleteSetting(std::string_view appName, std::string_view section,
                       std::string_view key) override;
};

// Shell_NotifyIconA with the 488-byte record of the layout that has the balloon fields.
class NotifyShell final : public INotifyShell {
public:
    bool NotifyIcon(NotifyMessage message, const NotifyIconRecord& record) override;
    // The record as it is handed to the shell.
    static NOTIFYICONDATAA ToNative(const NotifyIconRecord& record);
};

class Shell final : public IShell {
public:
    WindowHandle GetActiveWindow() override;
    std::intptr_t Execute(WindowHandle owner, std::string_view verb, std::string_view file,
                          std::optional<std::string_view> parameters,
                          std::optional<std::string_view> directory, int showCommand) override;
};

class UiTasks;

class Processes final : public IProcesses {
public:
    // How long the program waits for the ended processes before it goes on.
    static constexpr DWORD TerminateWaitMs = 5000;
    // Runs end on the user-interface thread through `tasks`.
    explicit Processes(UiTasks& tasks) : tasks_(tasks) {}
    // Runs still under way are waited for (at most their time-outs); nothing more of them is
    // delivered.
    ~Processes() override;
    Processes(const Processes&) = delete;
    Processes& operator=(const Processes&) = delete;

    int TerminateProcessesNamed(std::string_view name, IProcessOwner& owner) override;
    // %SystemRoot%\System32\cmd.exe /d /c <script>, hidden, in `folder`.
    bool StartScript(std::string_view script, std::string_view folder) override;
    std::uint32_t ProcessId() override { return GetCurrentProcessId(); }
    // CreateProcessW of the full path, hidden, in a job that ends it with its last handle and
    // on an unhandled exception (no error dialog), on a thread of its own.
    void RunHidden(IProcessOwner& owner, RunRequest request) override;
    void ForgetOwner(IProcessOwner& owner) override;
    // A named mutex that exists only while its taker holds it: another process that finds it
    // (or may not open it: another user's) does not get the lock.
    bool TakeMachineLock(std::string_view name) override;
    void ReleaseMachineLock(std::string_view name) override;

    // Waits until every process has ended, or until the deadline `timeoutMs` from now passed
    // (false then), however many there are.
    static bool WaitForAll(const std::vector<UniqueHandle>& processes, DWORD timeoutMs);
    // The run itself, on the calling thread.
    static RunResult Run(const RunRequest& request);

private:
    struct Running {
        IProcessOwner* owner = nullptr; // null once forgotten
        Thread thread;
    };
    // What a worker's end tells its owner.
    using Delivery = std::function<void(IProcessOwner&)>;
    // Runs `work` on a worker of its own; what it returns reaches the owner on this thread.
    void Start(IProcessOwner& owner, std::function<Delivery()> work);
    void Ended(std::uintptr_t id, const Delivery& deliver);

    UiTasks& tasks_;
    std::map<std::uintptr_t, Running> runs_; // by their task owner
    std::map<std::string, UniqueHandle, std::less<>> locks_;
};

class Dialogs final : public IDialogs {
public:
    static constexpr const wchar_t* DefaultTitle = L"VarnekIT";
    int MsgBox(std::string_view text, std::uint32_t style,
               std::optional<std::string_view> title) override;
    // The window a box belongs to: this thread's active window when it is shown, else none.
    static HWND Owner();
};

class Registry final : public IRegistry {
public:
    long OpenKey(Key root, std::string_view subKey, std::uint32_t options, std::uint32_t access,
                 Key& result) override;
    long SetValue(Key key, std::string_view valueName, std::uint32_t type,
                  const std::vector<std::uint8_t>& data) override;
    long DeleteValue(Key key, std::string_view valueName) override;
    long CloseKey(Key key) override;
    long SetUserText(std::string_view subKey, std::string_view valueName,
                     std::string_view text) override;
    long DeleteUserValue(std::string_view subKey, std::string_view valueName) override;
};

// The policies Group Policy writes for the program under HKLM "SOFTWARE\Policies\VarnekIT",
// read in the 64-bit view of the registry, where Group Policy writes them: a 32-bit program
// would otherwise read the 32-bit view, where they are not.
class Policies final : public IPolicies {
public:
    static constexpr const wchar_t* Key = L"SOFTWARE\\Policies\\VarnekIT";
    // REG_DWORD 1: the administrator manages the program's updates.
    static constexpr const wchar_t* NoProgramUpdate = L"NoProgramUpdate";
    bool ProgramUpdatesManaged() override;
};

class Machine final : public IMachine {
public:
    std::optional<std::string> MachineGuid() override;
};

// The running executable's path.
std::string ProgramFile();
// The folder of the running executable, without a trailing backslash.
std::string ProgramFolder();

} // namespace varnek::win32
