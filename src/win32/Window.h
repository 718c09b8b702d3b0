// The one way the program's windows are made: a class registered once with the program's one
// window procedure, which finds the object a window belongs to (attached at WM_NCCREATE, before
// any other message) and runs its handler behind the barrier. Also the one way to see a system
// control's messages first (a subclass), and the one way to hand a message to its window.
#pragma once

#include <windows.h>

namespace varnek::win32 {

// A window class of the program.
struct WindowClass {
    const wchar_t* name;
    int background = -1;      // a system colour (COLOR_BTNFACE, ...), or -1 for none
    bool programIcon = false; // the program's icon as the class icon
};

// Registers the class, once per process; false (and logged) when it cannot be registered.
bool RegisterWindowClass(const WindowClass& windowClass);

// An object that a window belongs to. It owns the window: the window is destroyed with it, and
// no message of the window reaches the object after that (or after Destroy).
class Window {
public:
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

protected:
    Window() = default;
    virtual ~Window();

    // Creates the window (its class is registered on first use); false (and logged) when it
    // cannot be made. Its messages reach Handle from the first on.
    bool Create(const WindowClass& windowClass, DWORD exStyle, DWORD style, const wchar_t* title,
                int x, int y, int width, int height, HWND parent = nullptr, HMENU id = nullptr);
    // Destroys the window now; no message of it reaches this object any more.
    void Destroy();

    // The window's messages; the default answer is DefWindowProcW's, which is also the answer
    // to a message whose handler threw.
    virtual LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // The window is gone (its last message): hwnd_ is null again.
    virtual void Destroyed() {}

    HWND hwnd_ = nullptr;

private:
    friend bool RegisterWindowClass(const WindowClass& windowClass);
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// A control of one of the system's classes (a button) whose messages Handle sees before the
// control's own procedure. Set on a control that lives no longer than this object.
class Subclass {
public:
    Subclass() = default;
    virtual ~Subclass();
    Subclass(const Subclass&) = delete;
    Subclass& operator=(const Subclass&) = delete;

    // From now on the control's messages come to Handle first; false when there is no control.
    bool Attach(HWND control);

protected:
    // A message of the control; the default, and the answer when Handle threw, is the
    // control's own.
    virtual LRESULT Handle(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT CallControl(HWND control, UINT message, WPARAM wParam, LPARAM lParam) const;

private:
    static LRESULT CALLBACK Procedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
    void Detach();

    HWND control_ = nullptr;
    WNDPROC original_ = nullptr;
};

// Hands a message from the queue to its window, as the program's message loop does: the keys of
// a window with controls (WS_EX_CONTROLPARENT) go to the dialog manager first.
void DispatchQueued(MSG& message);
// Dispatches the messages waiting for this thread. A WM_QUIT is left for the message loop, and
// ends this (false then).
bool DispatchWaiting();

} // namespace varnek::win32
