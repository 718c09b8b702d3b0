// The file fetcher: downloads a file from a URL to a local path. The data goes to a temporary
// file beside the destination and replaces the destination only when it arrived whole (and,
// when asked, looks like a program), so a failed download never damages a good file.
#pragma once

#include "platform/FileStore.h"
#include "platform/ReadService.h"
#include "platform/Services.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace varnek {

class Downloader final : public IAsyncReadOwner {
public:
    // The temporary file of a download: beside the destination.
    static constexpr std::string_view TemporarySuffix = ".download";

    // Events, raised on the user-interface thread.
    std::function<void(std::int32_t CurBytes, std::int32_t MaxBytes, const std::string& SaveFile)>
        DownloadProgress;
    std::function<void(const std::string& SaveFile)> DownloadError;
    // MaxBytes 0: nothing was written (DownloadError came first).
    std::function<void(std::int32_t MaxBytes, const std::string& SaveFile)> DownloadComplete;

    // Only a file that starts with "MZ" (a Windows program) replaces the destination.
    bool RequireExecutable = false;

    Downloader(IReadService& reads, IFileStore& fileStore, IFileSystem& files, IDialogs& dialogs)
        : reads_(reads), fileStore_(fileStore), files_(files), dialogs_(dialogs) {}
    ~Downloader() override;
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    // Starts the download; one that cannot be started is reported in a message box.
    void BeginDownload(std::string_view url, std::string_view SaveFile);

    static std::string TemporaryFile(std::string_view SaveFile) {
        return std::string(SaveFile) + std::string(TemporarySuffix);
    }

    // IAsyncReadOwner
    void AsyncReadProgress(const AsyncProperty& property) override;
    void AsyncReadComplete(const AsyncProperty& property) override;

private:
    bool Arrived(const AsyncProperty& property, const std::string& temporary);

    IReadService& reads_;
    IFileStore& fileStore_;
    IFileSystem& files_;
    IDialogs& dialogs_;
    std::set<std::string> running_; // destinations of the downloads under way
};

} // namespace varnek
