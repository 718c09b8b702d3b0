// Files and the clock on Win32.
#pragma once

#include "platform/Files.h"

#include <windows.h>

namespace varnek::win32 {

class Files final : public IFiles {
public:
    bool FileExists(std::string_view path) override;
    bool RemoveFile(std::string_view path) override;
    FileBytes ReadStart(std::string_view path, std::size_t count) override;
    // Writes a temporary file beside the target (GetTempFileNameW: "vitXXXX.tmp") and moves it
    // over the target in one step, so a half-written file never replaces a good one.
    bool WriteFile(std::string_view path, const std::vector<std::uint8_t>& bytes) override;
    bool MoveReplace(std::string_view from, std::string_view to) override;
    std::optional<DateTime> DateCreated(std::string_view path) override;
    // False also when the file system does not keep the time (Wine on Linux keeps none).
    bool SetDateCreated(std::string_view path, const DateTime& when) override;
    std::optional<std::int64_t> SecondsSinceWritten(std::string_view path) override;
    std::optional<std::int64_t> FileSize(std::string_view path) override;
    // The VS_FIXEDFILEINFO file version.
    FileVersionInfo FileVersion(std::string_view path) override;
    std::vector<std::string> FilesIn(std::string_view folder) override;
    bool IsWriteTemporary(std::string_view name) override;
    std::string SystemFolder() override;

    // A file time stamp (UTC) as local time and back, with the local time zone's rules for
    // that date.
    static std::optional<DateTime> ToLocal(const FILETIME& utc);
    static std::optional<FILETIME> ToFileTime(const DateTime& local);
};

class Clock final : public IClock {
public:
    DateTime Now() override;
};

} // namespace varnek::win32
