#include "win32/WindowUtil.h"

#include "win32/SystemLibrary.h"
#include "win32/UniqueHandle.h"

namespace varnek::win32 {

namespace {

// Functions of newer systems than the oldest the program runs on.
template <class F> F User32Function(const char* name) {
    return SystemFunction<F>(L"user32.dll", name);
}

} // namespace

UINT WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(hwnd)) {
            return dpi;
        }
    }
    const UniqueScreenDc screen(GetDC(nullptr));
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void SetClientSize(HWND hwnd, int width, int height) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        RECT window{};
        RECT client{};
        GetWindowRect(hwnd, &window);
        GetClientRect(hwnd, &client);
        if (client.right == width && client.bottom == height) {
            return;
        }
        const int frameWidth = (window.right - window.left) - client.right;
        const int frameHeight = (window.bottom - window.top) - client.bottom;
        SetWindowPos(hwnd, nullptr, 0, 0, width + frameWidth, height + frameHeight,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CentreOnScreen(HWND hwnd) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& screen = monitor.rcMonitor;
    RECT window{};
    GetWindowRect(hwnd, &window);
    const int x = screen.left + ((screen.right - screen.left) - (window.right - window.left)) / 2;
    const int y = screen.top + ((screen.bottom - screen.top) - (window.bottom - window.top)) / 2;
    SetWindowPos(hwnd, nullptr, x > screen.left ? x : screen.left, y > screen.top ? y : screen.top,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace varnek::win32
