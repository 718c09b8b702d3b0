#include "win32/Win32Services.h"

#include "win32/Barrier.h"
#include "win32/Files.h"
#include "win32/SystemLibrary.h"
#include "win32/Text.h"
#include "win32/UiTask.h"
#include "win32/UniqueHandle.h"
#include "win32/Window.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace varnek::win32 {

namespace {

std::wstring SectionPath(std::string_view appName, std::string_view section) {
    return std::wstring(RegistrySettingsStore::Root) + L"\\" + Wide(appName) + L"\\" +
           Wide(section);
}

template <std::size_t N> void CopyAnsi(char (&field)[N], const std::u16string& text) {
    const std::wstring wide(text.begin(), text.end());
    const std::string ansi = Ansi(wide);
    const std::size_t length = std::min(ansi.size(), N - 1);
    std::memcpy(field, ansi.data(), length);
    field[length] = '\0';
}

static_assert(IRegistry::StringValue == REG_SZ && IRegistry::DwordValue == REG_DWORD);

HKEY NativeKey(IRegistry::Key key) {
    // Predefined roots are 32-bit values that Windows sign-extends on 64-bit systems.
    if (key >= 0x80000000u && key <= 0x80000006u) {
        return reinterpret_cast<HKEY>(
            static_cast<ULONG_PTR>(static_cast<LONG>(static_cast<ULONG>(key))));
    }
    return reinterpret_cast<HKEY>(key);
}

// A text value of an open key (REG_SZ or REG_EXPAND_SZ, unexpanded), without its terminating
// nulls.
std::optional<std::wstring> StringValue(HKEY key, const std::wstring& name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                         &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.resize(size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') {
        value.pop_back();
    }
    return value;
}

} // namespace

std::string RegistrySettingsStore::GetSetting(std::string_view appName, std::string_view section,
                                              std::string_view key, std::string_view defaultValue) {
    UniqueRegKey hkey;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath(appName, section).c_str(), 0, KEY_QUERY_VALUE,
                      hkey.put()) != ERROR_SUCCESS) {
        return std::string(defaultValue);
    }
    const std::optional<std::wstring> value = StringValue(hkey.get(), Wide(key));
    return value ? Utf8(*value) : std::string(defaultValue);
}

bool RegistrySettingsStore::SaveSetting(std::string_view appName, std::string_view section,
                                        std::string_view key, std::string_view value) {
    UniqueRegKey hkey;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SectionPath(appName, section).c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, hkey.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring text = Wide(value);
    return RegSetValueExW(hkey.get(), Wide(key).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void RegistrySettingsStore::DeleteSetting(std::string_view appName, std::string_view section,
                                          std::string_view key) {
    UniqueRegKey hkey;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath(appName, section).c_str(), 0, KEY_SET_VALUE,
                      hkey.put()) == ERROR_SUCCESS) {
        RegDeleteValueW(hkey.get(), Wide(key).c_str());
    }
}

