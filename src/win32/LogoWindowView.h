// The launcher window: the company's picture, with clicks handed to LogoForm in twips.
#pragma once

#include "app/LogoForm.h"
#include "app/Views.h"
#include "win32/UniqueHandle.h"
#include "win32/Window.h"

#include <memory>

namespace varnek::win32 {

// Creates the window hidden; the picture comes from the running program's resources.
std::unique_ptr<varnek::IFormView> CreateLogoWindow(varnek::LogoForm& model);

// The launcher picture from the program's resources, decoded and scaled to width x height as
// a 32-bit top-down DIB section; null when the resource or the decoder is missing.
UniqueBitmap LoadLauncherPicture(int width, int height);

// The window class, for tests and the UI driver.
inline constexpr wchar_t LogoWindowClass[] = L"VarnekIT.Logo";
inline constexpr WindowClass LogoClass{LogoWindowClass, COLOR_WINDOW, true};

} // namespace varnek::win32
