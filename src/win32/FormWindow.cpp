#include "win32/FormWindow.h"

#include "win32/Text.h"
#include "win32/WindowUtil.h"

namespace varnek::win32 {

bool FormWindow::Create(const WindowClass& windowClass, DWORD exStyle, DWORD style,
                        std::string_view caption) {
    const std::wstring title = Wide(caption);
    return Window::Create(windowClass, exStyle, style, title.c_str(), CW_USEDEFAULT, CW_USEDEFAULT,
                          400, 400);
}

void FormWindow::Show() {
    if (!hwnd_) {
        return;
    }
    if (!shown_) {
        CentreOnScreen(hwnd_);
        shown_ = true;
    }
    ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(hwnd_);
}

LRESULT FormWindow::HandleDefault(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DPICHANGED: {
        // The system's rectangle keeps the window where the user put it on the new monitor,
        // at the size it will have there; the layout at the new DPI then sets the exact
        // client size, which agrees with it but for rounding.
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        ApplyDpi(HIWORD(wParam));
        return 0;
    }
    case WM_CLOSE:
        Close();
        return 0;
    default:
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

} // namespace varnek::win32
