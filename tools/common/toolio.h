// Helpers shared by the test tools: UTF-8 output on stdout, JSON strings, and the log file
// that a stand-in keeps beside its own executable.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <string>
#include <string_view>

namespace toolio {

inline void appendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

inline bool isHigh(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool isLow(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
inline std::string utf8(std::wstring_view w) {
    std::string out;
    for (size_t i = 0; i < w.size(); ++i) {
        unsigned c = w[i];
        if (isHigh(w[i]) && i + 1 < w.size() && isLow(w[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unsigned(w[++i]) - 0xDC00);
        } else if (isHigh(w[i]) || isLow(w[i])) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

// A JSON string literal (with quotes) in UTF-8. A lone surrogate is kept as a \u escape,
// so what the process was given can be read back unit for unit.
inline std::string jsonString(std::wstring_view w) {
    std::string out = "\"";
    for (size_t i = 0; i < w.size(); ++i) {
        wchar_t c = w[i];
        char buf[8];
        switch (c) {
        case L'"':
            out += "\\\"";
            break;
        case L'\\':
            out += "\\\\";
            break;
        case L'\n':
            out += "\\n";
            break;
        case L'\r':
            out += "\\r";
            break;
        case L'\t':
            out += "\\t";
            break;
        case L'\b':
            out += "\\b";
            break;
        case L'\f':
            out += "\\f";
            break;
        default:
            if (c < 0x20 ||
                ((isHigh(c) || isLow(c)) && !(isHigh(c) && i + 1 < w.size() && isLow(w[i + 1])))) {
                std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(c));
                out += buf;
            } else if (isHigh(c)) {
                out += utf8(w.substr(i, 2));
                ++i;
            } else {
                appendUtf8(out, c);
            }
        }
    }
    return out + "\"";
}

// Writes raw bytes to stdout (a pipe, a file or a console set to UTF-8).
inline void writeOut(std::string_view bytes) {
    static HANDLE out = [] {
        SetConsoleOutputCP(CP_UTF8);
        return GetStdHandle(STD_OUTPUT_HANDLE);
    }();
    while (!bytes.empty()) {
        DWORD done = 0;
        if (!WriteFile(out, bytes.data(), DWORD(bytes.size()), &done, nullptr) || done == 0)
            return;
        bytes.remove_prefix(done);
    }
}

inline void writeLine(std::string_view line) {
    writeOut(std::string(line) + "\n");
}

inline std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// C:\dir\Name.exe -> C:\dir\Name.log
inline std::wstring logPathBesideSelf() {
    std::wstring path = modulePath();
    size_t slash = path.find_last_of(L"\\/");
    size_t dot = path.rfind(L'.');
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
        path.resize(dot);
    return path + L".log";
}

// Appends one line to a file that every writer opens for appending only. Writers take a
// named mutex of the path first: under Wine an append is not atomic between processes, and
// stand-ins started at the same moment must neither mix nor lose their lines.
inline bool appendLine(const std::wstring& path, const std::string& line) {
    std::wstring name = L"Local\\varnek-tools-log:" + path;
    for (size_t i = name.find(L':'); i < name.size(); ++i)
        name[i] = name[i] == L'\\' ? L'/' : wchar_t(towlower(name[i]));
    HANDLE lock = CreateMutexW(nullptr, FALSE, name.c_str());
    if (lock)
        WaitForSingleObject(lock, 30000);

    const std::string bytes = line + "\n";
    bool ok = false;
    for (int attempt = 0; attempt < 200 && !ok; ++attempt) {
        HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            Sleep(25);
            continue;
        }
        DWORD done = 0;
        ok =
            WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr) && done == bytes.size();
        CloseHandle(h);
        break;
    }
    if (lock) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
    return ok;
}

} // namespace toolio