bool Policies::ProgramUpdatesManaged() {
    // KEY_WOW64_64KEY: the 64-bit view on 64-bit Windows; 32-bit Windows ignores it.
    UniqueRegKey hkey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, hkey.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    // A value of another type or size is no setting of the policy.
    return RegQueryValueExW(hkey.get(), NoProgramUpdate, nullptr, &type,
                            reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof value && value == 1;
}

#ifndef _WIN64
static_assert(NOTIFYICONDATAA_V2_SIZE == NotifyIconRecord::V2Size,
              "the notification record of the 32-bit build is 488 bytes");
#endif
static_assert(static_cast<DWORD>(NotifyMessage::Add) == NIM_ADD &&
              static_cast<DWORD>(NotifyMessage::Modify) == NIM_MODIFY &&
              static_cast<DWORD>(NotifyMessage::Delete) == NIM_DELETE);
static_assert(notify_flag::Message == NIF_MESSAGE && notify_flag::Icon == NIF_ICON &&
              notify_flag::Tip == NIF_TIP && notify_flag::Info == NIF_INFO);

NOTIFYICONDATAA NotifyShell::ToNative(const NotifyIconRecord& record) {
    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
    nid.hWnd = reinterpret_cast<HWND>(record.hWnd);
    nid.uID = record.uID;
    nid.uFlags = record.uFlags;
    nid.uCallbackMessage = record.uCallbackMessage;
    nid.hIcon = reinterpret_cast<HICON>(record.hIcon);
    CopyAnsi(nid.szTip, record.szTip);
    nid.dwState = record.dwState;
    nid.dwStateMask = record.dwStateMask;
    CopyAnsi(nid.szInfo, record.szInfo);
    nid.uTimeout = record.uTimeout;
    CopyAnsi(nid.szInfoTitle, record.szInfoTitle);
    nid.dwInfoFlags = record.dwInfoFlags;
    return nid;
}

bool NotifyShell::NotifyIcon(NotifyMessage message, const NotifyIconRecord& record) {
    NOTIFYICONDATAA nid = ToNative(record);
    return Shell_NotifyIconA(static_cast<DWORD>(message), &nid) != FALSE;
}

WindowHandle Shell::GetActiveWindow() {
    return reinterpret_cast<WindowHandle>(::GetActiveWindow());
}

std::intptr_t Shell::Execute(WindowHandle owner, std::string_view verb, std::string_view file,
                             std::optional<std::string_view> parameters,
                             std::optional<std::string_view> directory, int showCommand) {
    const std::wstring wverb = Wide(verb);
    const std::wstring wfile = Wide(file);
    const std::wstring wparameters = parameters ? Wide(*parameters) : std::wstring();
    const std::wstring wdirectory = directory ? Wide(*directory) : std::wstring();
    EnsureCom(); // the handlers of files and addresses may be COM objects
    const HINSTANCE result =
        ShellExecuteW(reinterpret_cast<HWND>(owner), wverb.c_str(), wfile.c_str(),
                      parameters ? wparameters.c_str() : nullptr,
                      directory ? wdirectory.c_str() : nullptr, showCommand);
    return reinterpret_cast<std::intptr_t>(result);
}

int Processes::TerminateProcessesNamed(std::string_view name, IProcessOwner& owner) {
    const std::wstring wanted = Wide(name);
    // TerminateProcess only starts the end of a process: its handle is signalled once the
    // process has really gone, so the handles are kept and waited on, on a worker.
    std::vector<UniqueHandle> ending;
    if (const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)); snapshot) {
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry)) {
            if (CompareStringOrdinal(entry.szExeFile, -1, wanted.c_str(), -1, TRUE) != CSTR_EQUAL) {
                continue;
            }
            // Another user's or an elevated process refuses these rights: it is left running.
            UniqueHandle process(
                OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
            if (process && TerminateProcess(process.get(), 0)) {
                ending.push_back(std::move(process));
            }
        }
    }
    const int count = static_cast<int>(ending.size());
    Start(owner, [ending = std::make_shared<std::vector<UniqueHandle>>(std::move(ending))] {
        WaitForAll(*ending, TerminateWaitMs);
        return Delivery([](IProcessOwner& owner) { owner.ProcessesEnded(); });
    });
    return count;
}

bool Processes::WaitForAll(const std::vector<UniqueHandle>& processes, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    std::vector<HANDLE> pending;
    for (const auto& process : processes) {
        pending.push_back(process.get());
    }
    // One wait takes at most MAXIMUM_WAIT_OBJECTS handles: it waits for the first of them, and
    // each round drops the ones that have ended, until none is left or the deadline passed.
    for (;;) {
        std::erase_if(pending, [](HANDLE process) {
            return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        });
        const ULONGLONG now = GetTickCount64();
        if (pending.empty() || now >= deadline) {
            return pending.empty();
        }
        const auto count =
            static_cast<DWORD>(std::min<std::size_t>(pending.size(), MAXIMUM_WAIT_OBJECTS));
        if (WaitForMultipleObjects(count, pending.data(), FALSE,
                                   static_cast<DWORD>(deadline - now)) == WAIT_FAILED) {
            return false; // the caller goes on either way
        }
    }
}

namespace {

// A hidden window for the started program.
STARTUPINFOW Hidden() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    return startup;
}

} // namespace

