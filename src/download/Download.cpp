#include "download/Download.h"

namespace varnek {

Download::~Download() {
    reads_.ForgetOwner(*this);
}

void Download::BeginDownload(std::string_view Path, std::string_view Key, std::int32_t FileType,
                             std::int32_t DownloadType) {
    ReadRequest request;
    request.url = std::string(Path);
    request.asyncType = FileType;
    request.propertyName = std::string(Key);
    request.readOptions = DownloadType;
    request.maxBytes = MaxBytes;
    try {
        reads_.AsyncRead(*this, request);
    } catch (const AsyncReadError& error) {
        if (DownloadError) {
            DownloadError(request.propertyName, error.Number(), error.what());
        }
    }
}

void Download::Cancel(std::string_view Key) {
    try {
        reads_.CancelAsyncRead(*this, Key);
    } catch (...) {
        // Nothing to stop is no error.
    }
}

std::string Download::GetStatusCode(std::int32_t Code) {
    switch (Code) {
    case vbAsyncStatusCodeError:
        return "An Error Has Occurred.";
    case vbAsyncStatusCodeFindingResource:
        return "Finding Resource.";
    case vbAsyncStatusCodeConnecting:
        return "Connecting To Resource.";
    case vbAsyncStatusCodeRedirecting:
        return "Redirecting.";
    case vbAsyncStatusCodeBeginDownloadData:
        return "Download Initialized.";
    case vbAsyncStatusCodeDownloadingData:
        return "Download In Progress.";
    case vbAsyncStatusCodeEndDownloadData:
        return "Download Complete.";
    case vbAsyncStatusCodeUsingCachedCopy:
        return "Using Cached Copy.";
    case vbAsyncStatusCodeSendingRequest:
        return "Sending Request.";
    case vbAsyncStatusCodeMIMETypeAvailable:
        return "MIME Type Is Available.";
    case vbAsyncStatusCodeCacheFileNameAvailable:
        return "Local Cache File Is Available.";
    case vbAsyncStatusCodeBeginSyncOperation:
        return "Synchronous Download Has Started.";
    case vbAsyncStatusCodeEndSyncOperation:
        return "Synchronous Download Complete.";
    default:
        return "Unknown.";
    }
}

std::string StatusText(const AsyncProperty& property) {
    return property.Status.empty() ? Download::GetStatusCode(property.StatusCode) : property.Status;
}

void Download::AsyncReadProgress(const AsyncProperty& property) {
    if (property.StatusCode != vbAsyncStatusCodeError) {
        if (DownloadProgress) {
            DownloadProgress(property.PropertyName, property.BytesRead, property.BytesMax,
                             property.StatusCode, StatusText(property));
        }
    } else if (DownloadError) {
        DownloadError(property.PropertyName, 0, StatusText(property));
    }
}

void Download::AsyncReadComplete(const AsyncProperty& property) {
    if (property.StatusCode == vbAsyncStatusCodeError) {
        if (DownloadError) {
            DownloadError(property.PropertyName, 0, StatusText(property));
        }
        return;
    }
    if (!DownloadComplete) {
        return;
    }
    if (property.AsyncType == vbAsyncTypeFile) {
        const std::vector<std::uint8_t> name(property.FileName.begin(), property.FileName.end());
        DownloadComplete(property.PropertyName, name, property.AsyncType);
    } else {
        DownloadComplete(property.PropertyName, property.Value, property.AsyncType);
    }
}

} // namespace varnek
