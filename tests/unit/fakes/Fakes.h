// In-memory stand-ins for the platform services, for unit tests of the portable core.
#pragma once

#include "app/Application.h"
#include "app/Views.h"
#include "platform/Files.h"
#include "platform/NotifyShell.h"
#include "platform/ReadService.h"
#include "platform/Services.h"
#include "platform/SettingsStore.h"
#include "platform/Signatures.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace varnek::fakes {

// Text as bytes, as a read delivers them or a file holds them.
inline std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

// A notification of the read service: its status code, byte counts and status text.
inline AsyncProperty Notification(std::int32_t status, std::int32_t read = 0, std::int32_t max = 0,
                                  std::string text = "") {
    AsyncProperty property;
    property.StatusCode = status;
    property.BytesRead = read;
    property.BytesMax = max;
    property.Status = std::move(text);
    return property;
}

class MemorySettingsStore final : public ISettingsStore {
public:
    using Address = std::tuple<std::string, std::string, std::string>;
    std::string GetSetting(std::string_view app, std::string_view section, std::string_view key,
                           std::string_view defaultValue) override;
    bool SaveSetting(std::string_view app, std::string_view section, std::string_view key,
                     std::string_view value) override;
    void DeleteSetting(std::string_view app, std::string_view section,
                       std::string_view key) override;
    // The values of application VarnekIT, section Support.
    std::optional<std::string> Get(std::string_view key) const;
    void Set(std::string_view key, std::string_view value);

    std::map<Address, std::string> values;
    std::vector<std::string> log; // "get Key", "save Key=Value", "delete Key"
    bool saveSucceeds = true;     // false: every save is refused and changes nothing
};

class RecordingNotifyShell final : public INotifyShell {
public:
    struct Call {
        NotifyMessage message;
        NotifyIconRecord record;
    };
    // As the shell does: an icon is added once, and only an icon that is there can be
    // changed or removed.
    bool NotifyIcon(NotifyMessage message, const NotifyIconRecord& record) override {
        if (std::exchange(throwNext, false)) {
            throw std::runtime_error("the notification area is gone");
        }
        calls.push_back({message, record});
        if (!accept) {
            return false;
        }
        switch (message) {
        case NotifyMessage::Add:
            if (refuseAdds > 0) {
                --refuseAdds;
                present = present || refusedAddsLand;
                return false;
            }
            if (present) {
                return false;
            }
            present = true;
            return true;
        case NotifyMessage::Modify:
            return present;
        case NotifyMessage::Delete:
            return std::exchange(present, false);
        }
        return false;
    }
    std::vector<Call> calls;
    bool accept = true;
    bool present = false; // the icon is in the notification area
    // A refused add still lands: the shell answered too late for the caller's wait.
    bool refusedAddsLand = false;
    int refuseAdds = 0;     // the next adds refused, as by a busy Explorer
    bool throwNext = false; // the next call throws, as a program error would
};

class FakeIconMaker final : public IIconMaker {
public:
    IconHandle CreateIconFromBitmap(BitmapHandle bitmap) override {
        log.push_back("plain " + std::to_string(bitmap));
        return nextIcon;
    }
    IconHandle CreateMaskedIcon(BitmapHandle bitmap, std::int32_t colour) override {
        log.push_back("masked " + std::to_string(bitmap) + " " + std::to_string(colour));
        return nextIcon;
    }
    void DestroyIcon(IconHandle icon) override { log.push_back("destroy " + std::to_string(icon)); }
    IconHandle nextIcon = 0x5150;
    std::vector<std::string> log;
};

struct ShellCall {
    WindowHandle owner;
    std::string verb, file;
    std::optional<std::string> parameters, directory;
    int show;
};

class FakeShell final : public IShell {
public:
    WindowHandle GetActiveWindow() override { return activeWindow; }
    std::intptr_t Execute(WindowHandle owner, std::string_view verb, std::string_view file,
                          std::optional<std::string_view> parameters,
                          std::optional<std::string_view> directory, int show) override;
    WindowHandle activeWindow = 0x777;
    std::intptr_t result = 42;
    std::vector<ShellCall> calls;
};

