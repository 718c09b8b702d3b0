// The main window: start-up order, the update timer, the tray events, the menu dispatch and
// the way out.
#include "AppFixture.h"
#include "Config.h"

using namespace varnek;
using varnek::testing::AppFixture;

namespace {

struct MainWindowTest : AppFixture {};

} // namespace

TEST_F(MainWindowTest, LoadAppliesTheStoredLanguageThenAddsTheIconThenDeletesTheScript) {
    p.store.Set("Language", "1");
    p.files.files.insert("C:\\Program Files\\Varnek\\DeleteOLD.bat");
    VarnekIT& main = Start();

    // Language read twice, the Danish one applied and its button selected.
    EXPECT_EQ(p.store.log,
              (std::vector<std::string>{"get Language", "get Language", "get Brugernavn",
                                        "get Teamviewer", "get Kodeord"}));
    EXPECT_EQ(main.mnuPopup[7], "Afslut");
    EXPECT_TRUE(Settings().State(Ctl::b_Sprog1).value);
    EXPECT_FALSE(Settings().State(Ctl::b_Sprog0).value);
    EXPECT_EQ(app->Globals.UpdateTickLimit, 30);

    EXPECT_EQ(MainView().log,
              (std::vector<std::string>{"timer on", "minimise", "doevents", "hide"}));
    EXPECT_EQ(p.views.log, (std::vector<std::string>{"create settings"})); // created, not shown
    ASSERT_EQ(p.notifyShell.calls.size(), 3u);
    EXPECT_EQ(p.notifyShell.calls[0].record.hWnd, 0x1001u);
    EXPECT_EQ(p.notifyShell.calls[0].record.hIcon, 0x2002u);
    EXPECT_EQ(p.notifyShell.calls[2].record.szTip, u"Varnek IT Consulting");
    EXPECT_EQ(p.files.deleted,
              (std::vector<std::string>{"C:\\Program Files\\Varnek\\DeleteOLD.bat"}));
}

TEST_F(MainWindowTest, TheStoredLanguageDecidesWhatIsApplied) {
    Start(); // no Language stored: English
    EXPECT_EQ(Main().mnuPopup, (MenuCaptions{"Varnek IT", "-", "RemoteSupport", "Support System",
                                             "-", "Settings", "-", "Exit"}));
    EXPECT_TRUE(Settings().State(Ctl::b_Sprog0).value);
    EXPECT_EQ(Caption(Ctl::b_Sprog1), "Danish");
    EXPECT_TRUE(p.files.deleted.empty()); // no script, nothing deleted

    for (const char* other : {"", "2", "1 ", "English"}) {
        app.reset();
        p = {};
        p.store.Set("Language", other);
        VarnekIT& main = Start();
        EXPECT_EQ(main.mnuPopup, (MenuCaptions{"Varnek IT", "-", "Fjernstyring", "Support System",
                                               "-", "Indstillinger", "-", "Exit"}))
            << other;
        EXPECT_FALSE(app->IndstillingerLoaded()) << other;
        EXPECT_TRUE(app->Globals.TeamViewerNotFoundText.empty());
        EXPECT_TRUE(app->Globals.DeleteUserDataText.empty());
        EXPECT_EQ(p.notifyShell.calls.size(), 3u);
    }
}

TEST_F(MainWindowTest, TheThirtiethTickStartsTheCheckOnceAndNothingRestartsIt) {
    p.store.Set("Language", "x"); // the settings window is first created by the check
    Start();
    for (int tick = 1; tick < 30; ++tick) {
        Main().UpdateTimer_Timer();
    }
    EXPECT_TRUE(MainView().timerEnabled);
    EXPECT_FALSE(app->IndstillingerLoaded());
    Main().UpdateTimer_Timer();
    EXPECT_FALSE(MainView().timerEnabled);
    EXPECT_TRUE(app->IndstillingerLoaded());
    EXPECT_EQ(app->Globals.UpdateTickCount, 30);

    // Ticks still queued, and a count that wraps around, never start it again.
    for (int tick = 0; tick < 70000; ++tick) {
        Main().UpdateTimer_Timer();
    }
    EXPECT_EQ(std::count(MainView().log.begin(), MainView().log.end(), "timer off"), 1);
    EXPECT_EQ(std::count(MainView().log.begin(), MainView().log.end(), "timer on"), 1);
}

