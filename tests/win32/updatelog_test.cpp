// The update log on Wine's file system: UTF-8 lines ended by CR LF, one older generation kept
// once the log grows past its limit, and a line that cannot be written lost without harm.
#include "Win32TestSupport.h"
#include "win32/Text.h"
#include "win32/UniqueHandle.h"
#include "win32/UpdateLogFile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using varnek::testing::ReadBytes;
using varnek::testing::TempPath;
using varnek::win32::UniqueHandle;
using varnek::win32::UpdateLogFile;
using varnek::win32::Utf8;

namespace {

// The file holds exactly these bytes (a long log is described by its size and start).
::testing::AssertionResult Holds(const std::wstring& path, const std::string& wanted) {
    const std::optional<std::string> actual = ReadBytes(path);
    if (actual == wanted) {
        return ::testing::AssertionSuccess();
    }
    const auto describe = [](const std::string& bytes) {
        return std::to_string(bytes.size()) + " bytes \"" + bytes.substr(0, 40) + "\"";
    };
    return ::testing::AssertionFailure()
           << Utf8(path) << " holds " << (actual ? describe(*actual) : "nothing") << ", not "
           << describe(wanted);
}

class UpdateLogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = TempPath(L"varnek-log");
        path_ = folder_ + L"\\VarnekIT\\update.log";
        // The user's folder is there; the program's folder below it is not yet.
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    }
    void TearDown() override {
        DeleteFileW(path_.c_str());
        DeleteFileW((path_ + L".1").c_str());
        RemoveDirectoryW((folder_ + L"\\VarnekIT").c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    static void Put(const std::wstring& path, const std::string& bytes) {
        const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file) << Utf8(path);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr));
    }

    std::wstring folder_;
    std::wstring path_;
};

TEST_F(UpdateLogFileTest, LinesAreAppendedInUtf8WithCrLfInAFolderMadeForThem) {
    UpdateLogFile log(path_);
    const std::string first = "08-12-2026 13:05:01 opdatering afvist: ikke signeret";
    const std::string second = "08-12-2026 13:05:02 underskriver: C=DK, O=Varnek IT ApS, "
                               "CN=\xC3\x86"
                               "bler \xC3\x98l \xC3\x85"
                               "en";
    log.Append(first);
    log.Append(second);
    EXPECT_TRUE(Holds(path_, first + "\r\n" + second + "\r\n"));
}

TEST_F(UpdateLogFileTest, ALogOverTheLimitBecomesTheOneOlderGeneration) {
    UpdateLogFile log(path_);
    log.Append("first");
    // Exactly at the limit: not over it, so the next line is appended.
    const std::string full(UpdateLogFile::MaxBytes - ReadBytes(path_)->size() - 2, 'x');
    log.Append(full);
    ASSERT_EQ(ReadBytes(path_)->size(), static_cast<std::size_t>(UpdateLogFile::MaxBytes));
    Put(path_ + L".1", "an older generation\r\n");
    log.Append("at the limit");
    const std::string kept = "first\r\n" + full + "\r\nat the limit\r\n";
    EXPECT_TRUE(Holds(path_, kept));
    EXPECT_TRUE(Holds(path_ + L".1", "an older generation\r\n"));

    // Over it: the whole log replaces the older generation, and the line starts a new log.
    log.Append("over the limit");
    EXPECT_TRUE(Holds(path_, "over the limit\r\n"));
    EXPECT_TRUE(Holds(path_ + L".1", kept));
}

TEST_F(UpdateLogFileTest, ALineThatCannotBeWrittenIsLostAndTheNextOneIsNot) {
    UpdateLogFile log(path_);
    log.Append("before");
    {
        // A program holding the log without sharing it.
        const UniqueHandle held(CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        log.Append("while held");
    }
    log.Append("after");
    EXPECT_TRUE(Holds(path_, "before\r\nafter\r\n"));

    // A folder that cannot be made: a file of that name is in the way.
    Put(folder_ + L"\\VarnekIT\\blocked", "not a folder");
    UpdateLogFile blocked(folder_ + L"\\VarnekIT\\blocked\\update.log");
    blocked.Append("lost");
    EXPECT_TRUE(Holds(folder_ + L"\\VarnekIT\\blocked", "not a folder"));
    DeleteFileW((folder_ + L"\\VarnekIT\\blocked").c_str());
}

} // namespace
