// Background reading of URLs: the service behind the download components. A read runs on a
// worker; every notification reaches its owner on the user-interface thread.
#pragma once

#include "platform/Files.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

// Result types of a read.
enum AsyncReadType : std::int32_t {
    vbAsyncTypePicture = 0,
    vbAsyncTypeFile = 1,      // Value names a local file that holds the data
    vbAsyncTypeByteArray = 2, // Value holds the bytes
};
// Read options.
inline constexpr std::int32_t vbAsyncReadForceUpdate = 16; // never answer from a cache

// Read-status codes (the URL-moniker bind status numbers); 0 is an error.
enum AsyncStatusCode : std::int32_t {
    vbAsyncStatusCodeError = 0,
    vbAsyncStatusCodeFindingResource = 1,
    vbAsyncStatusCodeConnecting = 2,
    vbAsyncStatusCodeRedirecting = 3,
    vbAsyncStatusCodeBeginDownloadData = 4,
    vbAsyncStatusCodeDownloadingData = 5,
    vbAsyncStatusCodeEndDownloadData = 6,
    vbAsyncStatusCodeUsingCachedCopy = 10,
    vbAsyncStatusCodeSendingRequest = 11,
    vbAsyncStatusCodeMIMETypeAvailable = 13,
    vbAsyncStatusCodeCacheFileNameAvailable = 14,
    vbAsyncStatusCodeBeginSyncOperation = 15,
    vbAsyncStatusCodeEndSyncOperation = 16,
};

struct AsyncProperty {
    std::string PropertyName;        // the key the read was started with
    std::vector<std::uint8_t> Value; // byte-array reads: the data, at completion
    std::string FileName;            // file reads: the local file that holds the data
    std::int32_t AsyncType = vbAsyncTypeByteArray;
    std::int32_t BytesRead = 0;
    std::int32_t BytesMax = 0;
    std::string Status; // the service's own status text, may be empty
    std::int32_t StatusCode = 0;
    // Reads with a check (ReadRequest::check): whether it ran (with StatusCode 6 it passed), what
    // it noted, and whether its refusal (then the Status of a failed completion) is lasting.
    bool Checked = false;
    std::vector<std::string> CheckNotes;
    bool RefusedForGood = false;
};

// What a read may be asked beyond the URL.
struct ReadRequest {
    std::string url;
    std::int32_t asyncType = vbAsyncTypeByteArray;
    std::string propertyName;
    std::int32_t readOptions = vbAsyncReadForceUpdate;
    // An answer longer than this is a failed read (0: no limit); a file read writes no byte
    // beyond it.
    std::int64_t maxBytes = 0;
    // File reads: the file the data is written to (created or replaced).
    std::string targetFile;
    // File reads: run on the read's worker once the file is whole, on the disk and closed,
    // before the completion; a refusal fails the read with the refusal as its Status.
    FileCheck check;
};

// Raised by AsyncRead when a read cannot be started.
class AsyncReadError : public std::runtime_error {
public:
    AsyncReadError(std::int32_t number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    std::int32_t Number() const { return number_; }

private:
    std::int32_t number_;
};

class IAsyncReadOwner {
public:
    virtual ~IAsyncReadOwner() = default;
    virtual void AsyncReadProgress(const AsyncProperty& property) = 0;
    virtual void AsyncReadComplete(const AsyncProperty& property) = 0;
};

class IReadService {
public:
    virtual ~IReadService() = default;
    // Starts a read; throws AsyncReadError when it cannot be started.
    virtual void AsyncRead(IAsyncReadOwner& owner, const ReadRequest& request) = 0;
    // Stops the owner's read started under that name; nothing is delivered for it any more.
    virtual void CancelAsyncRead(IAsyncReadOwner& owner, std::string_view propertyName) = 0;
    // The owner is going away: all its reads stop and nothing more reaches it.
    virtual void ForgetOwner(IAsyncReadOwner& owner) = 0;
};

} // namespace varnek
