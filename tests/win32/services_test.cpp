// The Win32 services against what Wine really provides: its registry and registry tools, the
// shell's notification record, the process table and the file system; and the built program's
// self-test.
#include "Win32TestSupport.h"
#include "app/Application.h"
#include "app/VarnekIT.h"
#include "fakes/Fakes.h"
#include "resource.h"
#include "win32/Files.h"
#include "win32/SelfTest.h"
#include "win32/Text.h"
#include "win32/UiTask.h"
#include "win32/ViewFactory.h"
#include "win32/Win32Services.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace varnek;
using namespace varnek::win32;
using varnek::testing::ReadUtf16File;
using varnek::testing::RunAndWait;
using varnek::testing::TempPath;

namespace {

constexpr const char* App = "VarnekIT";
constexpr const char* Section = "Support";
const std::wstring SectionKey =
    L"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\VarnekIT\\Support";

// The registry as Wine's regedit exports it (UTF-16, exact).
std::wstring Export() {
    const std::wstring file = TempPath(L"export.reg");
    const DWORD code = RunAndWait(L"regedit.exe /E \"" + file + L"\" \"" + SectionKey + L"\"");
    EXPECT_EQ(code, 0u);
    std::wstring text = ReadUtf16File(file);
    DeleteFileW(file.c_str());
    return text;
}

struct SettingsStoreTest : ::testing::Test {
    void SetUp() override { RunAndWait(L"reg.exe delete \"" + SectionKey + L"\" /f"); }
    void TearDown() override { RunAndWait(L"reg.exe delete \"" + SectionKey + L"\" /f"); }
    RegistrySettingsStore store;
};

} // namespace

TEST_F(SettingsStoreTest, WhatTheStoreWritesIsWhatRegeditReads) {
    EXPECT_EQ(store.GetSetting(App, Section, "Brugernavn", "fallback"), "fallback");
    store.SaveSetting(App, Section, "Brugernavn", "Søren Ærø-Ågård");
    store.SaveSetting(App, Section, "Language", "1");
    store.SaveSetting(App, Section, "Teamviewer", "");
    const std::wstring exported = Export();
    EXPECT_NE(exported.find(L"\"Brugernavn\"=\"Søren Ærø-Ågård\""), std::wstring::npos)
        << Utf8(exported);
    EXPECT_NE(exported.find(L"\"Language\"=\"1\""), std::wstring::npos);
    EXPECT_NE(exported.find(L"\"Teamviewer\"=\"\""), std::wstring::npos);
    // Plain strings, not another type.
    EXPECT_EQ(exported.find(L"hex("), std::wstring::npos);

    store.SaveSetting(App, Section, "Language", "0"); // overwrites
    EXPECT_NE(Export().find(L"\"Language\"=\"0\""), std::wstring::npos);
    EXPECT_EQ(store.GetSetting(App, Section, "Brugernavn", ""), "Søren Ærø-Ågård");
    EXPECT_EQ(store.GetSetting(App, Section, "Teamviewer", "x"), ""); // empty is not absent
}

TEST_F(SettingsStoreTest, WhatWinesRegToolWritesIsWhatTheStoreReads) {
    ASSERT_EQ(RunAndWait(L"reg.exe add \"" + SectionKey +
                         L"\" /v Brugernavn /t REG_SZ /d \"blåbær grød\" /f"),
              0u);
    ASSERT_EQ(RunAndWait(L"reg.exe add \"" + SectionKey + L"\" /v Kodeord /t REG_SZ /d " +
                         std::wstring(64, L'e') + L" /f"),
              0u);
    ASSERT_EQ(RunAndWait(L"reg.exe add \"" + SectionKey + L"\" /v Number /t REG_DWORD /d 7 /f"),
              0u);
    EXPECT_EQ(store.GetSetting(App, Section, "Brugernavn", ""), "blåbær grød");
    EXPECT_EQ(store.GetSetting(App, Section, "Kodeord", "0"), std::string(64, 'e'));
    // A value that is not text counts as absent.
    EXPECT_EQ(store.GetSetting(App, Section, "Number", "d"), "d");

    store.DeleteSetting(App, Section, "Kodeord");
    store.DeleteSetting(App, Section, "Kodeord"); // already gone: no error
    store.DeleteSetting("NoSuchApp", Section, "Kodeord");
    EXPECT_EQ(store.GetSetting(App, Section, "Kodeord", "0"), "0");
    const std::wstring exported = Export();
    EXPECT_EQ(exported.find(L"Kodeord"), std::wstring::npos);
    EXPECT_NE(exported.find(L"\"Brugernavn\"=\"blåbær grød\""), std::wstring::npos);
}

