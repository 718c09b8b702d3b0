// The part every shown window of the program has alike: its window procedure as a member, the
// first show centred on the screen, DPI changes and the close box.
#pragma once

#include "app/Views.h"

#include <windows.h>

#include <string_view>

namespace varnek::win32 {

class FormWindow : public IFormView {
public:
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    void Show() override;

protected:
    FormWindow() = default;
    ~FormWindow() override;

    // Creates the window hidden (its class is registered on first use).
    bool Create(const wchar_t* className, int backgroundColour, DWORD exStyle, DWORD style,
                std::string_view caption);
    // Destroys the window now; no message of it reaches this object any more.
    void Destroy();

    // The window's own messages; what it does not handle goes to HandleDefault.
    virtual LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    LRESULT HandleDefault(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void ApplyDpi(UINT dpi) = 0;
    // The close box.
    virtual void Close() = 0;
    // The window is gone (its last message).
    virtual void Destroyed() {}

    HWND hwnd_ = nullptr;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool shown_ = false;
};

} // namespace varnek::win32