TEST_F(MainWindowTest, ClicksOnTheIconOpenTheMenuOrTheLauncher) {
    Start();
    Main().Form_MouseMove(0, 0, 514, 0);  // left click
    Main().Form_MouseMove(0, 0, 513, 0);  // button down
    Main().pic_MouseMove(0, 0, 1028, 0);  // balloon time-out
    Main().Form_MouseMove(0, 0, 1029, 0); // balloon clicked
    EXPECT_TRUE(MainView().popups.empty());
    EXPECT_FALSE(app->LogoLoaded());

    Main().pic_MouseMove(0, 0, 517, 0);
    ASSERT_EQ(MainView().popups.size(), 1u);
    EXPECT_EQ(MainView().popups[0][7], "Exit");

    Main().Form_MouseMove(0, 0, 515, 0);
    EXPECT_TRUE(app->LogoLoaded());
    EXPECT_EQ(p.views.log.back(), "show logo");
    Main().Form_MouseMove(0, 0, 515, 0); // the same window again
    EXPECT_EQ(std::count(p.views.log.begin(), p.views.log.end(), "create logo"), 1);
}

TEST_F(MainWindowTest, TheMenuDispatchesByTheCaptionItCarries) {
    Start();
    p.files.files.insert("C:\\Program Files\\Varnek\\Varnek_TeamViewer.exe");
    auto runAt = [&](int index, const std::string& caption) {
        Main().mnuPopup[index] = caption;
        p.shell.calls.clear();
        p.views.log.clear();
        Main().mnuPopup_Click(index);
    };
    // Any index works: the caption decides.
    for (int index : {0, 3, 6}) {
        runAt(index, "Varnek IT");
        ASSERT_EQ(p.shell.calls.size(), 1u);
        EXPECT_EQ(p.shell.calls[0].file, std::string(HomePageUrl));
        runAt(index, "Support System");
        ASSERT_EQ(p.shell.calls.size(), 1u);
        EXPECT_EQ(p.shell.calls[0].file, std::string(SupportServerUrl));
        for (const char* remote : {"Fjernstyring", "RemoteSupport"}) {
            runAt(index, remote);
            ASSERT_EQ(p.shell.calls.size(), 1u);
            EXPECT_EQ(p.shell.calls[0].file, "C:\\Program Files\\Varnek\\Varnek_TeamViewer.exe");
        }
        for (const char* settings : {"Indstillinger", "Settings"}) {
            runAt(index, settings);
            EXPECT_EQ(p.views.log, (std::vector<std::string>{"show settings"}));
        }
        for (const char* nothing : {"-", "settings", "exit", "Varnek IT ", ""}) {
            runAt(index, nothing);
            EXPECT_TRUE(p.shell.calls.empty());
            EXPECT_TRUE(p.views.log.empty());
        }
    }
    Main().mnuPopup[2] = "Afslut";
    EXPECT_THROW(Main().mnuPopup_Click(2), fakes::ProgramEnded);
    EXPECT_EQ(p.notifyShell.calls.back().message, NotifyMessage::Delete);
}

TEST_F(MainWindowTest, ExitRemovesTheIconBeforeTheProgramEnds) {
    Start();
    Main().mnuPopup_Click(5); // the settings window is open
    MainView().menuChoice = 7;
    EXPECT_THROW(Main().Form_MouseMove(2, 0, 517, 0), fakes::ProgramEnded);
    ASSERT_FALSE(p.notifyShell.calls.empty());
    EXPECT_EQ(p.notifyShell.calls.back().message, NotifyMessage::Delete);
    EXPECT_EQ(Main().SysTray, nullptr);
}

TEST_F(MainWindowTest, TheTaskbarComingBackAddsTheIconAgain) {
    Start();
    p.notifyShell.calls.clear();
    p.notifyShell.present = false; // a new Explorer knows no icons
    Main().TaskbarCreated();
    ASSERT_EQ(p.notifyShell.calls.size(), 3u);
    EXPECT_EQ(p.notifyShell.calls[0].message, NotifyMessage::Add);
    EXPECT_EQ(p.notifyShell.calls[2].record.szTip, u"Varnek IT Consulting");
}

namespace {
int AddsIn(const std::vector<fakes::RecordingNotifyShell::Call>& calls) {
    int adds = 0;
    for (const auto& call : calls) {
        adds += call.message == NotifyMessage::Add ? 1 : 0;
    }
    return adds;
}
} // namespace