TEST(NotifyShellTest, TheNativeRecordHasTheBalloonLayoutAndAnsiTexts) {
#ifndef _WIN64
    EXPECT_EQ(sizeof(NOTIFYICONDATAA) >= 488u, true);
#endif
    NotifyIconRecord record;
    record.cbSize = NotifyIconRecord::V2Size;
    record.hWnd = 0x1234;
    record.uID = 1;
    record.uFlags = NIF_TIP;
    record.uCallbackMessage = 0x200;
    record.szTip = u"Varnek IT Consulting æøå";
    record.szInfo = std::u16string(255, u'i');
    record.szInfoTitle = u"Updating";
    record.uTimeout = 1000;
    record.dwInfoFlags = 1;
    const NOTIFYICONDATAA native = NotifyShell::ToNative(record);
    EXPECT_EQ(native.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V2_SIZE));
    EXPECT_EQ(native.hWnd, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(native.uFlags, static_cast<UINT>(NIF_TIP));
    EXPECT_EQ(native.uCallbackMessage, 0x200u);
    EXPECT_EQ(std::string(native.szTip), Ansi(L"Varnek IT Consulting æøå"));
    EXPECT_EQ(std::strlen(native.szInfo), 255u);
    EXPECT_STREQ(native.szInfoTitle, "Updating");
    EXPECT_EQ(native.uTimeout, 1000u);
    EXPECT_EQ(native.dwInfoFlags, 1u);
}

namespace {

// Counts the ends of the processes it asked to end.
struct EndedOwner final : IProcessOwner {
    void ProcessesEnded() override { ++ended; }
    int ended = 0;
};

} // namespace

