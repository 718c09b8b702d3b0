// Files by path (UTF-8, backslash separators): what the program reads, writes, moves and
// removes, their dates, and what it decides about a file it checks.
#pragma once

#include "platform/Clock.h"

#include <array>
#include <cstdint>
#include <functional>
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

// What reading a file gave. `error` is the system's error number (not 0) when the file could not
// be opened or read: another program holds it (a scanner), access is denied, it is gone. That
// is a fault of the moment, not of the file's content.
struct FileBytes {
    std::vector<std::uint8_t> bytes;
    std::uint32_t error = 0;
};

// A file's version resource: none where the file carries none, or an error (as above) where the
// file could not be read.
struct FileVersionInfo {
    std::optional<std::array<int, 4>> version; // major, minor, build, revision
    std::uint32_t error = 0;
};

// What a check of a whole file (a download, before anything relies on it) decided.
struct FileVerdict {
    // Empty: the file may be used; else why not.
    std::string refusal;
    // The refusal is about the file itself (its kind, its signature, its version, its start),
    // not a fault of the moment: the same file would be refused again.
    bool lasting = false;
    // What the check found on its way, in order, for the update log.
    std::vector<std::string> notes;
};
// A check of the file at `path`. It runs on a worker thread: it may use only what may be used
// from any thread (files, signatures), never the program's windows or the core's objects, which
// may be gone by the time it ends.
using FileCheck = std::function<FileVerdict(const std::string& path)>;

// FileExists, FileSize, ReadStart and FileVersion may be called from any thread (the checks of a
// download run on a worker); the rest only from the user-interface thread.
class IFiles {
public:
    virtual ~IFiles() = default;
    virtual bool FileExists(std::string_view path) = 0;
    // True when the file is gone afterwards.
    virtual bool RemoveFile(std::string_view path) = 0;
    // Up to `count` bytes from the start of the file.
    virtual FileBytes ReadStart(std::string_view path, std::size_t count) = 0;
    // Writes the bytes as the whole new content of the file (replacing it); false on failure.
    virtual bool WriteFile(std::string_view path, const std::vector<std::uint8_t>& bytes) = 0;
    // Moves `from` over `to`, replacing it in one step, and returns once the move is on the
    // disk; false when `to` is unchanged.
    virtual bool MoveReplace(std::string_view from, std::string_view to) = 0;
    // The file's creation time (local time), if the file exists.
    virtual std::optional<DateTime> DateCreated(std::string_view path) = 0;
    virtual bool SetDateCreated(std::string_view path, const DateTime& when) = 0;
    // How many seconds ago the file was last written (negative for a time in the future), if
    // the file exists.
    virtual std::optional<std::int64_t> SecondsSinceWritten(std::string_view path) = 0;
    // The file's size in bytes, if the file exists.
    virtual std::optional<std::int64_t> FileSize(std::string_view path) = 0;
    virtual FileVersionInfo FileVersion(std::string_view path) = 0;
    // The names (without folder) of the files in a folder; empty when it cannot be read.
    virtual std::vector<std::string> FilesIn(std::string_view folder) = 0;
    // Whether `name` (without folder) is one that WriteFile gives its temporary files.
    virtual bool IsWriteTemporary(std::string_view name) = 0;
    // The system's own folder of programs (where the command processor lives).
    virtual std::string SystemFolder() = 0;
};

} // namespace varnek
