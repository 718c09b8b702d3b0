#include "app/VarnekIT.h"

#include "Config.h"
#include "app/Application.h"
#include "app/Languages.h"
#include "app/LogoForm.h"
#include "app/Outside.h"
#include "settings/SettingsKeys.h"
#include "settings/f_Indstillinger.h"
#include "update/ReplacementScript.h"
#include "update/UpdateChain.h"

#include <charconv>
#include <cstdint>
#include <exception>
#include <utility>

namespace varnek {

namespace {

constexpr int ShowNormal = 1; // the shell's show command for a normal window

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// A stored password value is a digest only as the settings window writes one: 64 lowercase
// hexadecimal digits. Anything else (another program's, a hand-edited value) never reaches the
// login address, where it could add parameters of its own.
bool IsPasswordDigest(std::string_view value) {
    return value.size() == 64 && value.find_first_not_of("0123456789abcdef") == value.npos;
}

// Every caption an item can carry names one command: the design caption is the Danish or the
// English one, and no caption belongs to two commands.
constexpr bool EveryCaptionNamesOneCommand() {
    for (const MenuCommand& command : MenuCommands) {
        if (command.design != command.danish && command.design != command.english) {
            return false;
        }
        for (const MenuCommand& other : MenuCommands) {
            if (&other != &command &&
                (other.danish == command.danish || other.danish == command.english ||
                 other.english == command.danish || other.english == command.english)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(EveryCaptionNamesOneCommand());

} // namespace

MenuCaptions DesignMenuCaptions() {
    MenuCaptions captions;
    captions.fill("-");
    for (const MenuCommand& command : MenuCommands) {
        captions[command.index] = std::string(command.design);
    }
    return captions;
}

std::string LoginAddress(std::string_view userName, std::string_view digest) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string address(SupportServerUrl);
    address += outside::LoginPath;
    for (const char ch : userName) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c)) {
            address += ch;
        } else {
            address += '%';
            address += Hex[c >> 4];
            address += Hex[c & 0xF];
        }
    }
    address += outside::PasswordParameter;
    address += digest;
    return address;
}

std::string_view LaunchErrorText(std::intptr_t result) {
    switch (result) {
    case 0:
        return "The file could not be run due to insufficient system memory or a corrupt program "
               "file";
    case 2:
        return "File Not Found";
    case 3:
        return "Invalid Path";
    case 5:
        return "Sharing or protection error";
    case 6:
        return "Separate data segments are required for each task ";
    case 8:
        return "Insufficient memory to run the program";
    case 10:
        return "Incorrect Windows version";
    case 11:
        return "Invalid Program File";
    case 12:
        return "Program file requires a different operating System ";
    case 13:
        return "Program requires MS-DOS 4.0";
    case 14:
        return "Unknown program file type";
    case 15:
        return "Windows prgram does not support protected memory mode";
    case 16:
        return "Invalid use of data segments when loading a second instance of a program";
    case 19:
        return "Attempt to run a compressed program file";
    case 20:
        return "Invalid dynamic link library";
    case 21:
        return "Program requires Windows 32-bit extensions";
    case 31:
        return "No application found for this file";
    default:
        return {};
    }
}

VarnekIT::VarnekIT(Application& app) : app_(app) {
    view_ = app_.services.views.CreateMainView(*this);
    view_->SetUpdateTimerEnabled(true);
}

VarnekIT::~VarnekIT() {
    app_.services.processes.ForgetOwner(*this);
}

WindowHandle VarnekIT::hWnd() const {
    return view_->hWnd();
}
IconHandle VarnekIT::Icon() const {
    return view_->Icon();
}

void VarnekIT::Form_Load() {
    auto& store = app_.services.store;
    using namespace settings;
    if (store.GetSetting(AppName, Section, settings::Language, "0") == "0") {
        SetLanguageUK();
        app_.Indstillinger().SelectLanguageButton(0);
    }
    if (store.GetSetting(AppName, Section, settings::Language, "0") == "1") {
        SetLanguageDK();
        app_.Indstillinger().SelectLanguageButton(1);
    }
    app_.Globals.UpdateTickLimit = 30;
    SysTray =
        std::make_unique<clsSysTray>(app_.services.notifyShell, app_.services.iconMaker, *this);
    view_->Minimise();
    view_->DoEvents();
    view_->Hide();
    SysTray->Init(*this, Tooltip);
    // A left-over replacement script, unless one may still be running: another session's
    // update, or the one that started this program (it removes itself as its last step).
    auto& services = app_.services;
    const std::string script = app_.LocalPath(outside::ReplacementScriptName);
    const auto age = services.files.SecondsSinceWritten(script);
    if (age && *age >= ReplacementScriptLongestRunSeconds) {
        services.files.RemoveFile(script);
    }
    // The program runs: the safety net of a replacement is not needed any more.
    services.registry.DeleteUserValue(RestoreKeyPath, RestoreValueName);
    // What runs and updates that ended midway left behind.
    UpdateChain::RemoveLeftovers(services.files, services.programFolder);
    if (const std::string logFolder = services.updateLog.Folder(); !logFolder.empty()) {
        UpdateChain::RemoveInterruptedWrites(services.files, logFolder);
    }
}

void VarnekIT::Form_Unload() {
    Shutdown();
}

void VarnekIT::Shutdown() {
    // The downloads under way end first and take their files along.
    app_.EndUpdates();
    SysTray.reset(); // removes the icon
    view_->EndProgram();
    // The view has ended the process. A call through its interface does not tell the compiler
    // so, and were a view ever to return, nothing may run on past the program's end.
    std::terminate();
}

void VarnekIT::UpdateTimer_Timer() {
    auto& globals = app_.Globals;
    // The count stops at its largest value: a 16-bit count that overflowed would either fail
    // or wrap around and start the check a second time.
    if (globals.UpdateTickCount == INT16_MAX) {
        return;
    }
    globals.UpdateTickCount = static_cast<std::int16_t>(globals.UpdateTickCount + 1);
    if (globals.UpdateTickCount == globals.UpdateTickLimit) {
        view_->SetUpdateTimerEnabled(false);
        app_.Indstillinger().bUpdateCheck_Click(CheckStart::Automatic);
    }
}

void VarnekIT::Form_MouseMove(int Button, int /*Shift*/, float X, float /*Y*/) {
    if (SysTray) {
        SysTray->MouseMove(Button, static_cast<std::int32_t>(X), this);
    }
}

void VarnekIT::pic_MouseMove(int Button, int Shift, float X, float Y) {
    Form_MouseMove(Button, Shift, X, Y);
}

void VarnekIT::TaskbarCreated() {
    if (!SysTray) {
        return;
    }
    if (SysTray->AddAgain()) {
        if (trayRetries_ >= 0) {
            trayRetries_ = -1;
            view_->SetTrayRetryTimerEnabled(false);
        }
    } else if (trayRetries_ < 0) {
        SysTray_AddRefused(); // a new Explorer can be as busy as one at logon
    }
}

void VarnekIT::DpiChanged() {
    if (SysTray) {
        SysTray->SetIcon(*this);
    }
}

void VarnekIT::SysTray_AddRefused() {
    trayRetries_ = 0;
    view_->SetTrayRetryTimerEnabled(true);
}

void VarnekIT::TrayRetryTimer_Timer() {
    if (trayRetries_ < 0) {
        return; // a tick that was already queued when the timer stopped
    }
    ++trayRetries_;
    if ((SysTray && SysTray->AddAgain()) || trayRetries_ >= TrayRetryLimit) {
        trayRetries_ = -1;
        view_->SetTrayRetryTimerEnabled(false);
    }
}

void VarnekIT::SysTray_RightClick() {
    const int chosen = view_->PopupMenu(mnuPopup);
    if (chosen >= 0 && chosen < MenuItemCount) {
        mnuPopup_Click(chosen);
    }
}

void VarnekIT::SysTray_DoubleClick() {
    app_.Logo().Show();
}

void VarnekIT::mnuPopup_Click(int Index) {
    const std::string caption = mnuPopup[Index];
    for (const MenuCommand& command : MenuCommands) {
        if (caption == command.danish || caption == command.english) {
            (this->*command.run)();
            return;
        }
    }
}

void VarnekIT::ShowSettingsWindow() {
    app_.Indstillinger().Show();
}

void VarnekIT::SetLanguageDK() {
    app_.AppliedLanguage = Language::Danish;
    ApplyMenuCaptions(mnuPopup, Language::Danish);
    ApplySettingsCaptions(app_.Indstillinger(), Language::Danish);
    ApplyMessageTexts(app_.Globals, Language::Danish);
}

void VarnekIT::SetLanguageUK() {
    app_.AppliedLanguage = Language::English;
    ApplyMenuCaptions(mnuPopup, Language::English);
    ApplySettingsCaptions(app_.Indstillinger(), Language::English);
    ApplyMessageTexts(app_.Globals, Language::English);
}

void VarnekIT::OpenHomePage() {
    app_.services.shell.Execute(0, "open", HomePageUrl, std::nullopt, std::nullopt, ShowNormal);
}

void VarnekIT::OpenSupportPage() {
    auto& store = app_.services.store;
    using namespace settings;
    const std::string digest = store.GetSetting(AppName, Section, Kodeord, "");
    const std::string userName = store.GetSetting(AppName, Section, Brugernavn, "");
    const std::string address = IsPasswordDigest(digest) && !userName.empty()
                                    ? LoginAddress(userName, digest)
                                    : std::string(SupportServerUrl);
    app_.services.shell.Execute(0, "open", address, std::nullopt, std::nullopt, ShowNormal);
}

void VarnekIT::RunTeamviewer() {
    // While the running clients are being ended, a second command (the launcher's area clicked
    // again, the menu entry) neither ends nor starts anything more; the client started then is
    // the one asked for.
    if (startingClient_) {
        return;
    }
    using namespace settings;
    if (app_.services.store.GetSetting(AppName, Section, Teamviewer, "0") == "1") {
        startingClient_ = true;
        KillTeamViewer(); // the client starts once they have ended
        return;
    }
    StartClient();
}

void VarnekIT::ProcessesEnded() {
    if (std::exchange(startingClient_, false)) {
        StartClient();
    }
}

void VarnekIT::StartClient() {
    const std::string client = app_.LocalPath(outside::ClientFileName);
    if (app_.services.files.FileExists(client)) {
        // By its full path: the shell seeks a bare name in the current folder, the Windows
        // folders, PATH and App Paths, where another file of that name may come first.
        RunFile(client, app_.LocalPath(""), "5");
    } else {
        app_.services.dialogs.MsgBox(app_.Globals.TeamViewerNotFoundText, vbInformation, "Error");
    }
}

void VarnekIT::KillTeamViewer() {
    app_.services.processes.TerminateProcessesNamed(outside::RunningClientProcessName, *this);
}

void VarnekIT::RunFile(std::string_view fileName, std::string_view folder,
                       std::string_view showMode) {
    auto& shell = app_.services.shell;
    const WindowHandle owner = shell.GetActiveWindow();
    int showCommand = 0;
    std::from_chars(showMode.data(), showMode.data() + showMode.size(), showCommand);
    const std::intptr_t result = shell.Execute(owner, outside::ClientVerb, fileName,
                                               outside::ClientParameters, folder, showCommand);
    if (result <= 32) {
        // The user must learn that the client did not start.
        const std::string_view text = LaunchErrorText(result);
        if (!text.empty()) {
            app_.services.dialogs.MsgBox(text, vbCritical, "Error");
        }
    }
}

void VarnekIT::ShowBallonMessageUpdating() {
    if (SysTray) {
        SysTray->ShowBalloonTip("Updating VarnekIT", 1, "Updating", 1000);
    }
}

} // namespace varnek
