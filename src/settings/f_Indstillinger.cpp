#include "settings/f_Indstillinger.h"

#include "Config.h"
#include "app/Application.h"
#include "app/VarnekIT.h"
#include "crypto/CSHA256.h"
#include "platform/Text.h"
#include "settings/ModData1.h"
#include "settings/SettingsKeys.h"
#include "update/VersionText.h"

namespace varnek {

namespace {

constexpr Ctl Window = Ctl::Count;
using K = ControlKind;

// clang-format off
constexpr ControlDesign Designs[ControlCount] = {
    {"bUpdateCheck", K::Button, "Update Check", 2640, 4080, 1215, 375, Window, true, false, false},
    {"tSlet", K::Button, "Slet Brugerdata", 240, 1800, 1335, 375, Window, true, false, false},
    {"bGem", K::Button, "Gem", 2160, 5280, 975, 375, Window, true, false, false},
    {"bLuk", K::Button, "Luk", 3360, 5280, 975, 375, Window, true, false, false},
    {"Frame2", K::Frame, "Generelle - Indstillinger", 120, 2400, 4215, 2775, Window, true, false, false},
    {"b_Sprog(1)", K::Option, "Dansk", 240, 480, 1335, 255, Ctl::Frame2, true, false, false},
    {"b_Sprog(0)", K::Option, "English", 240, 240, 1455, 255, Ctl::Frame2, true, false, false},
    {"bRemoveAutostart", K::Button, "Fjern Autostart", 240, 1800, 1455, 375, Ctl::Frame2, true, false, false},
    {"bAddAutostart", K::Button, "Tilføj Autostart", 240, 1320, 1455, 375, Ctl::Frame2, true, false, false},
    {"vTeamviewer", K::Check, "Afslut eksisterende TeamViewer Klient", 240, 840, 3735, 255, Ctl::Frame2, true, false, false},
    {"t_Version_Ny", K::Label, "Ny Version :", 2520, 240, 1575, 255, Ctl::Frame2, true, false, false},
    {"t_Version_Aktuell", K::Label, "Version :", 240, 2400, 1335, 255, Ctl::Frame2, true, false, false},
    {"Frame1", K::Frame, "Varnek Support System - Login Oplysninger", 120, 120, 4215, 2175, Window, true, false, false},
    // The password is masked: a supporter watching the screen must not read it.
    {"tKodeord", K::PasswordEdit, "", 1320, 960, 2535, 285, Ctl::Frame1, true, false, false},
    {"tBrugernavn", K::Edit, "", 1320, 480, 2535, 285, Ctl::Frame1, true, false, false},
    {"KodeShow", K::Label, "En kode er angivet skriv kun for at ændre.", 120, 1320, 3975, 255, Ctl::Frame1, true, false, true},
    {"L_Password", K::Label, "Kodeord", 240, 1005, 975, 255, Ctl::Frame1, true, true, false},
    {"L_Username", K::Label, "Brugernavn", 240, 500, 975, 255, Ctl::Frame1, true, true, false},
    {"t_TeamViewerDateStat", K::Label, "", 0, 0, 0, 0, Window, false, false, false},
    {"t_TeamViewer_Status", K::Label, "", 0, 0, 0, 0, Window, false, false, false},
    {"t_VarnekIT_Status", K::Label, "", 0, 0, 0, 0, Window, false, false, false},
    {"t_TeamViewerNyVer", K::Label, "", 0, 0, 0, 0, Window, false, false, false},
    {"t_TeamViewerMinVer", K::Label, "", 0, 0, 0, 0, Window, false, false, false},
    {"t_VarnekITNyVer", K::Label, "", 0, 0, 0, 0, Window, false, false, false},
    {"t_VarnekITMinVer", K::Label, "", 0, 0, 0, 0, Window, false, false, false},
};
// clang-format on

} // namespace

const ControlDesign& f_Indstillinger::Design(Ctl control) {
    return Designs[Index(control)];
}

f_Indstillinger::f_Indstillinger(Application& app)
    : app_(app), update_(UpdateServices{app.services.reads,
                                        app.services.files,
                                        app.services.clock,
                                        app.services.dialogs,
                                        app.services.signatures,
                                        app.services.updateLog,
                                        app.services.processes,
                                        app.services.registry,
                                        app.services.policies,
                                        app.services.machine,
                                        app.services.programFolder,
                                        std::string(ClientPublisher),
                                        {UpdateRoots.begin(), UpdateRoots.end()},
                                        {ClientRoots.begin(), ClientRoots.end()}},
                         *this) {
    for (int i = 0; i < ControlCount; ++i) {
        controls_[i].caption = std::string(Designs[i].caption);
        controls_[i].visible = Designs[i].placed;
    }
    controls_[Index(Ctl::b_Sprog0)].value = true;    // English selected
    controls_[Index(Ctl::vTeamviewer)].value = true; // end a running client first
    view_ = app_.services.views.CreateSettingsView(*this);
    Form_Load();
}

f_Indstillinger::~f_Indstillinger() = default;

void f_Indstillinger::Changed(Ctl control) {
    if (view_) {
        view_->ControlChanged(Index(control));
    }
}

void f_Indstillinger::SetCaption(Ctl control, std::string_view caption) {
    controls_[Index(control)].caption = std::string(caption);
    Changed(control);
}

void f_Indstillinger::SetVisible(Ctl control, bool visible) {
    controls_[Index(control)].visible = visible;
    Changed(control);
}

void f_Indstillinger::SetChecked(Ctl control, bool checked) {
    controls_[Index(control)].value = checked;
    Changed(control);
}

void f_Indstillinger::SelectLanguageButton(int index) {
    const Ctl chosen = index == 0 ? Ctl::b_Sprog0 : Ctl::b_Sprog1;
    const Ctl other = index == 0 ? Ctl::b_Sprog1 : Ctl::b_Sprog0;
    if (controls_[Index(chosen)].value) {
        return; // already selected: no click
    }
    controls_[Index(chosen)].value = true;
    controls_[Index(other)].value = false;
    Changed(chosen);
    Changed(other);
    b_Sprog_Click(index);
}

void f_Indstillinger::UserEdited(Ctl control, std::string_view text) {
    // The view already shows the text; only the model follows.
    controls_[Index(control)].caption = std::string(text);
}

void f_Indstillinger::UserToggled(Ctl control, bool checked) {
    if (control == Ctl::b_Sprog0 || control == Ctl::b_Sprog1) {
        if (checked) {
            SelectLanguageButton(control == Ctl::b_Sprog0 ? 0 : 1);
        }
        return;
    }
    controls_[Index(control)].value = checked;
}

void f_Indstillinger::UserClicked(Ctl control) {
    switch (control) {
    case Ctl::bGem:
        bGem_Click();
        break;
    case Ctl::bLuk:
        bLuk_Click();
        break;
    case Ctl::tSlet:
        tSlet_Click();
        break;
    case Ctl::bAddAutostart:
        bAddAutostart_Click();
        break;
    case Ctl::bRemoveAutostart:
        bRemoveAutostart_Click();
        break;
    case Ctl::bUpdateCheck:
        bUpdateCheck_Click();
        break;
    default:
        break;
    }
}

void f_Indstillinger::Show() {
    if (view_) {
        view_->Show();
    }
}

void f_Indstillinger::Form_Load() {
    auto& store = app_.services.store;
    using namespace settings;
    SetCaption(Ctl::tBrugernavn, store.GetSetting(AppName, Section, Brugernavn, ""));
    const std::string teamviewer = store.GetSetting(AppName, Section, Teamviewer, "");
    if (teamviewer == "1") {
        SetChecked(Ctl::vTeamviewer, true);
    } else if (teamviewer == "0") {
        SetChecked(Ctl::vTeamviewer, false);
    }
    SetVisible(Ctl::KodeShow, store.GetSetting(AppName, Section, Kodeord, "0") != "0");
    SetCaption(Ctl::t_Version_Aktuell, "Version : " + RunningVersionText());
}

void f_Indstillinger::bGem_Click() {
    using namespace settings;
    const std::string& userName = State(Ctl::tBrugernavn).caption;
    if (!userName.empty()) {
        Save(Brugernavn, userName);
    }
    Save(Teamviewer, State(Ctl::vTeamviewer).value ? "1" : "0");
    const std::string& password = State(Ctl::tKodeord).caption;
    if (!password.empty()) {
        CSHA256 sha;
        Save(Kodeord, sha.SHA256(Utf8ToUtf16(password + std::string(PasswordSalt))));
    }
    if (State(Ctl::b_Sprog0).value) {
        Save(settings::Language, "0");
    }
    if (State(Ctl::b_Sprog1).value) {
        Save(settings::Language, "1");
    }
}

void f_Indstillinger::Save(std::string_view key, std::string_view value) {
    if (!app_.services.store.SaveSetting(settings::AppName, settings::Section, key, value)) {
        // The window shows nothing of it (as a box would not help the user); the log keeps it.
        app_.services.updateLog.Append(LogLine(
            app_.services.clock.Now(), "setting " + std::string(key) + " could not be saved"));
    }
}

namespace {

Ctl LabelControl(UpdateLabel label) {
    switch (label) {
    case UpdateLabel::TeamViewerMinVer:
        return Ctl::t_TeamViewerMinVer;
    case UpdateLabel::TeamViewerNyVer:
        return Ctl::t_TeamViewerNyVer;
    case UpdateLabel::TeamViewerDateStat:
        return Ctl::t_TeamViewerDateStat;
    case UpdateLabel::VarnekITMinVer:
        return Ctl::t_VarnekITMinVer;
    case UpdateLabel::VarnekITNyVer:
        return Ctl::t_VarnekITNyVer;
    case UpdateLabel::Version_Ny:
        return Ctl::t_Version_Ny;
    case UpdateLabel::TeamViewer_Status:
        return Ctl::t_TeamViewer_Status;
    case UpdateLabel::VarnekIT_Status:
        break;
    }
    return Ctl::t_VarnekIT_Status;
}

} // namespace

void f_Indstillinger::SetLabel(UpdateLabel label, std::string_view text) {
    SetCaption(LabelControl(label), text);
}

std::string f_Indstillinger::Label(UpdateLabel label) const {
    return State(LabelControl(label)).caption;
}

void f_Indstillinger::ShowUpdatingBalloon() {
    app_.MainWindow().ShowBallonMessageUpdating();
}

void f_Indstillinger::EndForReplacement() {
    // The script waits for this program to end: the icon goes first, then the process.
    app_.MainWindow().Shutdown();
}

void f_Indstillinger::bUpdateCheck_Click(CheckStart start) {
    update_.bUpdateCheck_Click(start);
}

void f_Indstillinger::Unload() {
    app_.Unload(*this);
}

void f_Indstillinger::bLuk_Click() {
    Unload();
}

void f_Indstillinger::b_Sprog_Click(int Index) {
    if (Index == 0) {
        app_.MainWindow().SetLanguageUK();
    } else if (Index == 1) {
        app_.MainWindow().SetLanguageDK();
    }
}

void f_Indstillinger::tSlet_Click() {
    if (app_.services.dialogs.MsgBox(app_.Globals.DeleteUserDataText, vbYesNo, std::nullopt) !=
        vbYes) {
        return;
    }
    auto& store = app_.services.store;
    using namespace settings;
    store.DeleteSetting(AppName, Section, Kodeord);
    store.DeleteSetting(AppName, Section, Brugernavn);
    store.DeleteSetting(AppName, Section, Teamviewer);
}

void f_Indstillinger::bAddAutostart_Click() {
    ModData1::WriteRegistryValue(app_.services.registry, app_.services.dialogs,
                                 IRegistry::LocalMachine, ModData1::RunKeyPath,
                                 ModData1::AutostartValueName, ModData1::AutostartValueData,
                                 IRegistry::StringValue);
}

void f_Indstillinger::bRemoveAutostart_Click() {
    ModData1::DeleteRegistryValue(app_.services.registry, IRegistry::LocalMachine,
                                  ModData1::RunKeyPath, ModData1::AutostartValueName);
}

} // namespace varnek
