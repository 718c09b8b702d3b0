#include "app/Application.h"

#include "app/LogoForm.h"
#include "app/VarnekIT.h"
#include "settings/f_Indstillinger.h"

#include <stdexcept>

namespace varnek {

Application::Application(Services s) : services(std::move(s)) {}

Application::~Application() {
    // Windows first: the main window's tray object still talks to the shell.
    unloadedSettings_.clear();
    unloadedLogos_.clear();
    logo_.reset();
    settings_.reset();
    main_.reset();
}

VarnekIT& Application::LoadMainWindow() {
    if (!main_) {
        main_ = std::make_unique<VarnekIT>(*this);
        main_->Form_Load();
    }
    return *main_;
}

VarnekIT& Application::MainWindow() {
    if (!main_) {
        throw std::logic_error("the main window is not loaded");
    }
    return *main_;
}

f_Indstillinger& Application::Indstillinger() {
    if (!settings_) {
        settings_ = std::make_unique<f_Indstillinger>(*this);
        if (AppliedLanguage) {
            const int button = *AppliedLanguage == Language::Danish ? 1 : 0;
            ApplySettingsCaptions(*settings_, *AppliedLanguage);
            settings_->SetChecked(button == 0 ? Ctl::b_Sprog0 : Ctl::b_Sprog1, true);
            settings_->SetChecked(button == 0 ? Ctl::b_Sprog1 : Ctl::b_Sprog0, false);
        }
    }
    return *settings_;
}

LogoForm& Application::Logo() {
    if (!logo_) {
        logo_ = std::make_unique<LogoForm>(*this);
    }
    return *logo_;
}

void Application::Unload(f_Indstillinger& window) {
    if (settings_.get() == &window) {
        unloadedSettings_.push_back(std::move(settings_));
        services.views.WakeMessageLoop();
    }
}

void Application::Unload(LogoForm& window) {
    if (logo_.get() == &window) {
        unloadedLogos_.push_back(std::move(logo_));
        services.views.WakeMessageLoop();
    }
}

void Application::EndUpdates() {
    if (settings_) {
        settings_->EndUpdates();
    }
    for (const auto& window : unloadedSettings_) {
        window->EndUpdates();
    }
}

void Application::ReleaseUnloaded() {
    unloadedSettings_.clear();
    unloadedLogos_.clear();
}

std::string Application::LocalPath(std::string_view fileName) const {
    return PathInFolder(services.programFolder, fileName);
}

} // namespace varnek
