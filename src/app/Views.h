// What the portable window models need of the windows that show them. The Win32 layer
// implements these; the models hold all state, the views render it and feed input back.
#pragma once

#include "platform/Handles.h"

#include <array>
#include <memory>
#include <string>

namespace varnek {

class VarnekIT;
class f_Indstillinger;
class LogoForm;

inline constexpr int MenuItemCount = 8;
using MenuCaptions = std::array<std::string, MenuItemCount>;

class IMainWindowView {
public:
    virtual ~IMainWindowView() = default;
    virtual WindowHandle hWnd() const = 0;
    virtual IconHandle Icon() const = 0;
    virtual void Minimise() = 0;
    // Processes the pending window messages once.
    virtual void DoEvents() = 0;
    virtual void Hide() = 0;
    virtual void SetUpdateTimerEnabled(bool enabled) = 0;
    // The timer that tries the tray icon's add again, every VarnekIT::TrayRetryInterval ms.
    virtual void SetTrayRetryTimerEnabled(bool enabled) = 0;
    // Pops the menu up at the mouse position and returns the chosen item's index, or -1.
    // A caption of "-" is a separator.
    virtual int PopupMenu(const MenuCaptions& captions) = 0;
    // Ends the process at once.
    [[noreturn]] virtual void EndProgram() = 0;
};

// A window that is shown and unloaded (the settings and launcher windows).
class IFormView {
public:
    virtual ~IFormView() = default;
    // Shows the window, not modal, and brings it to the front.
    virtual void Show() = 0;
    // A control's state in the model changed; `control` is the model's control number.
    virtual void ControlChanged(int control) = 0;
};

class IViewFactory {
public:
    virtual ~IViewFactory() = default;
    virtual std::unique_ptr<IMainWindowView> CreateMainView(VarnekIT& model) = 0;
    // Makes a view that shows nothing until its first Show (the window may be made then).
    virtual std::unique_ptr<IFormView> CreateSettingsView(f_Indstillinger& model) = 0;
    virtual std::unique_ptr<IFormView> CreateLogoView(LogoForm& model) = 0;
    // Makes the message loop go round once soon: an unloaded window waits there to be
    // released, and no other message may come for a while.
    virtual void WakeMessageLoop() = 0;
};

} // namespace varnek
