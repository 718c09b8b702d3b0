// Helpers for tests of the Win32 layer under Wine: running Wine's own tools and reading files.
#pragma once

#include <windows.h>

#include <string>

namespace varnek::testing {

// Runs a command line, waits for it and returns its exit code (-1 if it could not start).
inline DWORD RunAndWait(std::wstring commandLine, DWORD timeoutMs = 60000) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        return static_cast<DWORD>(-1);
    }
    WaitForSingleObject(process.hProcess, timeoutMs);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// A fresh path in the temporary folder.
inline std::wstring TempPath(const std::wstring& name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
           std::to_wstring(GetTickCount());
}

// The whole content of a UTF-16 LE file (with or without its byte-order mark).
inline std::wstring ReadUtf16File(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::wstring text;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    text.resize(static_cast<std::size_t>(size.QuadPart) / sizeof(wchar_t));
    DWORD read = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);
    text.resize(read / sizeof(wchar_t));
    if (!text.empty() && text[0] == 0xFEFF) {
        text.erase(0, 1);
    }
    return text;
}

} // namespace varnek::testing
