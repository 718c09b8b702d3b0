#include "download/Downloader.h"

#include "platform/Text.h"

namespace varnek {

Downloader::~Downloader() {
    Stop();
}

void Downloader::Stop() {
    // The reads close their files at once, so the temporary files can go right after.
    reads_.ForgetOwner(*this);
    running_.clear();
}

void Downloader::BeginDownload(std::string_view url, std::string_view SaveFile) {
    static unsigned counter = 0;
    const std::string tag =
        "." + Hexadecimal(processes_.ProcessId(), 0, false) + "-" + Decimal(++counter);
    const std::string saveFile(SaveFile);
    if (const auto earlier = running_.find(saveFile); earlier != running_.end()) {
        reads_.CancelAsyncRead(*this, saveFile);
        running_.erase(earlier);
    }
    ReadRequest request;
    request.url = std::string(url);
    request.asyncType = vbAsyncTypeFile;
    request.propertyName = saveFile;
    request.readOptions = vbAsyncReadForceUpdate;
    request.maxBytes = MaxBytes;
    request.targetFile = saveFile + tag + std::string(TemporarySuffix);
    // Runs on the read's worker, so it holds only what outlives this component: the files
    // service (one of the whole program) and copies of the settings.
    request.check = [&files = files_, executable = RequireExecutable,
                     accept = Accept](const std::string& file) -> FileVerdict {
        const auto size = files.FileSize(file);
        if (!size || *size <= 0) {
            return {"the answer was empty", false, {}};
        }
        if (executable) {
            const FileBytes start = files.ReadStart(file, 2);
            if (start.error != 0) {
                return {"the file cannot be read now (error " + std::to_string(start.error) + ")",
                        false,
                        {}};
            }
            if (start.bytes.size() != 2 || start.bytes[0] != 'M' || start.bytes[1] != 'Z') {
                return {"not a Windows program", false, {}};
            }
        }
        return accept ? accept(file) : FileVerdict{};
    };
    try {
        reads_.AsyncRead(*this, request);
        running_.emplace(saveFile, Running{TemporaryFile(files_, request.targetFile), tag});
    } catch (const AsyncReadError& error) {
        dialogs_.MsgBox(
            std::to_string(error.Number()) +
                ":Error in call to BeginDownload().\r\n\r\nError Description: " + error.what(),
            vbCritical | vbOKOnly, "Warning");
    }
}

std::string Downloader::TemporaryFileOf(std::string_view SaveFile) const {
    const auto found = running_.find(SaveFile);
    return found == running_.end() ? std::string() : found->second.file.Path();
}

bool Downloader::IsTemporaryOf(std::string_view name, std::string_view saveFileName) {
    // The names of earlier versions had no tag: "<destination>.download".
    return name.size() >= saveFileName.size() + TemporarySuffix.size() &&
           name.starts_with(saveFileName) && name[saveFileName.size()] == '.' &&
           name.ends_with(TemporarySuffix);
}

bool IsAsideCopyOf(std::string_view name, std::string_view fileName) {
    constexpr std::string_view Suffix = ".old";
    return name.size() >= fileName.size() + Suffix.size() && name.starts_with(fileName) &&
           name[fileName.size()] == '.' && name.ends_with(Suffix);
}

void Downloader::AsyncReadProgress(const AsyncProperty& property) {
    if (property.BytesMax != 0 && DownloadProgress && running_.contains(property.PropertyName)) {
        DownloadProgress(property.BytesRead, property.BytesMax, property.PropertyName);
    }
}

std::string Downloader::Refusal(const AsyncProperty& property, const std::string& temporary) {
    if (property.StatusCode == vbAsyncStatusCodeError) {
        return property.Status.empty() ? "the read failed" : property.Status;
    }
    if (property.BytesMax <= 0) {
        return "the answer was empty";
    }
    // A cut transfer leaves a shorter file than the server announced.
    if (files_.FileSize(temporary) != std::int64_t{property.BytesMax}) {
        return "the file is not whole";
    }
    // Every download has its check; a file it did not pass never takes the place of one.
    if (!property.Checked) {
        return "the file was not checked";
    }
    return {};
}

void Downloader::Report(const std::string& saveFile, const AsyncProperty& property) {
    if (Checked && (!property.CheckNotes.empty() || property.RefusedForGood)) {
        Checked(saveFile, {property.RefusedForGood ? property.Status : std::string(),
                           property.RefusedForGood, property.CheckNotes});
    }
}

void Downloader::Fail(const std::string& saveFile, const std::string& reason) {
    if (DownloadFailed) {
        DownloadFailed(saveFile, reason);
    }
    if (DownloadError) {
        DownloadError(saveFile);
    }
    if (DownloadComplete) {
        DownloadComplete(0, saveFile);
    }
}

void Downloader::AsyncReadComplete(const AsyncProperty& property) {
    const std::string saveFile = property.PropertyName;
    const auto found = running_.find(saveFile);
    if (found == running_.end()) {
        return; // not a download of this component's any more
    }
    // The download's file leaves the list before any event: a handler may start another.
    TemporaryFile temporary = std::move(found->second.file);
    const std::string aside = MoveAsideWhenHeld ? saveFile + found->second.tag + ".old" : "";
    running_.erase(found);
    std::string refusal = Refusal(property, temporary.Path());
    if (refusal.empty() && !temporary.MoveTo(saveFile, aside)) {
        refusal = "the file cannot be put in place";
    }
    Report(saveFile, property);
    if (!refusal.empty()) {
        temporary.Remove();
        Fail(saveFile, refusal);
        return;
    }
    if (DownloadComplete) {
        DownloadComplete(property.BytesMax, saveFile);
    }
}

void RemoveLeftoverDownloads(IFiles& files, std::string_view folder,
                             std::initializer_list<std::string_view> saveFileNames) {
    for (const std::string_view saveFileName : saveFileNames) {
        for (const std::string& name : files.FilesIn(folder)) {
            if (Downloader::IsTemporaryOf(name, saveFileName)) {
                files.RemoveFile(PathInFolder(folder, name));
            }
        }
    }
}

} // namespace varnek