class FakeClock final : public IClock {
public:
    DateTime Now() override { return now; }
    DateTime now{2026, 3, 14, 10, 30, 0};
};

// Files in memory: a file exists when it is in `files`; its content, creation time and version
// resource are kept beside.
class FakeFiles final : public IFiles {
public:
    // New files are dated by the clock.
    explicit FakeFiles(const FakeClock& clock) : clock_(&clock) {}
    FakeFiles(const FakeFiles&) = delete;
    // Takes the other's files but keeps its own clock.
    FakeFiles& operator=(const FakeFiles& other);

    // Creates or replaces a file with the bytes and the creation time.
    void Put(const std::string& path, std::vector<std::uint8_t> bytes, DateTime created);
    bool Exists(std::string_view path) const { return files.count(std::string(path)) > 0; }
    // The content of an existing file.
    std::optional<std::vector<std::uint8_t>> Content(std::string_view path) const;

    bool FileExists(std::string_view path) override { return Exists(path); }
    bool RemoveFile(std::string_view path) override;
    FileBytes ReadStart(std::string_view path, std::size_t count) override;
    bool WriteFile(std::string_view path, const std::vector<std::uint8_t>& bytes) override;
    bool MoveReplace(std::string_view from, std::string_view to) override;
    std::optional<DateTime> DateCreated(std::string_view path) override;
    bool SetDateCreated(std::string_view path, const DateTime& when) override;
    std::optional<std::int64_t> SecondsSinceWritten(std::string_view path) override;
    std::optional<std::int64_t> FileSize(std::string_view path) override;
    FileVersionInfo FileVersion(std::string_view path) override;
    std::vector<std::string> FilesIn(std::string_view folder) override;
    bool IsWriteTemporary(std::string_view name) override { return name.starts_with("vit"); }
    std::string SystemFolder() override { return "C:\\Windows\\system32"; }

    std::set<std::string> files;
    std::vector<std::string> deleted;
    // Files a program runs from: they cannot be removed or replaced, only renamed.
    std::set<std::string> inUse;
    std::map<std::string, std::vector<std::uint8_t>> contents;
    std::map<std::string, DateTime> created;
    std::map<std::string, std::array<int, 4>> versions;
    // Seconds since a file was written; a file not named here was written long ago.
    std::map<std::string, std::int64_t> age;
    // Files that cannot be read now (a scanner holds them), with the error reading gives; and
    // files whose version resource alone cannot be read.
    std::map<std::string, std::uint32_t> held;
    std::map<std::string, std::uint32_t> versionHeld;
    bool writeSucceeds = true;
    bool moveSucceeds = true;
    // "write PATH (N bytes)", "move FROM -> TO", "created PATH d/m/y h:m:s"
    std::vector<std::string> log;

private:
    const FakeClock* clock_;
};

// A machine whose id the test sets (absent: it cannot be read).
class FakeMachine final : public IMachine {
public:
    std::optional<std::string> MachineGuid() override { return guid; }
    std::optional<std::string> guid = "4f1c8a2e-7b3d-4e9a-a6c5-0d2f9e8b7c61";
};

// Reads that the test delivers by hand, as the worker's posted messages would.
class FakeReadService final : public IReadService {
public:
    struct Read {
        IAsyncReadOwner* owner;
        ReadRequest request;
    };
    void AsyncRead(IAsyncReadOwner& owner, const ReadRequest& request) override;
    void CancelAsyncRead(IAsyncReadOwner& owner, std::string_view propertyName) override;
    void ForgetOwner(IAsyncReadOwner& owner) override;

