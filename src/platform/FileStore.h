// What the update service needs of files and processes beyond existence and deletion.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

// The folder followed by "\" and the file name; a folder that already ends in "\" (a drive
// root) gets no second one.
inline std::string PathInFolder(std::string_view folder, std::string_view fileName) {
    std::string path(folder);
    if (path.empty() || path.back() != '\\') {
        path += '\\';
    }
    path += fileName;
    return path;
}

// A local date and time.
struct DateTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
    auto operator<=>(const DateTime&) const = default;
};

// How a program run by IFileStore::RunHidden ended.
struct RunResult {
    enum class Outcome {
        Exited,     // `code` is its exit code
        NotStarted, // `code` is the system's error (193: not a program of this machine, ...)
        TimedOut,   // it was still running at the time-out and was ended
    };
    Outcome outcome = Outcome::NotStarted;
    std::uint32_t code = 0;
};

// The checks of a downloaded file run on a read's worker: FileSize, ReadStart, FileVersion,
// Now and RunHidden may be called from any thread; the rest only from the user-interface
// thread.
class IFileStore {
public:
    virtual ~IFileStore() = default;
    // The file's creation time (local time), if the file exists.
    virtual std::optional<DateTime> DateCreated(std::string_view path) = 0;
    virtual bool SetDateCreated(std::string_view path, const DateTime& when) = 0;
    // Writes the bytes as the whole new content of the file (replacing it); false on failure.
    virtual bool WriteFile(std::string_view path, const std::vector<std::uint8_t>& bytes) = 0;
    // The file's size in bytes, if the file exists.
    virtual std::optional<std::int64_t> FileSize(std::string_view path) = 0;
    // Up to `count` bytes from the start of the file (empty when it cannot be read).
    virtual std::vector<std::uint8_t> ReadStart(std::string_view path, std::size_t count) = 0;
    // Moves `from` over `to`, replacing it in one step, and returns once the move is on the
    // disk; false when `to` is unchanged.
    virtual bool MoveReplace(std::string_view from, std::string_view to) = 0;
    // The major, minor, build and revision numbers of the file's version resource.
    virtual std::optional<std::array<int, 4>> FileVersion(std::string_view path) = 0;
    // The names (without folder) of the files in a folder; empty when it cannot be read.
    virtual std::vector<std::string> FilesIn(std::string_view folder) = 0;
    // Local time now.
    virtual DateTime Now() = 0;
    // This process's id: no other process running at the same time has it.
    virtual std::uint32_t ProcessId() = 0;
    // Starts the system's command processor on the script (a bare file name in `folder`),
    // hidden, with `folder` as its working folder, without waiting; false when it could not be
    // started.
    virtual bool StartScript(std::string_view script, std::string_view folder) = 0;
    // Runs a program (a full path) with the arguments, hidden, with `folder` as its working
    // folder, and waits for its end at most `timeoutMs`; one that is still running then is
    // ended.
    virtual RunResult RunHidden(std::string_view program, std::string_view arguments,
                                std::string_view folder, std::uint32_t timeoutMs) = 0;
};

} // namespace varnek
