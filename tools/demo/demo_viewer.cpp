// The demo's stand-ins for what a customer's desktop has and the demo machine has not, so that
// every command of the program shows what it did:
//   demo_viewer URL      the browser: shows the address and the demo server's answer, as text
//                        (for the support-system login: whether user and digest were accepted)
//   demo_viewer [ARGS]   installed as the remote-control client: says it was started, with
//                        which command line and in which folder
// Each shows a small window and ends when it is closed.
#include "toolio.h"

#include <windows.h>

#include <shellapi.h>
#include <wininet.h>

#include <string>

namespace {

// The page as text: tags dropped, blank lines folded, the entities the demo server writes.
std::wstring PageText(const std::string& page) {
    // The body only: the head repeats the heading as the page's title.
    const std::size_t body = page.find("<body");
    const std::string html = body == std::string::npos ? page : page.substr(body);
    std::string text;
    bool inTag = false;
    for (char c : html) {
        if (c == '<') {
            inTag = true;
        } else if (c == '>') {
            inTag = false;
            text += '\n';
        } else if (!inTag) {
            text += c;
        }
    }
    for (const auto& [entity, plain] : {std::pair{"&amp;", "&"},
                                        {"&lt;", "<"},
                                        {"&gt;", ">"},
                                        {"&quot;", "\""},
                                        {"&#x27;", "'"}}) {
        for (std::size_t at; (at = text.find(entity)) != std::string::npos;) {
            text.replace(at, std::string(entity).size(), plain);
        }
    }
    std::string folded;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        if (line.find_first_not_of(" \t\r") != std::string::npos) {
            folded += line + "\r\n";
        }
        start = end + 1;
    }
    const int size = MultiByteToWideChar(CP_UTF8, 0, folded.data(), int(folded.size()), nullptr, 0);
    std::wstring wide(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, folded.data(), int(folded.size()), wide.data(), size);
    return wide;
}

// The server's answer to the address, as the window shows it.
std::wstring Fetch(const wchar_t* url) {
    HINTERNET session =
        InternetOpenW(L"VarnekIT demo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request =
        session ? InternetOpenUrlW(session, url, nullptr, 0,
                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                : nullptr;
    std::wstring shown;
    if (!request) {
        shown = L"No answer from the server (error " + std::to_wstring(GetLastError()) + L").";
    } else {
        DWORD status = 0, size = sizeof status;
        HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                       nullptr);
        std::string body;
        char block[4096];
        DWORD got = 0;
        while (InternetReadFile(request, block, sizeof block, &got) && got > 0 &&
               body.size() < 65536) {
            body.append(block, got);
        }
        shown = L"The server answered (HTTP " + std::to_wstring(status) + L"):\r\n\r\n" +
                PageText(body);
        InternetCloseHandle(request);
    }
    if (session) {
        InternetCloseHandle(session);
    }
    return shown;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::wstring first = argc > 1 ? argv[1] : L"";
    if (first.rfind(L"http://", 0) == 0 || first.rfind(L"https://", 0) == 0) {
        const std::wstring text = L"Address:\r\n" + first + L"\r\n\r\n" + Fetch(first.c_str());
        MessageBoxW(nullptr, text.c_str(), L"Demo browser", MB_OK | MB_SETFOREGROUND);
    } else {
        std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
        folder.resize(GetCurrentDirectoryW(DWORD(folder.size()), folder.data()));
        const std::wstring text = L"The remote-control client was started (a stand-in of the "
                                  L"demo).\r\n\r\nProgram:\r\n" +
                                  toolio::modulePath() + L"\r\n\r\nCommand line:\r\n" +
                                  GetCommandLineW() + L"\r\n\r\nFolder:\r\n" + folder;
        MessageBoxW(nullptr, text.c_str(), L"Remote-control client", MB_OK | MB_SETFOREGROUND);
    }
    LocalFree(argv);
    return 0;
}
