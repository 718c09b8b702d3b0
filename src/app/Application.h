// The program's windows and services: each window exists at most once, is created hidden on
// its first reference and again on the next reference after it was unloaded.
#pragma once

#include "app/GlobaleVariabler.h"
#include "app/Languages.h"
#include "app/Views.h"
#include "platform/Files.h"
#include "platform/NotifyShell.h"
#include "platform/ReadService.h"
#include "platform/Services.h"
#include "platform/SettingsStore.h"
#include "platform/Signatures.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

class VarnekIT;
class f_Indstillinger;
class LogoForm;

struct Services {
    ISettingsStore& store;
    INotifyShell& notifyShell;
    IIconMaker& iconMaker;
    IShell& shell;
    IFiles& files;
    IProcesses& processes;
    IDialogs& dialogs;
    IRegistry& registry;
    IMachine& machine;
    IReadService& reads;
    IClock& clock;
    ISignatureCheck& signatures;
    ILogFile& updateLog;
    IPolicies& policies;
    IViewFactory& views;
    std::string programFolder; // the running executable's folder
};

class Application {
public:
    explicit Application(Services services);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Creates the main window and runs its load step (once per process).
    VarnekIT& LoadMainWindow();
    VarnekIT& MainWindow();
    f_Indstillinger& Indstillinger();
    LogoForm& Logo();
    bool IndstillingerLoaded() const { return settings_ != nullptr; }
    bool LogoLoaded() const { return logo_ != nullptr; }

    // Unloads a window. The object stays valid until ReleaseUnloaded, so a window may unload
    // itself from its own handler.
    void Unload(f_Indstillinger& window);
    void Unload(LogoForm& window);
    // The program ends: the update checks and downloads stop and their temporary files go.
    void EndUpdates();
    // Frees windows unloaded since the last call; the message loop calls it between messages.
    void ReleaseUnloaded();

    // The program folder followed by "\" and the file name.
    std::string LocalPath(std::string_view fileName) const;

    GlobaleVariabler Globals;
    Services services;
    // The language last applied; a settings window created again takes it on.
    std::optional<Language> AppliedLanguage;

private:
    std::unique_ptr<VarnekIT> main_;
    std::unique_ptr<f_Indstillinger> settings_;
    std::unique_ptr<LogoForm> logo_;
    std::vector<std::unique_ptr<f_Indstillinger>> unloadedSettings_;
    std::vector<std::unique_ptr<LogoForm>> unloadedLogos_;
};

} // namespace varnek
