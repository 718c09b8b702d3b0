// The text fetcher: reads a small file from a URL into memory and reports progress, errors
// and the result to its owner. It keeps nothing itself; the read service does the work.
#pragma once

#include "platform/ReadService.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

class Download final : public IAsyncReadOwner {
public:
    // A text read is capped: a longer answer is a failed read.
    static constexpr std::int64_t MaxBytes = 64 * 1024;

    // Events, raised on the user-interface thread.
    std::function<void(const std::string& Key, std::int32_t Progress, std::int32_t ProgressMax,
                       std::int32_t StatusNumber, const std::string& StatusText)>
        DownloadProgress;
    std::function<void(const std::string& Key, std::int32_t Code, const std::string& Description)>
        DownloadError;
    // Value: the bytes read (file reads: the name of the local file that holds them).
    std::function<void(const std::string& Key, const std::vector<std::uint8_t>& Value,
                       std::int32_t FileType)>
        DownloadComplete;

    explicit Download(IReadService& reads) : reads_(reads) {}
    ~Download() override;
    Download(const Download&) = delete;
    Download& operator=(const Download&) = delete;

    // Starts a read; a read that cannot be started raises DownloadError at once.
    void BeginDownload(std::string_view Path, std::string_view Key = "",
                       std::int32_t FileType = vbAsyncTypeByteArray,
                       std::int32_t DownloadType = vbAsyncReadForceUpdate);
    // Stops the read started under that key; errors are ignored.
    void Cancel(std::string_view Key = "");

    static std::string GetStatusCode(std::int32_t Code);

    // IAsyncReadOwner
    void AsyncReadProgress(const AsyncProperty& property) override;
    void AsyncReadComplete(const AsyncProperty& property) override;

private:
    IReadService& reads_;
};

// The status text of a notification: the service's own text when it gave one, else the text
// of its status code.
std::string StatusText(const AsyncProperty& property);

} // namespace varnek
