#include "win32/Window.h"

#include "platform/Text.h"
#include "resource.h"
#include "win32/Barrier.h"
#include "win32/Text.h"

#include <string>

namespace varnek::win32 {

namespace {

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

std::string ClassName(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return Utf8(name);
}

// Where a message was when its handler threw: "the window VarnekIT.Logo (message 0x0111)".
std::string Place(const char* kind, HWND hwnd, UINT message) {
    return std::string(kind) + " " + ClassName(hwnd) + " (message 0x" + Hexadecimal(message, 4) +
           ")";
}

} // namespace

bool RegisterWindowClass(const WindowClass& windowClass) {
    WNDCLASSEXW wc{};
    if (GetClassInfoExW(Instance(), windowClass.name, &wc)) {
        return true;
    }
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Window::Procedure;
    wc.hInstance = Instance();
    wc.hIcon =
        windowClass.programIcon ? LoadIconW(Instance(), MAKEINTRESOURCEW(IDI_VARNEKIT)) : nullptr;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground =
        windowClass.background < 0
            ? nullptr
            : reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(windowClass.background + 1));
    wc.lpszClassName = windowClass.name;
    if (RegisterClassExW(&wc) == 0) {
        const DWORD error = GetLastError();
        if (error == ERROR_CLASS_ALREADY_EXISTS) {
            return true;
        }
        LogFailedCall("RegisterClassExW", Utf8(windowClass.name), error);
        return false;
    }
    return true;
}

Window::~Window() {
    Destroy();
}

bool Window::Create(const WindowClass& windowClass, DWORD exStyle, DWORD style,
                    const wchar_t* title, int x, int y, int width, int height, HWND parent,
                    HMENU id) {
    if (!RegisterWindowClass(windowClass)) {
        return false;
    }
    // The object is attached at WM_NCCREATE (hwnd_ is set there), so even the messages of the
    // creation reach it.
    CreateWindowExW(exStyle, windowClass.name, title, style, x, y, width, height, parent, id,
                    Instance(), this);
    if (!hwnd_) {
        LogFailedCall("CreateWindowExW", Utf8(windowClass.name), GetLastError());
        return false;
    }
    return true;
}

void Window::Destroy() {
    if (hwnd_) {
        const HWND hwnd = hwnd_;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        DestroyWindow(hwnd);
    }
}

LRESULT Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<Window*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
        if (self) {
            self->hwnd_ = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        Barrier([&] { return Place("the window", hwnd, message); }, [self] { self->Destroyed(); });
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return Barrier([&] { return Place("the window", hwnd, message); },
                   [&] { return self->Handle(message, wParam, lParam); },
                   [&] { return DefWindowProcW(hwnd, message, wParam, lParam); });
}

Subclass::~Subclass() {
    Detach();
}

bool Subclass::Attach(HWND control) {
    if (!control) {
        return false;
    }
    Detach();
    control_ = control;
    SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    original_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Subclass::Procedure)));
    return true;
}

void Subclass::Detach() {
    if (control_) {
        SetWindowLongPtrW(control_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
        SetWindowLongPtrW(control_, GWLP_USERDATA, 0);
        control_ = nullptr;
    }
}

LRESULT Subclass::Handle(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallControl(control, message, wParam, lParam);
}

LRESULT Subclass::CallControl(HWND control, UINT message, WPARAM wParam, LPARAM lParam) const {
    return CallWindowProcW(original_, control, message, wParam, lParam);
}

LRESULT CALLBACK Subclass::Procedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Subclass*>(GetWindowLongPtrW(control, GWLP_USERDATA));
    if (!self) {
        return DefWindowProcW(control, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        // The control's last message: its own procedure again, and this object lets go.
        const WNDPROC original = self->original_;
        self->Detach();
        return CallWindowProcW(original, control, message, wParam, lParam);
    }
    return Barrier([&] { return Place("the control", control, message); },
                   [&] { return self->Handle(control, message, wParam, lParam); },
                   [&] { return self->CallControl(control, message, wParam, lParam); });
}

void DispatchQueued(MSG& message) {
    const HWND top = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    const bool dialog = top && (GetWindowLongPtrW(top, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    if (!dialog || !IsDialogMessageW(top, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool DispatchWaiting() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        DispatchQueued(message);
    }
    return true;
}

} // namespace varnek::win32
