// The hidden main window: owner of the tray icon, its menu and the update timer, and home of
// the commands that the menu, the launcher window and the settings window call.
#pragma once

#include "app/Views.h"
#include "platform/Services.h"
#include "tray/clsSysTray.h"

#include <memory>
#include <string>
#include <string_view>

namespace varnek {

class Application;

// The tray menu before a language is applied: each command's design caption, "-" between.
MenuCaptions DesignMenuCaptions();

class VarnekIT : public clsSysTrayEvents, public ITrayWindow, private IProcessOwner {
public:
    static constexpr std::string_view Caption = "Hard Drive";
    static constexpr std::string_view Tooltip = "Varnek IT Consulting";
    static constexpr int UpdateTimerInterval = 1000; // ms
    // A refused tray icon is tried again every 2 s for 3 minutes: long enough for a busy
    // Explorer at logon, short enough not to poll for ever where there is no taskbar at all.
    static constexpr int TrayRetryInterval = 2000; // ms
    static constexpr int TrayRetryLimit = 90;

    VarnekIT(Application& app);
    ~VarnekIT() override;

    // Public operations.
    void SetLanguageDK();
    void SetLanguageUK();
    void OpenHomePage();
    void OpenSupportPage();
    void RunTeamviewer();
    void KillTeamViewer();
    void RunFile(std::string_view fileName, std::string_view folder, std::string_view showMode);
    void ShowBallonMessageUpdating();
    // Shows the settings window, not modal (made first if it is not there).
    void ShowSettingsWindow();
    // The one way the program ends, whatever asks: the main window's unload (the menu's Exit,
    // Windows closing the window or ending the session), the replacement script taking over, a
    // message loop that stops. The update checks and downloads stop and their temporary files
    // go, the icon goes, and the process ends at once.
    [[noreturn]] void Shutdown();

    // Handlers.
    void Form_Load();
    // The main window unloads, and with it the program: Shutdown.
    [[noreturn]] void Form_Unload();
    void UpdateTimer_Timer();
    // A mouse move over the window, X and Y in pixels: X is the tray's notification code, which
    // SysTray decodes. (The window's view hands the tray's callbacks to SysTray itself.)
    void Form_MouseMove(int Button, int Shift, float X, float Y);
    void pic_MouseMove(int Button, int Shift, float X, float Y);
    void mnuPopup_Click(int Index);
    // The taskbar was (re-)created: the icon is registered again.
    void TaskbarCreated();
    void TrayRetryTimer_Timer();
    // The window's DPI changed and with it its icon: the tray shows the new one.
    void DpiChanged();

    void SysTray_RightClick() override;
    void SysTray_DoubleClick() override;
    void SysTray_BalloonClicked() override {}
    void SysTray_BalloonTimeOut() override {}
    void SysTray_AddRefused() override;

    // ITrayWindow
    WindowHandle hWnd() const override;
    IconHandle Icon() const override;

    MenuCaptions mnuPopup = DesignMenuCaptions(); // captions as MenuCommands has them
    std::unique_ptr<clsSysTray> SysTray;
    IMainWindowView& View() { return *view_; }

private:
    Application& app_;
    std::unique_ptr<IMainWindowView> view_;
    int trayRetries_ = -1; // the retries made so far; -1 while the retry timer is off
    // RunTeamviewer waits for the running clients to end before it starts the client.
    bool startingClient_ = false;

    // The running clients KillTeamViewer asked to end have ended.
    void ProcessesEnded() override;
    void StartClient();
};

// The tray menu's commands: where each stands in mnuPopup, its caption before any language is
// applied, in Danish and in English, and the operation it runs; the items between (1, 4 and 6)
// are separators. The language operations write the captions from here and mnuPopup_Click finds
// the chosen item's caption here: the captions are the menu's state and the order never
// changes, so an item runs the command its caption names, in either language.
struct MenuCommand {
    int index;
    std::string_view design;
    std::string_view danish;
    std::string_view english;
    void (VarnekIT::*run)();
};

inline constexpr MenuCommand MenuCommands[] = {
    {0, "Varnek IT", "Varnek IT", "Varnek IT", &VarnekIT::OpenHomePage},
    {2, "Fjernstyring", "Fjernstyring", "RemoteSupport", &VarnekIT::RunTeamviewer},
    {3, "Support System", "Support System", "Support System", &VarnekIT::OpenSupportPage},
    {5, "Indstillinger", "Indstillinger", "Settings", &VarnekIT::ShowSettingsWindow},
    {7, "Exit", "Afslut", "Exit", &VarnekIT::Form_Unload},
};

// The login address for a user name and digest: the name percent-encoded (UTF-8, unreserved
// characters kept), the digest as it is.
std::string LoginAddress(std::string_view userName, std::string_view digest);
// The message a failed launch result selects, empty when it selects none.
std::string_view LaunchErrorText(std::intptr_t result);

} // namespace varnek