RunResult Processes::Run(const RunRequest& request) {
    if (request.check) {
        FileVerdict verdict = request.check(request.program);
        if (!verdict.refusal.empty()) {
            return {RunResult::Outcome::Refused, 0, std::move(verdict)};
        }
    }
    const std::wstring exe = Wide(request.program);
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!request.arguments.empty()) {
        commandLine += L" " + Wide(request.arguments);
    }
    // In a job that ends it when its last handle closes: a program that hangs goes at the
    // time-out, and with this process if that ends first. An exception that nothing in it
    // handles ends it at once, with the exception's code, instead of keeping it alive behind
    // the system's error dialog until the time-out. Where the system does not let the process
    // into the job (Windows 7 with this process in a job of its own), the time-out still ends
    // it.
    const UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags =
            JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
        SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                sizeof limits);
    }
    STARTUPINFOW startup = Hidden();
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, Wide(request.folder).c_str(), &startup, &started)) {
        return {RunResult::Outcome::NotStarted, GetLastError(), {}};
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    if (job) {
        AssignProcessToJobObject(job.get(), process.get());
    }
    ResumeThread(thread.get());
    if (WaitForSingleObject(process.get(), request.timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
        return {RunResult::Outcome::TimedOut, 0, {}};
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return {RunResult::Outcome::Exited, code, {}};
}

bool Processes::StartScript(std::string_view script, std::string_view folder) {
    // The command processor from the system folder, by its full path, and without the
    // AutoRun commands of the registry (/d): neither the .bat association (which hardening may
    // point at an editor) nor a cmd.exe in the program folder decides what runs.
    const std::string system = Files().SystemFolder();
    if (system.empty()) {
        return false;
    }
    if (GetFileAttributesW(Wide(PathInFolder(folder, script)).c_str()) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    const std::wstring cmd = Wide(PathInFolder(system, "cmd.exe"));
    std::wstring commandLine = L"\"" + cmd + L"\" /d /c " + Wide(script);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(cmd.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE, nullptr, Wide(folder).c_str(), &startup, &started)) {
        return false;
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    return true;
}

Processes::~Processes() {
    for (auto& [id, run] : runs_) {
        tasks_.Forget(id);
        run.thread.Join();
    }
}

void Processes::RunHidden(IProcessOwner& owner, RunRequest request) {
    Start(owner, [request = std::move(request)] {
        RunResult result = Barrier(
            "the run of a program", [&] { return Run(request); },
            [] {
                return RunResult{RunResult::Outcome::NotStarted, ERROR_INTERNAL_ERROR, {}};
            });
        return Delivery([result](IProcessOwner& owner) { owner.RunComplete(result); });
    });
}

void Processes::Start(IProcessOwner& owner, std::function<Delivery()> work) {
    const std::uintptr_t id = tasks_.NewOwner();
    Running& run = runs_[id];
    run.owner = &owner;
    // The worker touches only its work and the task service; the task it posts runs only while
    // this service lives (its end forgets the tasks of every run).
    if (!run.thread.Start([&tasks = tasks_, id, this, work = std::move(work)] {
            Delivery deliver = Barrier("a worker of the processes service", work,
                                       [] { return Delivery([](IProcessOwner&) {}); });
            tasks.Post(id, [this, id, deliver = std::move(deliver)] { Ended(id, deliver); });
        })) {
        runs_.erase(id);
        tasks_.Forget(id);
        throw std::runtime_error("no thread for a worker of the processes service");
    }
}

void Processes::Ended(std::uintptr_t id, const Delivery& deliver) {
    const auto found = runs_.find(id);
    if (found == runs_.end()) {
        return;
    }
    found->second.thread.Join(); // its last act was posting this
    IProcessOwner* const owner = found->second.owner;
    runs_.erase(found);
    tasks_.Forget(id);
    // Nothing of the service is touched after this: the owner may start more work.
    if (owner) {
        deliver(*owner);
    }
}

void Processes::ForgetOwner(IProcessOwner& owner) {
    for (auto& [id, run] : runs_) {
        if (run.owner == &owner) {
            run.owner = nullptr;
        }
    }
}

bool Processes::TakeMachineLock(std::string_view name) {
    if (locks_.contains(name)) {
        return false;
    }
    // Named in the Global\ namespace, which every user may create in: it exists for every
    // session while one process holds it. Another user's may not even be opened here
    // (ERROR_ACCESS_DENIED): that, too, is a lock someone holds.
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, Wide(name).c_str()));
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        return false;
    }
    locks_.emplace(std::string(name), std::move(mutex));
    return true;
}

