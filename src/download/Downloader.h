// The file fetcher: downloads a file from a URL to a local path. The data goes to a temporary
// file of this download's own beside the destination and replaces the destination only when it
// arrived whole (and passed the checks asked for), so a failed download never damages a good
// file.
#pragma once

#include "platform/Files.h"
#include "platform/ReadService.h"
#include "platform/Services.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace varnek {

// A file that lives only as long as its owner: removed when the owner goes, unless it was moved
// into place first. The read service writes it; only its owner removes it.
class TemporaryFile {
public:
    TemporaryFile(IFiles& files, std::string path) : files_(&files), path_(std::move(path)) {}
    ~TemporaryFile() { Remove(); }
    TemporaryFile(TemporaryFile&& other) noexcept
        : files_(other.files_), path_(std::exchange(other.path_, {})) {}
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& Path() const { return path_; }
    // Moves the file over `destination` in one step; it is no longer this object's then. With
    // an `aside` name, a destination that cannot be replaced (a program that runs from it) is
    // renamed to it first (a running program's file may be renamed) and put back when the move
    // still fails.
    bool MoveTo(std::string_view destination, std::string_view aside = {}) {
        if (path_.empty()) {
            return false;
        }
        bool moved = files_->MoveReplace(path_, destination);
        if (!moved && !aside.empty() && files_->MoveReplace(destination, aside)) {
            moved = files_->MoveReplace(path_, destination);
            if (!moved) {
                files_->MoveReplace(aside, destination);
            }
        }
        if (moved) {
            path_.clear();
        }
        return moved;
    }
    void Remove() {
        if (!path_.empty()) {
            files_->RemoveFile(path_);
            path_.clear();
        }
    }

private:
    IFiles* files_;
    std::string path_;
};

class Downloader final : public IAsyncReadOwner {
public:
    // Every temporary file of a download ends so: "<destination>.<process>-<n>.download", a name
    // no other download, of this run or of another copy of the program, uses at the same time.
    static constexpr std::string_view TemporarySuffix = ".download";

    // Events, raised on the user-interface thread.
    std::function<void(std::int32_t CurBytes, std::int32_t MaxBytes, const std::string& SaveFile)>
        DownloadProgress;
    std::function<void(const std::string& SaveFile)> DownloadError;
    // MaxBytes 0: nothing was written (DownloadError came first).
    std::function<void(std::int32_t MaxBytes, const std::string& SaveFile)> DownloadComplete;
    // Why a download failed or was refused, just before DownloadError.
    std::function<void(const std::string& SaveFile, const std::string& Reason)> DownloadFailed;
    // What the check (Accept) found, before the events that follow from it.
    std::function<void(const std::string& SaveFile, const FileVerdict& Verdict)> Checked;

    // Only a file that starts with "MZ" (a Windows program) replaces the destination.
    bool RequireExecutable = false;
    // A destination that cannot be replaced (a program that runs from it) is renamed aside, to
    // "<destination>.<process>-<n>.old", for the new file to take its place; a later start
    // removes that copy once nothing runs it (RemoveAsideCopies).
    bool MoveAsideWhenHeld = false;
    // A larger download is refused without writing more of it (0: no limit).
    std::int64_t MaxBytes = 0;
    // A check of the whole downloaded file at its temporary path, run on the read's worker
    // before the destination is touched.
    FileCheck Accept;

    Downloader(IReadService& reads, IFiles& files, IProcesses& processes, IDialogs& dialogs)
        : reads_(reads), files_(files), processes_(processes), dialogs_(dialogs) {}
    // Ends the downloads under way; their temporary files go.
    ~Downloader() override;
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    // Starts the download; one that cannot be started is reported in a message box. A download
    // to the same destination that is still under way ends first.
    void BeginDownload(std::string_view url, std::string_view SaveFile);
    // Ends every download under way at once, without events; their temporary files go.
    void Stop();

    // The temporary file a download to `SaveFile` uses now, empty when none runs.
    std::string TemporaryFileOf(std::string_view SaveFile) const;
    // Whether `name` (a file name without folder) is a temporary file of a download to a file
    // named `saveFileName`, of this run or of any other.
    static bool IsTemporaryOf(std::string_view name, std::string_view saveFileName);

    // IAsyncReadOwner
    void AsyncReadProgress(const AsyncProperty& property) override;
    void AsyncReadComplete(const AsyncProperty& property) override;

private:
    // Empty when the file arrived whole and passed the checks, else why not.
    std::string Refusal(const AsyncProperty& property, const std::string& temporary);
    void Report(const std::string& saveFile, const AsyncProperty& property);
    void Fail(const std::string& saveFile, const std::string& reason);

    IReadService& reads_;
    IFiles& files_;
    IProcesses& processes_;
    IDialogs& dialogs_;
    // By destination: the download's temporary file and its tag ".<process>-<n>".
    struct Running {
        TemporaryFile file;
        std::string tag;
    };
    std::map<std::string, Running, std::less<>> running_;
};

// Removes the temporary files that earlier runs left in `folder` for downloads to the named
// files (a run that ended in the middle of a download). A file that another running copy of
// the program still writes is held open by it and stays.
void RemoveLeftoverDownloads(IFiles& files, std::string_view folder,
                             std::initializer_list<std::string_view> saveFileNames);
// Whether `name` is an aside copy of the file `fileName` ("<fileName>.<tag>.old", or the older
// "<fileName>.old").
bool IsAsideCopyOf(std::string_view name, std::string_view fileName);

} // namespace varnek
