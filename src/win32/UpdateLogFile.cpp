#include "win32/UpdateLogFile.h"

#include "win32/Text.h"
#include "win32/UniqueHandle.h"

#include <windows.h>

#include <mutex> // std::lock_guard

namespace varnek::win32 {

namespace {

// %LOCALAPPDATA%\VarnekIT\update.log; empty when the variable is not set.
std::wstring DefaultPath() {
    const DWORD size = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring folder(size, L'\0');
    folder.resize(GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(), size));
    return folder.empty() ? std::wstring() : folder + L"\\VarnekIT\\update.log";
}

} // namespace

UpdateLogFile::UpdateLogFile() : path_(DefaultPath()) {}

std::string UpdateLogFile::Folder() const {
    const std::size_t slash = path_.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::string() : Utf8(path_.substr(0, slash));
}

void UpdateLogFile::Append(std::string_view line) {
    if (path_.empty()) {
        return;
    }
    const std::lock_guard lock(mutex_);
    const std::size_t slash = path_.find_last_of(L'\\');
    if (slash != std::wstring::npos) {
        CreateDirectoryW(path_.substr(0, slash).c_str(), nullptr); // may be there already
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data) &&
        ((static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) > MaxBytes) {
        MoveFileExW(path_.c_str(), (path_ + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    // Appended in one write, shared with readers (a technician may have it open).
    const UniqueHandle file(CreateFileW(path_.c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    std::string text(line);
    text += "\r\n";
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace varnek::win32