TEST(ProcessesTest, EveryProcessOfTheNameEndsWithCodeZeroAndOthersKeepRunning) {
    // Copies of a Wine program under the client's name, in two spellings, and one other.
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring source = std::wstring(system) + L"\\ping.exe";
    const std::wstring folder = TempPath(L"procs");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring names[] = {L"TeamViewer.exe", L"teamviewer.EXE", L"Varnek_TeamViewer.exe"};
    for (const auto& name : names) {
        ASSERT_TRUE(CopyFileW(source.c_str(), (folder + L"\\" + name).c_str(), FALSE));
    }
    std::vector<PROCESS_INFORMATION> started;
    for (const std::wstring name :
         {L"TeamViewer.exe", L"TeamViewer.exe", L"teamviewer.EXE", L"Varnek_TeamViewer.exe"}) {
        std::wstring commandLine = L"\"" + folder + L"\\" + name + L"\" -n 120 127.0.0.1";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                                   CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process));
        started.push_back(process);
    }
    UiTasks tasks;
    Processes processes(tasks);
    EndedOwner owner;
    EXPECT_EQ(processes.TerminateProcessesNamed("TeamViewer.exe", owner), 3);
    EXPECT_TRUE(varnek::testing::PumpUntil([&] { return owner.ended == 1; }, 10000));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(WaitForSingleObject(started[i].hProcess, 10000), WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeProcess(started[i].hProcess, &code);
        EXPECT_EQ(code, 0u);
    }
    EXPECT_EQ(WaitForSingleObject(started[3].hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(started[3].hProcess, 1);
    WaitForSingleObject(started[3].hProcess, 10000);
    for (auto& process : started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    EXPECT_EQ(processes.TerminateProcessesNamed("TeamViewer.exe", owner), 0);
    EXPECT_TRUE(varnek::testing::PumpUntil([&] { return owner.ended == 2; }, 10000));
    for (const auto& name : names) {
        DeleteFileW((folder + L"\\" + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

namespace {

// The stand-in client, built beside the tests.
std::wstring StandInTeamViewer() {
    return varnek::testing::ToolPath(L"standin_teamviewer.exe");
}

// Handles that a test signals when it likes, standing in for processes that take their time
// to end (Wine signals a terminated process's handle at once, even while a debugger holds its
// exit event, so no real process can be made to end slowly there).
struct Ends {
    explicit Ends(int count) {
        for (int i = 0; i < count; ++i) {
            handles.emplace_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        }
    }
    void End(int i) { SetEvent(handles[i].get()); }
    bool Ended(int i) const { return WaitForSingleObject(handles[i].get(), 0) == WAIT_OBJECT_0; }
    std::vector<UniqueHandle> handles;
};

} // namespace

TEST(ProcessesTest, TheWaitCoversEveryBatchOfHandles) {
    // More handles than one wait takes: two batches. The last two to end are one of each
    // batch, in both orders, so a wait that skipped either batch comes back too soon.
    for (const bool firstBatchLast : {true, false}) {
        Ends ends(MAXIMUM_WAIT_OBJECTS + 6);
        const int inFirst = 3;
        const int inSecond = MAXIMUM_WAIT_OBJECTS + 3;
        const int later = firstBatchLast ? inSecond : inFirst;
        const int last = firstBatchLast ? inFirst : inSecond;
        std::atomic<bool> waiting = false;
        std::thread ender([&] {
            while (!waiting) {
                SwitchToThread();
            }
            for (int i = 0; i < static_cast<int>(ends.handles.size()); ++i) {
                if (i != inFirst && i != inSecond) {
                    ends.End(i);
                }
            }
            Sleep(200); // the slow ones: the wait must last as long
            ends.End(later);
            Sleep(200);
            ends.End(last);
        });
        waiting = true;
        EXPECT_TRUE(Processes::WaitForAll(ends.handles, 10000));
        EXPECT_TRUE(ends.Ended(inFirst)) << firstBatchLast;
        EXPECT_TRUE(ends.Ended(inSecond)) << firstBatchLast;
        ender.join();
    }
}

TEST(ProcessesTest, TheBatchesShareOneDeadline) {
    Ends ends(MAXIMUM_WAIT_OBJECTS + 1); // two batches, nothing ever ends
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(Processes::WaitForAll(ends.handles, 1000));
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, 950u);
    EXPECT_LT(took, 1900u); // not a second for each batch

    const Ends none(0);
    EXPECT_TRUE(Processes::WaitForAll(none.handles, 0));
}

TEST(ProcessesTest, TheMainWindowAnswersWhileTheServiceWaits) {
    fakes::FakePlatform fake;
    ViewFactory views;
    Application app(fake.ServicesWith(views));
    VarnekIT& main = app.LoadMainWindow();
    const auto window = reinterpret_cast<HWND>(main.hWnd());
    ASSERT_NE(window, nullptr);
    // A program that takes two seconds to end: the call returns at once, another program that
    // asks the main window for its icon meanwhile gets its answer, and the owner hears of the
    // end only through the message loop, once the program has ended.
    struct Owner final : IProcessOwner {
        void RunComplete(const RunResult& result) override { ended = result; }
        std::optional<RunResult> ended;
    } owner;
    const std::wstring folder = TempPath(L"slow");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring exe = folder + L"\\Slow.exe";
    ASSERT_TRUE(CopyFileW(StandInTeamViewer().c_str(), exe.c_str(), FALSE));
    UiTasks tasks;
    Processes processes(tasks);
    const ULONGLONG start = GetTickCount64();
    processes.RunHidden(owner, {Utf8(exe), "2", Utf8(folder), 30000, {}});
    EXPECT_LT(GetTickCount64() - start, 1000u);
    DWORD_PTR answer = 0;
    LRESULT sent = 0;
    std::thread other([&] {
        sent = SendMessageTimeoutW(window, WM_GETICON, ICON_SMALL, 0, SMTO_BLOCK, 3000, &answer);
    });
    EXPECT_TRUE(varnek::testing::PumpUntil([&] { return owner.ended.has_value(); }, 20000));
    other.join();
    EXPECT_NE(sent, 0) << "the message was not answered while the service waited";
    EXPECT_EQ(reinterpret_cast<HICON>(answer), reinterpret_cast<HICON>(main.Icon()));
    ASSERT_TRUE(owner.ended.has_value());
    EXPECT_EQ(owner.ended->outcome, RunResult::Outcome::Exited);
    EXPECT_GE(GetTickCount64() - start, 1500u);
    DeleteFileW(exe.c_str());
    DeleteFileW((folder + L"\\Slow.log").c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST(ProcessesTest, StandInClientsHaveEndedWhenTheOwnerHears) {
    const std::wstring folder = TempPath(L"standins");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring exe = folder + L"\\TeamViewer.exe";
    ASSERT_TRUE(CopyFileW(StandInTeamViewer().c_str(), exe.c_str(), FALSE))
        << Utf8(StandInTeamViewer());
    std::vector<UniqueHandle> started;
    for (int i = 0; i < 2; ++i) {
        std::wstring commandLine = L"\"" + exe + L"\" 60"; // it ends by itself after a minute
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   folder.c_str(), &startup, &info));
        CloseHandle(info.hThread);
        started.emplace_back(info.hProcess);
        WaitForInputIdle(info.hProcess, 10000); // running its wait
    }
    UiTasks tasks;
    Processes processes(tasks);
    EndedOwner owner;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(processes.TerminateProcessesNamed("TeamViewer.exe", owner), 2);
    EXPECT_TRUE(varnek::testing::PumpUntil([&] { return owner.ended == 1; }, 10000));
    EXPECT_LT(GetTickCount64() - start, 5000u);
    for (const auto& process : started) {
        EXPECT_EQ(WaitForSingleObject(process.get(), 0), WAIT_OBJECT_0);
        TerminateProcess(process.get(), 1); // a no-op when it has ended, as it should have
    }
    for (const auto& process : started) {
        WaitForSingleObject(process.get(), 10000);
    }
    DeleteFileW(exe.c_str());
    DeleteFileW((folder + L"\\TeamViewer.log").c_str());
    RemoveDirectoryW(folder.c_str());
}

namespace {

// What a message box of this thread looked like while it was up; it is then closed with OK.
struct SeenBox {
    bool found = false;
    HWND owner = nullptr;
    bool foreground = false;
    bool otherWindowEnabled = true;
};
SeenBox seenBox;
HWND otherWindow = nullptr;

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) == L"#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK LookAtBox(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindBox, reinterpret_cast<LPARAM>(&box));
    if (!box) {
        return; // not up yet
    }
    KillTimer(nullptr, timer);
    seenBox.found = true;
    seenBox.owner = GetWindow(box, GW_OWNER);
    seenBox.foreground = GetForegroundWindow() == box;
    seenBox.otherWindowEnabled = IsWindowEnabled(otherWindow) != FALSE;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

SeenBox ShowBox() {
    seenBox = {};
    SetTimer(nullptr, 0, 20, &LookAtBox);
    Dialogs dialogs;
    EXPECT_EQ(dialogs.MsgBox("Teamviewer was not found", MB_ICONINFORMATION, "Error"), IDOK);
    return seenBox;
}

} // namespace

TEST(DialogsTest, ABoxComesUpInFrontOverTheWindowInFrontOrAloneFromTheTray) {
    // A shown window of the program in front (the launcher): the box belongs to it.
    const HWND shown = CreateWindowExW(0, L"STATIC", L"launcher", WS_OVERLAPPEDWINDOW, 10, 10, 200,
                                       100, nullptr, nullptr, nullptr, nullptr);
    const HWND hidden = CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                        nullptr, nullptr, nullptr, nullptr);
    ShowWindow(shown, SW_SHOW);
    SetForegroundWindow(shown);
    otherWindow = shown;
    SeenBox box = ShowBox();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.owner, shown);
    EXPECT_TRUE(box.foreground);
    EXPECT_FALSE(box.otherWindowEnabled) << "its owner waits for it";
    EXPECT_TRUE(IsWindowEnabled(shown));

    // From the tray only the hidden main window is active: the box stands alone, in front,
    // and the program's windows wait for it.
    ShowWindow(shown, SW_HIDE);
    SetForegroundWindow(hidden);
    SetActiveWindow(hidden);
    ShowWindow(shown, SW_SHOWNOACTIVATE);
    ASSERT_EQ(GetActiveWindow(), hidden);
    box = ShowBox();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_TRUE(box.foreground);
    EXPECT_FALSE(box.otherWindowEnabled);
    EXPECT_TRUE(IsWindowEnabled(shown));
    DestroyWindow(shown);
    DestroyWindow(hidden);
}

TEST(FileSystemTest, ExistenceAndDeletion) {
    const std::wstring path = TempPath(L"DeleteOLD.bat");
    const std::string utf8 = Utf8(path);
    Files files;
    EXPECT_FALSE(files.FileExists(utf8));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(files.FileExists(utf8));
    EXPECT_TRUE(files.RemoveFile(utf8));
    EXPECT_FALSE(files.FileExists(utf8));
    // A folder is not a file.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    EXPECT_FALSE(files.FileExists(Utf8(temp)));
}

TEST(RegistryTest, TheAutostartValueIsWrittenAsAnsiBytesAndDeleted) {
    // The machine-wide run list, as the autostart buttons use it.
    Registry registry;
    IRegistry::Key key = 0;
    ASSERT_EQ(registry.OpenKey(0x80000002, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                               0x3F, key),
              0);
    const std::string text = "C:\\Varnek\\VarnekIT.exe";
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    EXPECT_EQ(registry.SetValue(key, "VarnekIT-test", 1, data), 0);
    DWORD type = 0;
    BYTE buffer[64]{};
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                           "VarnekIT-test", RRF_RT_ANY, &type, buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 23u);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), text.c_str());
    EXPECT_EQ(registry.DeleteValue(key, "VarnekIT-test"), 0);
    EXPECT_NE(registry.DeleteValue(key, "VarnekIT-test"), 0);
    EXPECT_EQ(registry.CloseKey(key), 0);
    // A failed open leaves the handle at 0, and writing through it fails.
    IRegistry::Key missing = 0;
    EXPECT_NE(registry.OpenKey(0x80000002, "Software\\No\\Such\\Key", 0, 0x3F, missing), 0);
    EXPECT_EQ(missing, 0u);
    EXPECT_NE(registry.SetValue(missing, "x", 1, data), 0);
}

