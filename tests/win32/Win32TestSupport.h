// Helpers for tests of the Win32 layer under Wine: running Wine's own tools and reading files.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace varnek::testing {

// Runs a command line, waits for it and returns its exit code (-1 if it could not start, or
// had not ended after `timeoutMs`: it is ended then).
inline DWORD RunAndWait(std::wstring commandLine, DWORD timeoutMs = 60000) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        return static_cast<DWORD>(-1);
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, code);
        WaitForSingleObject(process.hProcess, 10000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// A test tool built beside the tests: <build>/tools/<name>.
inline std::wstring ToolPath(const std::wstring& name) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    path.resize(path.find_last_of(L'\\'));
    return path + L"\\..\\..\\tools\\" + name;
}

// An environment variable of this process set to another value for a scope (the programs it
// starts inherit it).
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
        wchar_t old[32767];
        const DWORD length = GetEnvironmentVariableW(name, old, 32767);
        if (length > 0 && length < 32767) {
            old_ = std::wstring(old, length);
        }
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name_;
    std::optional<std::wstring> old_;
};

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

// The whole content of a file as bytes; nullopt when it cannot be opened.
inline std::optional<std::string> ReadBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

// Dispatches the messages waiting for this thread.
inline void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Runs the thread's messages until `done` holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        PumpMessages();
        if (done()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Windows of this thread by class, and counts of what a window or GDI leak would grow.
struct WindowSearch {
    const wchar_t* className;
    std::vector<HWND> found;
};

inline BOOL CALLBACK CollectOfClass(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<WindowSearch*>(data);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (lstrcmpW(name, search.className) == 0) {
        search.found.push_back(window);
    }
    return TRUE;
}

inline std::vector<HWND> ThreadWindows(const wchar_t* className) {
    WindowSearch search{className, {}};
    EnumThreadWindows(GetCurrentThreadId(), CollectOfClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline BOOL CALLBACK CountOne(HWND, LPARAM data) {
    ++*reinterpret_cast<int*>(data);
    return TRUE;
}

inline BOOL CALLBACK CountWithChildren(HWND window, LPARAM data) {
    ++*reinterpret_cast<int*>(data);
    EnumChildWindows(window, CountOne, data);
    return TRUE;
}

// Windows of this thread, children included.
inline int WindowCount() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWithChildren, reinterpret_cast<LPARAM>(&count));
    return count;
}

// The process's GDI objects. Wine's GetGuiResources counts nothing; its GDI handle table
// accepts a bare table index as a handle, so there the live entries are counted instead.
inline int GdiObjectCount() {
    if (const DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) {
        return static_cast<int>(count);
    }
    int count = 0;
    for (UINT_PTR index = 1; index < 0x10000; ++index) {
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) {
            ++count;
        }
    }
    return count;
}

} // namespace varnek::testing
