// The part every shown window of the program has alike: the first show centred on the screen,
// DPI changes and the close box.
#pragma once

#include "app/Views.h"
#include "win32/Window.h"

#include <windows.h>

#include <string_view>

namespace varnek::win32 {

class FormWindow : public IFormView, protected Window {
public:
    void Show() override;

protected:
    FormWindow() = default;

    // Creates the window hidden.
    bool Create(const WindowClass& windowClass, DWORD exStyle, DWORD style,
                std::string_view caption);

    // What the window does not handle itself.
    LRESULT HandleDefault(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void ApplyDpi(UINT dpi) = 0;
    // The close box.
    virtual void Close() = 0;

private:
    bool shown_ = false;
};

} // namespace varnek::win32