namespace {

const std::wstring ProgramKey = L"Software\\VB and VBA Program Settings\\VarnekIT";
constexpr const wchar_t* InstanceMutex = L"Local\\VarnekIT.Running";

// The program built beside the tests: <build>/src/VarnekIT.exe.
std::wstring BuiltProgram() {
    return Wide(ProgramFolder()) + L"\\..\\..\\src\\VarnekIT.exe";
}

DWORD RunProgram(const std::wstring& program, const std::wstring& arguments) {
    return RunAndWait(L"\"" + program + L"\" " + arguments, 30000);
}

BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    *reinterpret_cast<WORD*>(found) = language;
    return FALSE;
}

// A copy of the program whose resource of that type and number holds four bytes that are no
// picture or icon (Wine's UpdateResource does not delete a resource).
std::wstring CopyWithBroken(const std::wstring& folder, const wchar_t* type, int id) {
    const std::wstring copy = folder + L"\\VarnekIT.exe";
    EXPECT_TRUE(CopyFileW(BuiltProgram().c_str(), copy.c_str(), FALSE));
    WORD language = 0;
    {
        const UniqueLibrary module(LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        EnumResourceLanguagesW(module.get(), type, MAKEINTRESOURCEW(id), &FirstLanguage,
                               reinterpret_cast<LONG_PTR>(&language));
    }
    char junk[] = "junk";
    const HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
    EXPECT_NE(update, nullptr);
    EXPECT_TRUE(UpdateResourceW(update, type, MAKEINTRESOURCEW(id), language, junk, 4));
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE));
    const UniqueLibrary changed(LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    const HRSRC resource = FindResourceW(changed.get(), MAKEINTRESOURCEW(id), type);
    EXPECT_EQ(resource ? SizeofResource(changed.get(), resource) : 0, 4u);
    return copy;
}

} // namespace

