#include "download/Downloader.h"

namespace varnek {

Downloader::~Downloader() {
    reads_.ForgetOwner(*this);
    for (const std::string& saveFile : running_) {
        files_.RemoveFile(TemporaryFile(saveFile));
    }
}

void Downloader::BeginDownload(std::string_view url, std::string_view SaveFile) {
    ReadRequest request;
    request.url = std::string(url);
    request.asyncType = vbAsyncTypeFile;
    request.propertyName = std::string(SaveFile);
    request.readOptions = vbAsyncReadForceUpdate;
    request.targetFile = TemporaryFile(SaveFile);
    try {
        reads_.AsyncRead(*this, request);
        running_.insert(request.propertyName);
    } catch (const AsyncReadError& error) {
        dialogs_.MsgBox(
            std::to_string(error.Number()) +
                ":Error in call to BeginDownload().\r\n\r\nError Description: " + error.what(),
            vbCritical | vbOKOnly, "Warning");
    }
}

void Downloader::AsyncReadProgress(const AsyncProperty& property) {
    if (property.BytesMax != 0 && DownloadProgress) {
        DownloadProgress(property.BytesRead, property.BytesMax, property.PropertyName);
    }
}

bool Downloader::Arrived(const AsyncProperty& property, const std::string& temporary) {
    if (property.StatusCode == vbAsyncStatusCodeError || property.BytesMax <= 0) {
        return false;
    }
    // A cut transfer leaves a shorter file than the server announced.
    if (fileStore_.FileSize(temporary) != std::int64_t{property.BytesMax}) {
        return false;
    }
    if (RequireExecutable) {
        const auto start = fileStore_.ReadStart(temporary, 2);
        if (start.size() != 2 || start[0] != 'M' || start[1] != 'Z') {
            return false;
        }
    }
    return fileStore_.MoveReplace(temporary, property.PropertyName);
}

void Downloader::AsyncReadComplete(const AsyncProperty& property) {
    const std::string saveFile = property.PropertyName;
    const std::string temporary = TemporaryFile(saveFile);
    running_.erase(saveFile);
    if (Arrived(property, temporary)) {
        if (DownloadComplete) {
            DownloadComplete(property.BytesMax, saveFile);
        }
        return;
    }
    files_.RemoveFile(temporary);
    if (DownloadError) {
        DownloadError(saveFile);
    }
    if (DownloadComplete) {
        DownloadComplete(0, saveFile);
    }
}

} // namespace varnek
