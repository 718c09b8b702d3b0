// The settings window: real controls that show f_Indstillinger's state and hand the user's
// input back to it.
#pragma once

#include "app/Views.h"
#include "settings/f_Indstillinger.h"
#include "win32/Window.h"

#include <memory>

namespace varnek::win32 {

// The settings window, with one control for each placed control of the model. The window is
// made on the first Show, and shows the model as it is then.
std::unique_ptr<varnek::IFormView> CreateSettingsWindow(varnek::f_Indstillinger& model);

// The window class and the child id of a control, for tests and the UI driver.
inline constexpr wchar_t SettingsWindowClass[] = L"VarnekIT.Indstillinger";
inline constexpr WindowClass SettingsClass{SettingsWindowClass, COLOR_BTNFACE, true};
inline constexpr int SettingsControlIdBase = 1000;
constexpr int SettingsControlId(varnek::Ctl control) {
    return SettingsControlIdBase + static_cast<int>(control);
}

} // namespace varnek::win32