TEST(SelfTestTest, TheBuiltProgramPassesAndLeavesNothingBehind) {
    const std::wstring program = BuiltProgram();
    ASSERT_NE(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES) << Utf8(program);
    RunAndWait(L"reg.exe delete \"HKCU\\" + ProgramKey + L"\" /f");
    const std::wstring appData = TempPath(L"appdata");
    ASSERT_TRUE(CreateDirectoryW(appData.c_str(), nullptr));
    {
        const varnek::testing::ScopedVariable localAppData(L"LOCALAPPDATA", appData);
        EXPECT_EQ(RunProgram(program, L"/selftest"), static_cast<DWORD>(SelfTestPassed));
    }
    EXPECT_EQ(FindWindowW(L"VarnekIT", nullptr), nullptr);
    UniqueRegKey key;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, ProgramKey.c_str(), 0, KEY_READ, key.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(GetFileAttributesW((appData + L"\\VarnekIT").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, InstanceMutex)));
    RemoveDirectoryW(appData.c_str());
}

TEST(SelfTestTest, WhatTheProgramCannotLoadFailsItWhetherOrNotAnotherOneRuns) {
    const std::wstring folder = TempPath(L"selftest");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    {
        // A program runs in this session: the self-test takes no notice of its mutex.
        const UniqueHandle running(CreateMutexW(nullptr, FALSE, InstanceMutex));
        ASSERT_TRUE(running);
        EXPECT_EQ(RunProgram(BuiltProgram(), L"/selftest"), static_cast<DWORD>(SelfTestPassed));
        const std::wstring noPicture = CopyWithBroken(folder, RT_RCDATA, IDR_LAUNCHER_JPEG);
        EXPECT_EQ(RunProgram(noPicture, L"/selftest"), static_cast<DWORD>(SelfTestNoPicture));
        EXPECT_EQ(RunProgram(noPicture, L" /SelfTest "), static_cast<DWORD>(SelfTestNoPicture));
        // Any other command line starts the program as always: as a second instance it ends
        // at once, with 0.
        EXPECT_EQ(RunProgram(noPicture, L"/selftest now"), 0u);
        EXPECT_EQ(RunProgram(noPicture, L"/selftests"), 0u);
        const std::wstring noIcon = CopyWithBroken(folder, RT_GROUP_ICON, IDI_VARNEKIT);
        EXPECT_EQ(RunProgram(noIcon, L"/selftest"), static_cast<DWORD>(SelfTestNoIcon));
    }
    DeleteFileW((folder + L"\\VarnekIT.exe").c_str());
    RemoveDirectoryW(folder.c_str());
}