    // The active read of that URL, if any.
    const Read* Active(std::string_view url) const;
    // Hands a notification to the owner of the active read of that URL, with its name, type
    // and (file reads) file name filled in. False, and nothing delivered, when no read of the
    // URL is active (never started, finished, cancelled, or its owner is gone).
    bool Progress(std::string_view url, AsyncProperty property);
    // The same for the last notification: the read ends first. A whole file read's check
    // runs before, as the worker runs it.
    bool Complete(std::string_view url, AsyncProperty property);
    // A byte-array read that succeeded with these bytes.
    bool CompleteWith(std::string_view url, std::string_view bytes);

    std::vector<ReadRequest> requests; // every read started, in order
    std::vector<Read> active;
    std::optional<AsyncReadError> startError;  // thrown by the next AsyncRead calls
    std::optional<AsyncReadError> cancelError; // thrown by CancelAsyncRead
    std::vector<std::string> log;              // "read URL", "cancel NAME", "forget"
};

class FakeProcesses final : public IProcesses {
public:
    int TerminateProcessesNamed(std::string_view name, IProcessOwner& owner) override;
    bool StartScript(std::string_view script, std::string_view folder) override;
    std::uint32_t ProcessId() override { return 0x1a2b; }
    void RunHidden(IProcessOwner& owner, RunRequest request) override;
    void ForgetOwner(IProcessOwner& owner) override;
    bool TakeMachineLock(std::string_view name) override;
    void ReleaseMachineLock(std::string_view name) override;
    // Ends the runs under way as the worker would (each request's check, then `runResult`), and
    // tells the owners of processes being ended that they have ended. How many ended.
    int FinishRuns();

    struct Run {
        IProcessOwner* owner;
        RunRequest request;
    };
    std::vector<Run> runs; // under way
    RunResult runResult{
        RunResult::Outcome::Exited, 0x5E1F, {}}; // of every run: the self-test passed
    std::vector<std::string> started;            // "PROGRAM ARGUMENTS in DIR (N ms)"
    std::set<std::string> locks;                 // held by this process
    std::set<std::string> lockedElsewhere;       // held by another process
    std::vector<std::string> scripts;            // "SCRIPT in FOLDER", started
    bool startSucceeds = true;                   // of every script
    std::multiset<std::string> running;          // executable names
    std::vector<std::string> terminated;
    std::vector<IProcessOwner*> ending;          // owners waiting for ended processes
    std::vector<std::string>* journal = nullptr; // shared order of events, when set
};

class FakeDialogs final : public IDialogs {
public:
    struct Box {
        std::string text;
        std::uint32_t style;
        std::optional<std::string> title;
    };
    int MsgBox(std::string_view text, std::uint32_t style,
               std::optional<std::string_view> title) override;
    std::vector<Box> shown;
    int answer = vbOK;
};

class FakeRegistry final : public IRegistry {
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

    // The current user's values, by "KEY\\NAME".
    std::map<std::string, std::string> userValues;
    long openResult = 0;
    long setResult = 0;
    std::vector<std::string> log;
    std::map<std::string, std::pair<std::uint32_t, std::vector<std::uint8_t>>> values;
};

// Signatures by path; a path it does not know is unsigned.
class FakeSignatureCheck final : public ISignatureCheck {
public:
    Signature Check(std::string_view path) override {
        checked.push_back(std::string(path));
        const auto found = signatures.find(std::string(path));
        if (found == signatures.end()) {
            return {Signature::Verdict::Unsigned, static_cast<std::int32_t>(0x800B0100), {}};
        }
        return found->second;
    }
    Signature CheckSelf() override {
        checked.push_back("self");
        return self;
    }
    // A valid signature for code signing under the root every test signer shares, unless
    // another is named.
    static constexpr std::string_view SharedRoot =
        "0000000000000000000000000000000000000000000000000000000000000a11";
    static Signature Valid(std::string subject, std::string_view root = SharedRoot,
                           bool codeSigning = true) {
        return {Signature::Verdict::Valid, 0, std::move(subject), std::string(root), codeSigning};
    }
    std::map<std::string, Signature> signatures;
    Signature self{Signature::Verdict::Unsigned, static_cast<std::int32_t>(0x800B0100), {}};
    std::vector<std::string> checked; // the paths checked, "self" for the running program
};

