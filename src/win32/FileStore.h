// The update service's file operations and its start of the replacement script, on Win32.
#pragma once

#include "platform/FileStore.h"

#include <windows.h>

namespace varnek::win32 {

class FileStore final : public IFileStore {
public:
    std::optional<DateTime> DateCreated(std::string_view path) override;
    // False also when the file system does not keep the time (Wine on Linux keeps none).
    bool SetDateCreated(std::string_view path, const DateTime& when) override;
    std::optional<std::int64_t> SecondsSinceWritten(std::string_view path) override;
    // Writes a temporary file beside the target (GetTempFileNameW: "vitXXXX.tmp") and moves it
    // over the target in one step, so a half-written file never replaces a good one.
    bool WriteFile(std::string_view path, const std::vector<std::uint8_t>& bytes) override;
    std::optional<std::int64_t> FileSize(std::string_view path) override;
    FileBytes ReadStart(std::string_view path, std::size_t count) override;
    bool MoveReplace(std::string_view from, std::string_view to) override;
    // The VS_FIXEDFILEINFO file version.
    FileVersionInfo FileVersion(std::string_view path) override;
    std::vector<std::string> FilesIn(std::string_view folder) override;
    bool IsWriteTemporary(std::string_view name) override;
    std::string SystemFolder() override;
    DateTime Now() override;
    std::uint32_t ProcessId() override { return GetCurrentProcessId(); }
    // %SystemRoot%\System32\cmd.exe /d /c <script>, hidden, in `folder`.
    bool StartScript(std::string_view script, std::string_view folder) override;

    // A file time stamp (UTC) as local time and back, with the local time zone's rules for
    // that date.
    static std::optional<DateTime> ToLocal(const FILETIME& utc);
    static std::optional<FILETIME> ToFileTime(const DateTime& local);
};

} // namespace varnek::win32