void Processes::ReleaseMachineLock(std::string_view name) {
    if (const auto found = locks_.find(name); found != locks_.end()) {
        locks_.erase(found);
    }
}

HWND Dialogs::Owner() {
    // The command came from a window of the program that is in front (the launcher, the
    // settings window): the box belongs to it and comes up over it.
    const HWND active = ::GetActiveWindow();
    if (active && IsWindowVisible(active)) {
        return active;
    }
    // From the tray the active window, if any, is the hidden main window. A box owned by a
    // hidden window has no taskbar button and, where Windows refuses it the foreground, stays
    // behind the other programs with nothing to show for it: the box stands alone.
    return nullptr;
}

int Dialogs::MsgBox(std::string_view text, std::uint32_t style,
                    std::optional<std::string_view> title) {
    const std::wstring wtext = Wide(text);
    const std::wstring wtitle = title ? Wide(*title) : std::wstring(DefaultTitle);
    const HWND owner = Owner();
    // MB_SETFOREGROUND: the box asks for the foreground, which Windows grants here because the
    // program is the foreground process or got the user's last input (the click on the icon,
    // its menu or a window of the program). Without an owner, MB_TASKMODAL keeps the
    // program's other windows still while it is up, and MB_TOPMOST keeps it in front of
    // other programs even where the foreground was refused (the user went elsewhere while a
    // command was busy); it then has its own taskbar button.
    const UINT placement = owner ? MB_SETFOREGROUND : MB_SETFOREGROUND | MB_TASKMODAL | MB_TOPMOST;
    return MessageBoxW(owner, wtext.c_str(), wtitle.c_str(), style | placement);
}

long Registry::OpenKey(Key root, std::string_view subKey, std::uint32_t options,
                       std::uint32_t access, Key& result) {
    HKEY key = nullptr;
    const std::string ansi = Ansi(Wide(subKey));
    const LONG status = RegOpenKeyExA(NativeKey(root), ansi.c_str(), options, access, &key);
    result = status == ERROR_SUCCESS ? reinterpret_cast<Key>(key) : 0;
    return status;
}

long Registry::SetValue(Key key, std::string_view valueName, std::uint32_t type,
                        const std::vector<std::uint8_t>& data) {
    const std::string ansi = Ansi(Wide(valueName));
    return RegSetValueExA(NativeKey(key), ansi.c_str(), 0, type, data.data(),
                          static_cast<DWORD>(data.size()));
}

long Registry::DeleteValue(Key key, std::string_view valueName) {
    const std::string ansi = Ansi(Wide(valueName));
    return RegDeleteValueA(NativeKey(key), ansi.c_str());
}

long Registry::CloseKey(Key key) {
    return ::RegCloseKey(NativeKey(key));
}

long Registry::SetUserText(std::string_view subKey, std::string_view valueName,
                           std::string_view text) {
    HKEY opened = nullptr;
    const LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, Wide(subKey).c_str(), 0, nullptr, 0,
                                        KEY_SET_VALUE, nullptr, &opened, nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const UniqueRegKey key(opened);
    const std::wstring data = Wide(text);
    return RegSetValueExW(key.get(), Wide(valueName).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

long Registry::DeleteUserValue(std::string_view subKey, std::string_view valueName) {
    HKEY opened = nullptr;
    const LONG status =
        RegOpenKeyExW(HKEY_CURRENT_USER, Wide(subKey).c_str(), 0, KEY_SET_VALUE, &opened);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const UniqueRegKey key(opened);
    return RegDeleteValueW(key.get(), Wide(valueName).c_str());
}

std::optional<std::string> Machine::MachineGuid() {
    // KEY_WOW64_64KEY: a 32-bit program on 64-bit Windows reads the machine's own value, not
    // its WOW6432Node view; 32-bit Windows ignores the flag.
    UniqueRegKey hkey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, hkey.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::optional<std::wstring> guid = StringValue(hkey.get(), L"MachineGuid");
    if (!guid || guid->empty()) {
        return std::nullopt;
    }
    return Utf8(*guid);
}

std::string ProgramFile() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return Utf8(path);
        }
        path.resize(path.size() * 2);
    }
}

std::string ProgramFolder() {
    const std::string path = ProgramFile();
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace varnek::win32
