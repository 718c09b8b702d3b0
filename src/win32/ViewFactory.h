// Creates the Win32 windows that show the program's window models.
#pragma once

#include "app/Views.h"

namespace varnek::win32 {

class ViewFactory final : public IViewFactory {
public:
    std::unique_ptr<IMainWindowView> CreateMainView(VarnekIT& model) override;
    std::unique_ptr<IFormView> CreateSettingsView(f_Indstillinger& model) override;
    std::unique_ptr<IFormView> CreateLogoView(LogoForm& model) override;
    void WakeMessageLoop() override;
};

} // namespace varnek::win32
