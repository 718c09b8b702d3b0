// The update service's file operations on Wine's file system, and the hidden start of a script.
#include "Version.h"
#include "Win32TestSupport.h"
#include "update/ReplacementScript.h"
#include "win32/Files.h"
#include "win32/Text.h"
#include "win32/UiTask.h"
#include "win32/Win32Services.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace varnek;
using varnek::testing::TempPath;
using varnek::win32::Files;
using varnek::win32::Utf8;
using varnek::win32::Wide;

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

void Put(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string Content(const std::string& path) {
    return varnek::testing::ReadBytes(Wide(path)).value_or("<none>");
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The names in a folder, without "." and "..".
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(Wide(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(Utf8(name));
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

FILETIME FromTimeT(std::time_t t) {
    const ULONGLONG ticks = (static_cast<ULONGLONG>(t) + 11644473600ull) * 10000000ull;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Seconds since 1601 of a DateTime taken as it stands (no zone), for differences.
long long Seconds(const DateTime& when) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(when.year);
    time.wMonth = static_cast<WORD>(when.month);
    time.wDay = static_cast<WORD>(when.day);
    time.wHour = static_cast<WORD>(when.hour);
    time.wMinute = static_cast<WORD>(when.minute);
    time.wSecond = static_cast<WORD>(when.second);
    FILETIME file{};
    SystemTimeToFileTime(&time, &file);
    return static_cast<long long>((ULONGLONG(file.dwHighDateTime) << 32 | file.dwLowDateTime) /
                                  10000000ull);
}

// Local time now by another route than the store's: the system clock with the current bias.
DateTime LocalNow() {
    FILETIME utc{};
    FILETIME local{};
    SYSTEMTIME time{};
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &time);
    return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

DateTime FromTm(const std::tm& tm) {
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

struct FilesTest : ::testing::Test {
    void SetUp() override {
        folder = Utf8(TempPath(L"opdatering æøå"));
        ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr));
    }
    void TearDown() override {
        for (const auto& name : Names(folder)) {
            const std::wstring path = Wide(folder + "\\" + name);
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            for (int i = 0; i < 50 && !DeleteFileW(path.c_str()); ++i) {
                Sleep(100); // a script that just ended may still hold its file
            }
        }
        // A program a script started there holds the folder as its working folder until it ends.
        EXPECT_TRUE(varnek::testing::PumpUntil(
            [&] { return RemoveDirectoryW(Wide(folder).c_str()) != FALSE; }, 10000));
    }
    std::string In(const std::string& name) const { return folder + "\\" + name; }

    std::string folder;
    Files store;
    win32::UiTasks tasks;
    win32::Processes processes{tasks};
};

} // namespace

TEST(FileTimeTest, TimeStampsTurnIntoLocalTimeByTheRulesOfTheirDate) {
    // November, July and April instants, so a zone with summer time meets both of its rules.
    struct Known {
        std::time_t instant;
        DateTime utc, copenhagen;
    };
    const Known known[] = {
        {1700000000, {2023, 11, 14, 22, 13, 20}, {2023, 11, 14, 23, 13, 20}},
        {1689000000, {2023, 7, 10, 14, 40, 0}, {2023, 7, 10, 16, 40, 0}},
        {1049500000, {2003, 4, 4, 23, 46, 40}, {2003, 4, 5, 1, 46, 40}},
    };
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    GetDynamicTimeZoneInformation(&zone);
    const bool utc = zone.Bias == 0 && zone.StandardDate.wMonth == 0;
    // Central European time with the EU's rules (Wine names the zone after one of its cities).
    const bool copenhagen = zone.Bias == -60 && zone.DaylightBias == -60 &&
                            zone.StandardDate.wMonth == 10 && zone.DaylightDate.wMonth == 3;
    wchar_t tz[64] = {};
    const bool crt = GetEnvironmentVariableW(L"TZ", tz, 64) == 0; // else the C runtime guesses
    std::printf("time zone %s\n", Utf8(zone.TimeZoneKeyName).c_str());
    for (const auto& k : known) {
        SCOPED_TRACE(k.instant);
        const FILETIME stamp = FromTimeT(k.instant);
        const auto local = Files::ToLocal(stamp);
        ASSERT_TRUE(local.has_value());
        if (utc) {
            EXPECT_EQ(*local, k.utc);
        } else if (copenhagen) {
            EXPECT_EQ(*local, k.copenhagen);
        } else if (crt) {
            EXPECT_EQ(*local, FromTm(*std::localtime(&k.instant)));
        }
        const auto back = Files::ToFileTime(*local);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(CompareFileTime(&*back, &stamp), 0);
    }
    EXPECT_FALSE(Files::ToFileTime(DateTime{2023, 2, 30, 0, 0, 0}).has_value());
}

TEST_F(FilesTest, CreationTimeIsReadAsLocalTimeAndSetWhereTheFileSystemKeepsIt) {
    const std::string file = In("VarnekIT.exe");
    const DateTime before = LocalNow();
    Put(file, "program");
    const DateTime after = LocalNow();
    const auto created = store.DateCreated(file);
    ASSERT_TRUE(created.has_value());
    EXPECT_GE(Seconds(*created), Seconds(before) - 2);
    EXPECT_LE(Seconds(*created), Seconds(after) + 2);
    // Does this file system keep a creation time that is set? Asked without the store.
    HANDLE handle = CreateFileW(Wide(file).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    const FILETIME probe = FromTimeT(1049500000);
    ASSERT_TRUE(SetFileTime(handle, &probe, nullptr, nullptr));
    CloseHandle(handle);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(Wide(file).c_str(), GetFileExInfoStandard, &data));
    const bool kept = CompareFileTime(&data.ftCreationTime, &probe) == 0;
    std::printf("the file system %s creation times\n", kept ? "keeps" : "does not keep");

    if (kept) {
        // Writing to it later changes its last-write time, not its creation time. (Wine on
        // Linux reports the time of the last change of the file's inode instead.)
        const auto before = store.DateCreated(file);
        Sleep(2100);
        Put(file, "program, updated");
        EXPECT_EQ(store.DateCreated(file), before);
    } else {
        Put(file, "program, updated");
    }
    const auto now = store.DateCreated(file);
    for (const DateTime when : {DateTime{2003, 4, 5, 6, 7, 8}, DateTime{2019, 7, 15, 23, 59, 58},
                                DateTime{2024, 12, 31, 0, 0, 1}}) {
        // Set where it is kept, to the second; reported as not set where it is not.
        EXPECT_EQ(store.SetDateCreated(file, when), kept);
        EXPECT_EQ(store.DateCreated(file), kept ? when : now);
    }
    ASSERT_TRUE(GetFileAttributesExW(Wide(file).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(Content(file), "program, updated");

    EXPECT_FALSE(store.DateCreated(In("missing.exe")).has_value());
    EXPECT_FALSE(store.SetDateCreated(In("missing.exe"), DateTime{2003, 4, 5, 6, 7, 8}));
}

TEST_F(FilesTest, WriteFileReplacesTheWholeContentAndLeavesNothingBeside) {
    const std::string file = In("VersionVarnekIT.txt");
    EXPECT_TRUE(store.WriteFile(file, Bytes("a long first content\r\n")));
    EXPECT_EQ(Content(file), "a long first content\r\n");
    EXPECT_TRUE(store.WriteFile(file, Bytes("1.0.3")));
    EXPECT_EQ(Content(file), "1.0.3");
    EXPECT_TRUE(store.WriteFile(file, {}));
    EXPECT_EQ(Content(file), "");
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 251);
    }
    EXPECT_TRUE(store.WriteFile(file, Bytes(big)));
    EXPECT_TRUE(Content(file) == big);
    EXPECT_EQ(Names(folder), std::vector<std::string>{"VersionVarnekIT.txt"});

    EXPECT_FALSE(store.WriteFile(In("no such folder\\x.txt"), Bytes("x")));
}

TEST_F(FilesTest, AReaderSeesTheOldOrTheNewContentNeverAMix) {
    const std::string file = In("VarnekIT.exe");
    const std::string first(1 << 20, 'a');
    const std::string second(2 << 20, 'b');
    ASSERT_TRUE(store.WriteFile(file, Bytes(first)));
    std::atomic<bool> writing{true};
    std::atomic<int> reads{0};
    std::atomic<int> mixed{0};
    std::thread reader([&] {
        while (writing) {
            const std::string seen = Content(file);
            if (seen != first && seen != second) {
                ++mixed;
            }
            ++reads;
        }
    });
    // While the reader has the file open it cannot be replaced (as on Windows): such a write
    // fails whole and is tried again.
    int replaced = 0;
    for (int i = 0, tries = 0; i < 30 && tries < 3000; ++tries) {
        if (store.WriteFile(file, Bytes(i % 2 ? first : second))) {
            ++i;
            ++replaced;
        }
    }
    EXPECT_EQ(replaced, 30);
    writing = false;
    reader.join();
    EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 5);
    EXPECT_TRUE(Content(file) == first);
    EXPECT_EQ(Names(folder), std::vector<std::string>{"VarnekIT.exe"});
}

TEST_F(FilesTest, AFileThatCannotBeReplacedKeepsItsContent) {
    const std::string file = In("VarnekIT.exe");
    Put(file, "the good program");
    // A read-only file.
    ASSERT_TRUE(SetFileAttributesW(Wide(file).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(store.WriteFile(file, Bytes("half")));
    EXPECT_EQ(Content(file), "the good program");
    ASSERT_TRUE(SetFileAttributesW(Wide(file).c_str(), FILE_ATTRIBUTE_NORMAL));
    // A file another program holds open without letting it be replaced.
    HANDLE held = CreateFileW(Wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(store.WriteFile(file, Bytes("half")));
    EXPECT_FALSE(store.MoveReplace(In("missing"), file));
    CloseHandle(held);
    EXPECT_EQ(Content(file), "the good program");
    // No temporary file is left behind by either.
    EXPECT_EQ(Names(folder), std::vector<std::string>{"VarnekIT.exe"});
}

TEST_F(FilesTest, ReadStartAndMoveReplace) {
    const std::string file = In("VarnekIT_ny.exe");
    Put(file, std::string("MZ\x90\x00 the rest of it", 19));
    EXPECT_EQ(store.ReadStart(file, 4).bytes, Bytes(std::string("MZ\x90\x00", 4)));
    EXPECT_EQ(store.ReadStart(file, 1000).bytes,
              Bytes(std::string("MZ\x90\x00 the rest of it", 19)));
    EXPECT_TRUE(store.ReadStart(file, 0).bytes.empty());
    // A file that cannot be read says why, apart from one that has nothing to read.
    EXPECT_EQ(store.ReadStart(In("missing"), 4).error,
              static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    HANDLE held =
        CreateFileW(Wide(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(store.ReadStart(file, 4).error, static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(store.FileVersion(file).error, static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
    CloseHandle(held);
    EXPECT_EQ(store.ReadStart(file, 4).error, 0u);

    const std::string old = In("VarnekIT.exe");
    Put(old, "old program");
    EXPECT_TRUE(store.MoveReplace(file, old));
    EXPECT_EQ(Content(old), std::string("MZ\x90\x00 the rest of it", 19));
    EXPECT_FALSE(Exists(file));
    // Nothing to move: the target stays as it is.
    EXPECT_FALSE(store.MoveReplace(file, old));
    EXPECT_EQ(Content(old), std::string("MZ\x90\x00 the rest of it", 19));
    // To a new name.
    EXPECT_TRUE(store.MoveReplace(old, In("VarnekIT_old.exe")));
    EXPECT_EQ(Names(folder), std::vector<std::string>{"VarnekIT_old.exe"});
}

TEST_F(FilesTest, FileVersionReadsTheVersionResource) {
    // This test program carries the program's own version resource.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const auto version = store.FileVersion(Utf8(self)).version;
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(*version, (std::array<int, 4>{VARNEK_VERSION_MAJOR, VARNEK_VERSION_MINOR,
                                            VARNEK_VERSION_PATCH, 0}));
    EXPECT_EQ(*version, (std::array<int, 4>{1, 0, 2, 0}));
    // And so does the program, when it has been built beside the tests.
    const std::string program = win32::ProgramFolder() + "\\..\\..\\src\\VarnekIT.exe";
    if (Exists(program)) {
        EXPECT_EQ(store.FileVersion(program).version, version);
    }

    Put(In("VersionVarnekIT.txt"), "1.0.3");
    // A file without one has none, and no error; one that is not there cannot be read.
    const FileVersionInfo text = store.FileVersion(In("VersionVarnekIT.txt"));
    EXPECT_FALSE(text.version.has_value());
    EXPECT_EQ(text.error, 0u);
    EXPECT_NE(store.FileVersion(In("missing.exe")).error, 0u);
}

TEST_F(FilesTest, NowIsTheLocalTime) {
    const DateTime before = LocalNow();
    const DateTime now = win32::Clock().Now();
    const DateTime after = LocalNow();
    EXPECT_GE(Seconds(now), Seconds(before));
    EXPECT_LE(Seconds(now), Seconds(after));
    EXPECT_LE(Seconds(after) - Seconds(before), 1);
}

TEST_F(FilesTest, StartScriptRunsAScriptByNameInItsFolderWithoutWaiting) {
    // The script waits for a sign from the test, so a start that waited for it would hang here;
    // it writes its mark relative to its working folder. A cmd.exe in that folder is not the
    // one that runs it.
    Put(In("DeleteOLD.bat"), "@echo off\r\n"
                             "set n=0\r\n"
                             ":wait\r\n"
                             "set /a n=n+1\r\n"
                             "if %n% gtr 200000 exit\r\n"
                             "if not exist go.txt goto wait\r\n"
                             "echo ran>marker.txt\r\n");
    ASSERT_TRUE(CopyFileW(varnek::testing::ToolPath(L"standin_client.exe").c_str(),
                          Wide(In("cmd.exe")).c_str(), FALSE));
    wchar_t elsewhere[MAX_PATH];
    GetTempPathW(MAX_PATH, elsewhere);
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    SetCurrentDirectoryW(elsewhere);

    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(processes.StartScript("DeleteOLD.bat", folder));
    EXPECT_LT(GetTickCount64() - start, 5000u);
    Sleep(300);
    EXPECT_FALSE(Exists(In("marker.txt")));
    Put(In("go.txt"), "");
    for (int i = 0; i < 200 && Content(In("marker.txt")) != "ran\r\n"; ++i) {
        Sleep(100);
    }
    EXPECT_EQ(Content(In("marker.txt")), "ran\r\n");
    EXPECT_FALSE(Exists(std::string(Utf8(elsewhere)) + "marker.txt"));
    EXPECT_FALSE(Exists(In("cmd.log")));

    EXPECT_FALSE(processes.StartScript("NoSuchScript.bat", folder));
    SetCurrentDirectoryW(current);
}

namespace {

// The command processors this process started that still run.
int ChildScripts() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        count += entry.th32ParentProcessID == GetCurrentProcessId() &&
                 _wcsicmp(entry.szExeFile, L"cmd.exe") == 0;
    }
    CloseHandle(snapshot);
    return count;
}

} // namespace

// The real script under the system's cmd, on real files: the stand-in client plays both
// programs (the new one carries a mark at its end) and writes <name>.log when it starts.
TEST_F(FilesTest, TheReplacementScriptPutsTheNewProgramInPlaceOrLeavesTheOldOne) {
    const std::wstring tool = varnek::testing::ToolPath(L"standin_client.exe");
    const std::string program = In("VarnekIT.exe"), fresh = In("New_VarnekIT.exe");
    const std::string aside = "VarnekIT.exe.7-1.old";
    const std::string old = Content(Utf8(tool)), mark = old + "new";
    struct Case {
        const char* what;
        const char* held; // held open without delete sharing
        DWORD holdMs;     // this long (0: for the whole run)
        bool noNew;       // New_VarnekIT.exe gone before the script starts
        bool readOnly;    // VarnekIT.exe read-only
        bool replaced;
    };
    // Three tries at most: about three seconds.
    const Case cases[] = {
        {"as it runs", nullptr, 0, false, false, true},
        {"held for a while", "VarnekIT.exe", 1500, false, false, true},
        {"held beyond the tries", "VarnekIT.exe", 8000, false, false, false},
        {"the new one held beyond the tries", "New_VarnekIT.exe", 8000, false, false, false},
        // An aside copy of an earlier update that another session still runs.
        {"an earlier aside copy in use", "VarnekIT.exe.old", 0, false, false, true},
        {"nothing new", nullptr, 0, true, false, false},
        {"read-only", nullptr, 0, false, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(program, old);
        Put(In("VarnekIT.exe.old"), old);
        if (!c.noNew) {
            Put(fresh, mark);
        }
        if (c.readOnly) {
            SetFileAttributesW(Wide(program).c_str(), FILE_ATTRIBUTE_READONLY);
        }
        const auto script = ReplacementScript(aside, 3, 3);
        ASSERT_TRUE(store.WriteFile(In("DeleteOLD.bat"), script));
        HANDLE held = c.held ? CreateFileW(Wide(In(c.held)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                           nullptr, OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE;
        const ULONGLONG started = GetTickCount64();
        ASSERT_TRUE(processes.StartScript("DeleteOLD.bat", folder));
        // The script ends by deleting itself, once it started the program.
        for (int i = 0; i < 300 && (Exists(In("DeleteOLD.bat")) || !Exists(In("VarnekIT.log")));
             ++i) {
            if (held != INVALID_HANDLE_VALUE && c.holdMs &&
                GetTickCount64() - started >= c.holdMs) {
                CloseHandle(held);
                held = INVALID_HANDLE_VALUE;
            }
            Sleep(50);
        }
        EXPECT_FALSE(Exists(In("DeleteOLD.bat")));
        // Whatever happened, a VarnekIT.exe is there and was started from there.
        EXPECT_EQ(Content(program), c.replaced ? mark : old);
        EXPECT_NE(Content(In("VarnekIT.log")).find("VarnekIT.exe"), std::string::npos);
        EXPECT_EQ(Exists(fresh), !c.replaced && !c.noNew);
        EXPECT_FALSE(Exists(In(aside)));
        EXPECT_EQ(ChildScripts(), 0);
        if (held != INVALID_HANDLE_VALUE) {
            CloseHandle(held);
        }
        for (const char* name :
             {"VarnekIT.exe", "New_VarnekIT.exe", "VarnekIT.log", "VarnekIT.exe.old"}) {
            SetFileAttributesW(Wide(In(name)).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(Wide(In(name)).c_str());
        }
    }
}

// The self-test's run: on a worker, its end handed to the user-interface thread.
TEST_F(FilesTest, RunHiddenWaitsForTheProgramAndTellsHowItEnded) {
    struct Owner final : IProcessOwner {
        void RunComplete(const RunResult& result) override { ended = result; }
        std::optional<RunResult> ended;
    };
    const auto run = [&](RunRequest request) {
        Owner owner;
        processes.RunHidden(owner, std::move(request));
        EXPECT_TRUE(varnek::testing::PumpUntil([&] { return owner.ended.has_value(); }, 30000));
        return owner.ended.value_or(RunResult{});
    };
    const std::wstring tool = varnek::testing::ToolPath(L"standin_client.exe");
    ASSERT_TRUE(CopyFileW(tool.c_str(), Wide(In("New_VarnekIT.exe")).c_str(), FALSE));
    const RunResult ran = run({In("New_VarnekIT.exe"), "/selftest", folder, 30000, {}});
    EXPECT_EQ(ran.outcome, RunResult::Outcome::Exited);
    EXPECT_EQ(ran.code, 0u);
    const std::string log = Content(In("New_VarnekIT.log"));
    EXPECT_NE(log.find("/selftest"), std::string::npos) << log;
    EXPECT_NE(log.find("\"show\":0"), std::string::npos) << log; // hidden

    // The check before it refuses the file: nothing starts.
    DeleteFileW(Wide(In("New_VarnekIT.log")).c_str());
    const RunResult refused = run({In("New_VarnekIT.exe"), "", folder, 30000, [](const auto&) {
                                       return FileVerdict{"refused: no", true, {}};
                                   }});
    EXPECT_EQ(refused.outcome, RunResult::Outcome::Refused);
    EXPECT_EQ(refused.verdict.refusal, "refused: no");
    EXPECT_FALSE(Exists(In("New_VarnekIT.log")));

    // One that does not end in time is ended.
    ASSERT_TRUE(CopyFileW(varnek::testing::ToolPath(L"standin_teamviewer.exe").c_str(),
                          Wide(In("Slow.exe")).c_str(), FALSE));
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(run({In("Slow.exe"), "", folder, 1500, {}}).outcome, RunResult::Outcome::TimedOut);
    EXPECT_LT(GetTickCount64() - started, 10000u);
    EXPECT_TRUE(DeleteFileW(Wide(In("Slow.exe")).c_str())); // no longer running

    // A file that is no program does not start, and says why.
    Put(In("Text.exe"), "not a program at all, just text");
    const RunResult notStarted = run({In("Text.exe"), "", folder, 1500, {}});
    EXPECT_EQ(notStarted.outcome, RunResult::Outcome::NotStarted);
    EXPECT_EQ(notStarted.code, static_cast<std::uint32_t>(ERROR_BAD_EXE_FORMAT));
}
