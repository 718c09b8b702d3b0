// The smallest tray program we can honestly compare VarnekIT's start-up with: one hidden window
// and one notification icon (the program's icon), nothing else. It removes its icon and quits
// when its window gets WM_CLOSE or is destroyed.
#include <windows.h>

#include <shellapi.h>

#include "resource.h"

namespace {

constexpr UINT kTrayCallback = WM_APP + 1;
NOTIFYICONDATAW g_icon{};

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        Shell_NotifyIconW(NIM_DELETE, &g_icon);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"ReferenceTray";
    if (!RegisterClassW(&windowClass)) {
        return 1;
    }
    // Never shown: the icon is the program's only visible part.
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Reference Tray", WS_OVERLAPPED, 0,
                                  0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!window) {
        return 1;
    }

    g_icon.cbSize = sizeof g_icon;
    g_icon.hWnd = window;
    g_icon.uID = 1;
    g_icon.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    g_icon.uCallbackMessage = kTrayCallback;
    g_icon.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VARNEKIT),
                                                 IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    lstrcpynW(g_icon.szTip, L"Reference Tray", ARRAYSIZE(g_icon.szTip));
    if (!Shell_NotifyIconW(NIM_ADD, &g_icon)) {
        DestroyWindow(window);
        return 1;
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
