// The launcher window: the company's picture, with clicks handed to LogoForm in twips.
#pragma once

#include "app/LogoForm.h"
#include "app/Views.h"

#include <memory>

namespace varnek::win32 {

// Creates the window hidden; the picture comes from the running program's resources.
std::unique_ptr<varnek::IFormView> CreateLogoWindow(varnek::LogoForm& model);

// The window class, for tests and the UI driver.
inline constexpr wchar_t LogoWindowClass[] = L"VarnekIT.Logo";

} // namespace varnek::win32
