#include "win32/FileStore.h"

#include "win32/SystemLibrary.h"
#include "win32/Text.h"
#include "win32/UniqueHandle.h"

#include <windows.h>

#include <winver.h>

#include <algorithm>

namespace varnek::win32 {

namespace {

DateTime FromSystemTime(const SYSTEMTIME& time) {
    return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

// The folder part of a path ("." when it has none).
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        return L".";
    }
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

} // namespace

std::optional<DateTime> FileStore::ToLocal(const FILETIME& utc) {
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    if (!FileTimeToSystemTime(&utc, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        return std::nullopt;
    }
    return FromSystemTime(local);
}

std::optional<FILETIME> FileStore::ToFileTime(const DateTime& local) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(local.year);
    time.wMonth = static_cast<WORD>(local.month);
    time.wDay = static_cast<WORD>(local.day);
    time.wHour = static_cast<WORD>(local.hour);
    time.wMinute = static_cast<WORD>(local.minute);
    time.wSecond = static_cast<WORD>(local.second);
    SYSTEMTIME universal{};
    FILETIME utc{};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &time, &universal) ||
        !SystemTimeToFileTime(&universal, &utc)) {
        return std::nullopt;
    }
    return utc;
}

std::optional<DateTime> FileStore::DateCreated(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return ToLocal(data.ftCreationTime);
}

bool FileStore::SetDateCreated(std::string_view path, const DateTime& when) {
    const auto created = ToFileTime(when);
    if (!created) {
        return false;
    }
    const std::wstring file = Wide(path);
    {
        UniqueHandle handle(CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
        if (!handle || !SetFileTime(handle.get(), &*created, nullptr, nullptr)) {
            return false;
        }
    }
    // Whether the file system kept it.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) &&
           CompareFileTime(&data.ftCreationTime, &*created) == 0;
}

std::optional<std::int64_t> FileStore::SecondsSinceWritten(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                         time.dwLowDateTime);
    };
    return (ticks(now) - ticks(data.ftLastWriteTime)) / 10'000'000; // 100 ns units
}