class FakePolicies final : public IPolicies {
public:
    bool ProgramUpdatesManaged() override { return programUpdatesManaged; }
    bool programUpdatesManaged = false;
};

class MemoryLogFile final : public ILogFile {
public:
    void Append(std::string_view line) override { lines.push_back(std::string(line)); }
    std::string Folder() const override { return folder; }
    std::vector<std::string> lines;
    std::string folder = "C:\\Users\\user\\AppData\\Local\\VarnekIT";
};

// Thrown by the fake main view when the program ends.
struct ProgramEnded {};

class FakeMainView final : public IMainWindowView {
public:
    WindowHandle hWnd() const override { return 0x1001; }
    IconHandle Icon() const override { return icon; }
    void Minimise() override { log.push_back("minimise"); }
    void DoEvents() override { log.push_back("doevents"); }
    void Hide() override { log.push_back("hide"); }
    void SetUpdateTimerEnabled(bool enabled) override {
        timerEnabled = enabled;
        log.push_back(enabled ? "timer on" : "timer off");
    }
    void SetTrayRetryTimerEnabled(bool enabled) override {
        retryTimerEnabled = enabled;
        log.push_back(enabled ? "retry on" : "retry off");
    }
    int PopupMenu(const MenuCaptions& captions) override {
        popups.push_back(captions);
        return menuChoice;
    }
    [[noreturn]] void EndProgram() override { throw ProgramEnded{}; }

    IconHandle icon = 0x2002;
    bool timerEnabled = false;
    bool retryTimerEnabled = false;
    int menuChoice = -1;
    std::vector<MenuCaptions> popups;
    std::vector<std::string> log;
};

class FakeFormView final : public IFormView {
public:
    explicit FakeFormView(std::vector<std::string>& log, std::string name)
        : log_(log), name_(std::move(name)) {
        log_.push_back("create " + name_);
    }
    ~FakeFormView() override { log_.push_back("destroy " + name_); }
    void Show() override { log_.push_back("show " + name_); }
    void ControlChanged(int) override {}

private:
    std::vector<std::string>& log_;
    std::string name_;
};

class FakeViews final : public IViewFactory {
public:
    std::unique_ptr<IMainWindowView> CreateMainView(VarnekIT&) override;
    std::unique_ptr<IFormView> CreateSettingsView(f_Indstillinger&) override {
        return std::make_unique<FakeFormView>(log, "settings");
    }
    std::unique_ptr<IFormView> CreateLogoView(LogoForm&) override {
        return std::make_unique<FakeFormView>(log, "logo");
    }
    void WakeMessageLoop() override { ++wakes; }
    FakeMainView* main = nullptr; // owned by the main window model
    int wakes = 0;
    std::vector<std::string> log;
};

// All fakes together, and the services record that wires them into an Application.
struct FakePlatform {
    MemorySettingsStore store;
    RecordingNotifyShell notifyShell;
    FakeIconMaker iconMaker;
    FakeShell shell;
    FakeClock clock;
    FakeFiles files{clock};
    FakeProcesses processes;
    FakeDialogs dialogs;
    FakeRegistry registry;
    FakeMachine machine;
    FakeReadService reads;
    FakeSignatureCheck signatures;
    MemoryLogFile updateLog;
    FakePolicies policies;
    FakeViews views;
    std::string programFolder = "C:\\Program Files\\Varnek";

    // The services record of these fakes, with the given windows (the real ones in the Win32
    // tests, `views` in the unit tests).
    Services ServicesWith(IViewFactory& windows) {
        return Services{store,     notifyShell, iconMaker, shell,        files, processes,
                        dialogs,   registry,    machine,   reads,        clock, signatures,
                        updateLog, policies,    windows,   programFolder};
    }
};

} // namespace varnek::fakes
