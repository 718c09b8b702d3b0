#include "win32/ViewFactory.h"

#include "win32/LogoWindowView.h"
#include "win32/MainWindowView.h"
#include "win32/SettingsWindowView.h"

namespace varnek::win32 {

std::unique_ptr<IMainWindowView> ViewFactory::CreateMainView(VarnekIT& model) {
    return std::make_unique<MainWindowView>(model);
}

std::unique_ptr<IFormView> ViewFactory::CreateSettingsView(f_Indstillinger& model) {
    return CreateSettingsWindow(model);
}

std::unique_ptr<IFormView> ViewFactory::CreateLogoView(LogoForm& model) {
    return CreateLogoWindow(model);
}

void ViewFactory::WakeMessageLoop() {
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
}

} // namespace varnek::win32
