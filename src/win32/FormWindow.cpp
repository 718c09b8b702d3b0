#include "win32/FormWindow.h"

#include "resource.h"
#include "win32/Text.h"
#include "win32/WindowUtil.h"

namespace varnek::win32 {

FormWindow::~FormWindow() {
    Destroy();
}

bool FormWindow::Create(const wchar_t* className, int backgroundColour, DWORD exStyle, DWORD style,
                        std::string_view caption) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(instance, className, &wc)) {
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &FormWindow::WindowProc;
        wc.hInstance = instance;
        wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_VARNEKIT));
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(backgroundColour + 1));
        wc.lpszClassName = className;
        RegisterClassExW(&wc);
    }
    const std::wstring title = Wide(caption);
    CreateWindowExW(exStyle, className, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, 400,
                    400, nullptr, nullptr, instance, this);
    return hwnd_ != nullptr;
}

void FormWindow::Destroy() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
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

LRESULT CALLBACK FormWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<FormWindow*>(
            reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        self->Destroyed();
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

} // namespace varnek::win32