bool FileStore::WriteFile(std::string_view path, const std::vector<std::uint8_t>& bytes) {
    const std::wstring target = Wide(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        return false; // as Windows refuses to replace it (Wine would not)
    }
    wchar_t temporary[MAX_PATH];
    if (!GetTempFileNameW(FolderOf(target).c_str(), L"vit", 0, temporary)) {
        return false;
    }
    UniqueHandle file(CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    bool written = static_cast<bool>(file);
    for (std::size_t done = 0; written && done < bytes.size();) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        DWORD wrote = 0;
        written =
            ::WriteFile(file.get(), bytes.data() + done, part, &wrote, nullptr) && wrote == part;
        done += wrote;
    }
    written = written && FlushFileBuffers(file.get());
    // The data is only safe once the close succeeded.
    written = written && CloseHandle(file.release());
    if (written && MoveFileExW(temporary, target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    file.reset(); // a file still open here cannot be deleted
    DeleteFileW(temporary);
    return false;
}

std::optional<std::int64_t> FileStore::FileSize(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

FileBytes FileStore::ReadStart(std::string_view path, std::size_t count) {
    UniqueHandle file(CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {{}, GetLastError()};
    }
    FileBytes read;
    read.bytes.resize(count);
    std::size_t done = 0;
    while (done < count) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(count - done, 1 << 20));
        DWORD got = 0;
        if (!::ReadFile(file.get(), read.bytes.data() + done, part, &got, nullptr)) {
            read.error = GetLastError();
            break;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    read.bytes.resize(done);
    return read;
}

bool FileStore::MoveReplace(std::string_view from, std::string_view to) {
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

FileVersionInfo FileStore::FileVersion(std::string_view path) {
    // The version library is needed only here, once a check has fetched a program.
    static const auto getSize = SystemFunction<decltype(&GetFileVersionInfoSizeW)>(
        L"version.dll", "GetFileVersionInfoSizeW");
    static const auto getInfo =
        SystemFunction<decltype(&GetFileVersionInfoW)>(L"version.dll", "GetFileVersionInfoW");
    static const auto queryValue =
        SystemFunction<decltype(&VerQueryValueW)>(L"version.dll", "VerQueryValueW");
    if (!getSize || !getInfo || !queryValue) {
        return {std::nullopt, ERROR_MOD_NOT_FOUND};
    }
    // Where the file has no version resource, the resource loader says so; any other error
    // is one of reading the file (held, no access, gone).
    const auto failed = [] {
        const DWORD error = GetLastError();
        const bool noResource =
            error == ERROR_RESOURCE_DATA_NOT_FOUND || error == ERROR_RESOURCE_TYPE_NOT_FOUND ||
            error == ERROR_RESOURCE_NAME_NOT_FOUND || error == ERROR_RESOURCE_LANG_NOT_FOUND;
        return FileVersionInfo{std::nullopt, noResource ? 0 : (error ? error : ERROR_READ_FAULT)};
    };
    const std::wstring file = Wide(path);
    DWORD ignored = 0;
    const DWORD size = getSize(file.c_str(), &ignored);
    if (size == 0) {
        return failed();
    }
    std::vector<std::uint8_t> data(size);
    if (!getInfo(file.c_str(), 0, size, data.data())) {
        return failed();
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!queryValue(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        length < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != VS_FFI_SIGNATURE) {
        return {};
    }
    return {std::array<int, 4>{static_cast<int>(HIWORD(info->dwFileVersionMS)),
                               static_cast<int>(LOWORD(info->dwFileVersionMS)),
                               static_cast<int>(HIWORD(info->dwFileVersionLS)),
                               static_cast<int>(LOWORD(info->dwFileVersionLS))},
            0};
}

std::vector<std::string> FileStore::FilesIn(std::string_view folder) {
    std::wstring pattern = Wide(folder);
    if (pattern.empty() || pattern.back() != L'\\') {
        pattern += L'\\';
    }
    pattern += L'*';
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const UniqueFind find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0));
    if (!find) {
        return names;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(Utf8(found.cFileName));
        }
    } while (FindNextFileW(find.get(), &found));
    return names;
}

bool FileStore::IsWriteTemporary(std::string_view name) {
    // GetTempFileNameW with the prefix "vit": the prefix, one to four hexadecimal digits, ".tmp".
    constexpr std::string_view Prefix = "vit", Suffix = ".tmp";
    if (name.size() <= Prefix.size() + Suffix.size() ||
        name.size() > Prefix.size() + 4 + Suffix.size() || !name.starts_with(Prefix) ||
        !name.ends_with(Suffix)) {
        return false;
    }
    const std::string_view digits =
        name.substr(Prefix.size(), name.size() - Prefix.size() - Suffix.size());
    return digits.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos;
}

std::string FileStore::SystemFolder() {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : Utf8(std::wstring(system, length));
}

DateTime FileStore::Now() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return FromSystemTime(now);
}

bool FileStore::StartScript(std::string_view script, std::string_view folder) {
    // The command processor from the system folder, by its full path, and without the
    // AutoRun commands of the registry (/d): neither the .bat association (which hardening may
    // point at an editor) nor a cmd.exe in the program folder decides what runs.
    const std::string system = SystemFolder();
    if (system.empty()) {
        return false;
    }
    if (GetFileAttributesW(Wide(PathInFolder(folder, script)).c_str()) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    const std::wstring cmd = Wide(PathInFolder(system, "cmd.exe"));
    std::wstring commandLine = L"\"" + cmd + L"\" /d /c " + Wide(script);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(cmd.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE, nullptr, Wide(folder).c_str(), &startup, &started)) {
        return false;
    }
    // Nothing here waits for the script: its process and thread handles go at once.
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    return true;
}

} // namespace varnek::win32