TEST_F(MainWindowTest, ARefusedIconIsTriedAgainOnTheTimerUntilTheShellTakesIt) {
    p.notifyShell.refuseAdds = 3; // Explorer at logon: the taskbar is there but busy
    Start();
    EXPECT_TRUE(MainView().retryTimerEnabled);
    Main().TrayRetryTimer_Timer();
    Main().TrayRetryTimer_Timer();
    EXPECT_TRUE(MainView().retryTimerEnabled);
    EXPECT_FALSE(Main().SysTray->Shown());
    p.notifyShell.calls.clear();
    Main().TrayRetryTimer_Timer(); // the fourth add is taken, with the icon and the tooltip
    EXPECT_TRUE(Main().SysTray->Shown());
    EXPECT_FALSE(MainView().retryTimerEnabled);
    ASSERT_EQ(p.notifyShell.calls.size(), 3u);
    EXPECT_EQ(p.notifyShell.calls[1].record.hIcon, 0x2002u);
    EXPECT_EQ(p.notifyShell.calls[2].record.szTip, u"Varnek IT Consulting");

    // The menu works as soon as the icon is there.
    MainView().menuChoice = -1;
    Main().Form_MouseMove(0, 0, 517, 0);
    EXPECT_EQ(MainView().popups.size(), 1u);

    // A tick already queued when the timer stopped adds nothing.
    p.notifyShell.calls.clear();
    Main().TrayRetryTimer_Timer();
    EXPECT_TRUE(p.notifyShell.calls.empty());
}

TEST_F(MainWindowTest, TheRetriesStopAfterThreeMinutesOrWhenTheTaskbarComesBack) {
    p.notifyShell.refuseAdds = 1000; // no taskbar at all
    Start();
    p.notifyShell.calls.clear();
    int ticks = 0;
    while (MainView().retryTimerEnabled && ticks < 1000) {
        Main().TrayRetryTimer_Timer();
        ++ticks;
    }
    EXPECT_EQ(ticks * VarnekIT::TrayRetryInterval, 3 * 60 * 1000);
    EXPECT_EQ(AddsIn(p.notifyShell.calls), ticks);

    // A refused add after TaskbarCreated starts a fresh round; a taken one ends it.
    Main().TaskbarCreated();
    EXPECT_TRUE(MainView().retryTimerEnabled);
    Main().TrayRetryTimer_Timer();
    p.notifyShell.refuseAdds = 0;
    Main().TaskbarCreated();
    EXPECT_TRUE(Main().SysTray->Shown());
    EXPECT_FALSE(MainView().retryTimerEnabled);
    EXPECT_EQ(MainView().log.back(), "retry off");
}

TEST_F(MainWindowTest, AnIconTakenAtOnceStartsNoRetries) {
    Start();
    Main().TaskbarCreated();
    for (const auto& entry : MainView().log) {
        EXPECT_NE(entry, "retry on");
    }
    EXPECT_FALSE(MainView().retryTimerEnabled);
}

TEST_F(MainWindowTest, ANewDpiShowsTheWindowsNewIconInTheTray) {
    Start();
    p.notifyShell.calls.clear();
    MainView().icon = 0x3003; // loaded at the new size
    Main().DpiChanged();
    ASSERT_EQ(p.notifyShell.calls.size(), 1u);
    EXPECT_EQ(p.notifyShell.calls[0].message, NotifyMessage::Modify);
    EXPECT_EQ(p.notifyShell.calls[0].record.uFlags, notify_flag::Icon);
    EXPECT_EQ(p.notifyShell.calls[0].record.hIcon, 0x3003u);
    EXPECT_EQ(p.notifyShell.calls[0].record.szTip, u"Varnek IT Consulting");
}

TEST_F(MainWindowTest, TheUpdatingBalloon) {
    Start();
    Main().ShowBallonMessageUpdating();
    const auto& call = p.notifyShell.calls.back();
    EXPECT_EQ(call.record.uFlags, notify_flag::Info);
    EXPECT_EQ(call.record.szInfo, u"Updating VarnekIT");
    EXPECT_EQ(call.record.szInfoTitle, u"Updating");
    EXPECT_EQ(call.record.dwInfoFlags, 1u);
    EXPECT_EQ(call.record.uTimeout, 1000u);
}
