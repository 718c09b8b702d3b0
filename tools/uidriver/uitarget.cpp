// uitarget: a small window with the kinds of controls the program has, for checking the UI
// driver against real controls: uitarget [TITLE] [--tray]
// Saving shows a Yes/No message box; labels report what the window saw, so a check can read
// the effect of each driver command back. With --tray it also shows a tray icon and reports
// the mouse messages of its last click in the label "tray=...".
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace {

enum : int {
    kGroup = 100,
    kLabel = 101,
    kName = 102,
    kPassword = 103,
    kAutostart = 104,
    kDanish = 105,
    kEnglish = 106,
    kSave = 107,
    kChanges = 108,
    kAnswer = 109,
    kDisabled = 110,
    kTray = 111,
};

constexpr UINT kTrayMessage = WM_APP + 1;

int changes = 0;

HWND add(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, int x, int y,
         int w, int h) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                           HMENU(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
}

std::wstring textOf(HWND h) {
    std::wstring s(GetWindowTextLengthW(h) + 1, L'\0');
    s.resize(GetWindowTextW(h, s.data(), int(s.size())));
    return s;
}

LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE: {
        HWND group = add(hwnd, L"Button", L"Indstillinger", BS_GROUPBOX, kGroup, 10, 10, 360, 150);
        add(group, L"Static", L"Brugernavn:", 0, kLabel, 10, 25, 100, 20);
        add(hwnd, L"Edit", L"", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, kName, 130, 32, 220, 22);
        add(hwnd, L"Edit", L"", WS_BORDER | ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP, kPassword,
            130, 62, 220, 22);
        add(hwnd, L"Button", L"Start med &Windows", BS_AUTOCHECKBOX | WS_TABSTOP, kAutostart, 20,
            92, 200, 20);
        add(hwnd, L"Button", L"Dansk", BS_AUTORADIOBUTTON | WS_GROUP, kDanish, 20, 120, 100, 20);
        add(hwnd, L"Button", L"English", BS_AUTORADIOBUTTON, kEnglish, 130, 120, 100, 20);
        add(hwnd, L"Button", L"&Gem", BS_PUSHBUTTON | WS_TABSTOP, kSave, 10, 170, 100, 26);
        add(hwnd, L"Button", L"Åbn", BS_PUSHBUTTON | WS_DISABLED, kDisabled, 120, 170, 100, 26);
        add(hwnd, L"Static", L"changes=0", 0, kChanges, 10, 205, 170, 20);
        add(hwnd, L"Static", L"answer=none", 0, kAnswer, 190, 205, 170, 20);
        add(hwnd, L"Static", L"tray=", 0, kTray, 10, 225, 370, 20);
        CheckRadioButton(hwnd, kDanish, kEnglish, kDanish);
        return 0;
    }
    case WM_COMMAND:
        if (LOWORD(wp) == kName && HIWORD(wp) == EN_CHANGE) {
            SetDlgItemTextW(hwnd, kChanges, (L"changes=" + std::to_wstring(++changes)).c_str());
        } else if (LOWORD(wp) == kSave && HIWORD(wp) == BN_CLICKED) {
            const std::wstring text =
                L"Gemt: " + textOf(GetDlgItem(hwnd, kName)) + L"\r\nLinje 2 med C:\\sti og æøå";
            int answer = MessageBoxW(hwnd, text.c_str(), L"Besked æøå", MB_YESNO | MB_ICONQUESTION);
            SetDlgItemTextW(hwnd, kAnswer, (L"answer=" + std::to_wstring(answer)).c_str());
        }
        return 0;
    case kTrayMessage: {
        // The mouse messages of one click, as they come: "tray=513,514,".
        static std::wstring seen;
        static DWORD last = 0;
        if (GetTickCount() - last > 1000)
            seen.clear();
        last = GetTickCount();
        seen += std::to_wstring(LOWORD(lp)) + L",";
        SetDlgItemTextW(hwnd, kTray, (L"tray=" + seen).c_str());
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"UiTargetWindow";
    RegisterClassW(&wc);
    const wchar_t* title = L"uitarget æøå";
    bool tray = false;
    for (int i = 1; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--tray")
            tray = true;
        else
            title = argv[i];
    }
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 40, 40, 400, 290,
                                nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd;
    nid.uID = 1;
    nid.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    nid.uCallbackMessage = kTrayMessage;
    nid.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    lstrcpynW(nid.szTip, title, 64);
    if (tray)
        Shell_NotifyIconW(NIM_ADD, &nid);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(hwnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (tray)
        Shell_NotifyIconW(NIM_DELETE, &nid);
    return 0;
}
