// The commands of the main window: the remote-control client, the web pages, the autostart
// entry and the launcher window's areas.
#include "AppFixture.h"
#include "Config.h"
#include "settings/ModData1.h"

using namespace varnek;
using varnek::testing::AppFixture;

namespace {

struct CommandsTest : AppFixture {
    const std::string client = "C:\\Program Files\\Varnek\\Varnek_TeamViewer.exe";
};

} // namespace

TEST_F(CommandsTest, TheClientStartsFromTheProgramFolderWithShowCommandFive) {
    p.files.files.insert(client);
    p.processes.running = {"TeamViewer.exe"};
    Start();
    Main().RunTeamviewer();
    ASSERT_EQ(p.shell.calls.size(), 1u);
    const auto& call = p.shell.calls[0];
    EXPECT_EQ(call.owner, 0x777u); // the active window
    EXPECT_EQ(call.verb, "Open");
    EXPECT_EQ(call.file, client); // by its full path, never a bare name for the shell to seek
    EXPECT_EQ(call.parameters, std::optional<std::string>(""));
    EXPECT_EQ(call.directory, std::optional<std::string>("C:\\Program Files\\Varnek\\"));
    EXPECT_EQ(call.show, 5);
    EXPECT_TRUE(p.processes.terminated.empty()); // option absent: nothing is ended
    EXPECT_TRUE(p.dialogs.shown.empty());
}

TEST_F(CommandsTest, WithTheOptionOnRunningClientsAreEndedFirstEvenWhenTheFileIsMissing) {
    p.store.Set("Teamviewer", "1");
    p.processes.running = {"TeamViewer.exe", "teamviewer.EXE", "Varnek_TeamViewer.exe",
                           "notepad.exe"};
    Start();
    Main().RunTeamviewer();
    EXPECT_EQ(p.processes.terminated.size(), 2u);
    EXPECT_EQ(p.processes.running,
              (std::multiset<std::string>{"Varnek_TeamViewer.exe", "notepad.exe"}));
    EXPECT_TRUE(p.dialogs.shown.empty()); // not before they have ended
    EXPECT_EQ(p.processes.FinishRuns(), 1);
    ASSERT_EQ(p.dialogs.shown.size(), 1u);
    EXPECT_EQ(p.dialogs.shown[0].text,
              "Teamviewer was not found, try to Update or contact Varnek for help.");
    EXPECT_EQ(p.dialogs.shown[0].style, 64u);
    EXPECT_EQ(p.dialogs.shown[0].title, std::optional<std::string>("Error"));
    EXPECT_TRUE(p.shell.calls.empty());
}

TEST_F(CommandsTest, ACommandWhileRunningClientsAreEndedStartsNothingMore) {
    p.store.Set("Teamviewer", "1");
    p.files.files.insert(client);
    p.processes.running = {"TeamViewer.exe"};
    Start();
    // The program goes on while they end: the user clicks Fjernstyring again meanwhile.
    Main().RunTeamviewer();
    Main().RunTeamviewer();
    EXPECT_TRUE(p.shell.calls.empty());
    EXPECT_EQ(p.processes.FinishRuns(), 1);
    EXPECT_EQ(p.shell.calls.size(), 1u);
    EXPECT_EQ(p.processes.terminated, std::vector<std::string>{"TeamViewer.exe"});

    // Once it is done, the command works again.
    p.shell.calls.clear();
    Main().RunTeamviewer();
    EXPECT_EQ(p.processes.FinishRuns(), 1);
    EXPECT_EQ(p.shell.calls.size(), 1u);
}

TEST_F(CommandsTest, AFailedLaunchIsShownWithItsText) {
    p.files.files.insert(client);
    Start();
    const std::pair<std::intptr_t, const char*> failures[] = {
        {0, "The file could not be run due to insufficient system memory or a corrupt program "
            "file"},
        {2, "File Not Found"},
        {5, "Sharing or protection error"},
        {15, "Windows prgram does not support protected memory mode"},
        {31, "No application found for this file"},
    };
    for (const auto& [code, text] : failures) {
        p.dialogs.shown.clear();
        p.shell.result = code;
        Main().RunTeamviewer();
        ASSERT_EQ(p.dialogs.shown.size(), 1u) << code;
        EXPECT_EQ(p.dialogs.shown[0].text, text);
        EXPECT_EQ(p.dialogs.shown[0].title, std::optional<std::string>("Error"));
    }
    for (std::intptr_t quiet : {1, 4, 7, 32, 33, 42}) {
        p.dialogs.shown.clear();
        p.shell.result = quiet;
        Main().RunTeamviewer();
        EXPECT_TRUE(p.dialogs.shown.empty()) << quiet;
    }
}

TEST_F(CommandsTest, TheSupportPageLogsInOnlyWithNameAndDigest) {
    Start();
    const std::string digest(64, 'f');
    auto opened = [&] {
        p.shell.calls.clear();
        Main().OpenSupportPage();
        EXPECT_EQ(p.shell.calls.at(0).verb, "open");
        EXPECT_EQ(p.shell.calls.at(0).owner, 0u);
        EXPECT_FALSE(p.shell.calls.at(0).parameters);
        EXPECT_FALSE(p.shell.calls.at(0).directory);
        EXPECT_EQ(p.shell.calls.at(0).show, 1);
        return p.shell.calls.at(0).file;
    };
    EXPECT_EQ(opened(), std::string(SupportServerUrl));
    p.store.Set("Brugernavn", "kunde");
    EXPECT_EQ(opened(), std::string(SupportServerUrl));
    p.store.Set("Kodeord", digest);
    EXPECT_EQ(opened(),
              std::string(SupportServerUrl) + "/AppLogin.asp?Username=kunde&Password=" + digest);
    // A stored value that is not a digest as the settings window writes one counts as none.
    for (const std::string& notDigest :
         {std::string(64, 'F'), std::string(63, 'f'), std::string(65, 'f'),
          std::string(62, 'f') + "&x", std::string(63, 'f') + "g"}) {
        p.store.Set("Kodeord", notDigest);
        EXPECT_EQ(opened(), std::string(SupportServerUrl)) << notDigest;
    }
    p.store.Set("Kodeord", digest);
    p.store.Set("Brugernavn", "");
    EXPECT_EQ(opened(), std::string(SupportServerUrl));

    p.shell.calls.clear();
    Main().OpenHomePage();
    EXPECT_EQ(p.shell.calls.at(0).file, std::string(HomePageUrl));
    EXPECT_FALSE(p.shell.calls.at(0).parameters);
}

TEST_F(CommandsTest, TheUserNameCannotAddOrOverrideParameters) {
    const std::string digest(64, '0');
    const std::pair<const char*, const char*> names[] = {
        {"a&Password=x", "a%26Password%3Dx"},
        {"søren", "s%C3%B8ren"},
        {"jens hansen", "jens%20hansen"},
        {"a+b#c", "a%2Bb%23c"},
        {"Az09-._~", "Az09-._~"},
        {"100%", "100%25"},
        {"?/\\\"'", "%3F%2F%5C%22%27"},
    };
    for (const auto& [name, encoded] : names) {
        EXPECT_EQ(LoginAddress(name, digest), std::string(SupportServerUrl) +
                                                  "/AppLogin.asp?Username=" + encoded +
                                                  "&Password=" + digest);
    }
}

TEST_F(CommandsTest, AutostartWritesTheFixedValueAndReportsFailuresInOrder) {
    Start();
    Settings().bAddAutostart_Click();
    EXPECT_EQ(p.registry.log,
              (std::vector<std::string>{
                  "open 2147483650 Software\\Microsoft\\Windows\\CurrentVersion\\Run 0 63",
                  "set 16962 VarnekIT", "close 16962"}));
    const auto& [type, data] = p.registry.values.at("VarnekIT");
    EXPECT_EQ(type, 1u);
    const std::string expected = "C:\\Varnek\\VarnekIT.exe";
    ASSERT_EQ(data.size(), 23u);
    EXPECT_EQ(std::string(data.begin(), data.end() - 1), expected);
    EXPECT_EQ(data.back(), 0);
    EXPECT_TRUE(p.dialogs.shown.empty());

    p.registry.openResult = 5; // access denied
    Settings().bAddAutostart_Click();
    ASSERT_EQ(p.dialogs.shown.size(), 2u);
    EXPECT_EQ(p.dialogs.shown[0].text, "RegOpenKey error - 5");
    EXPECT_EQ(p.dialogs.shown[1].text, "SetValue error - 6");
    for (const auto& box : p.dialogs.shown) {
        EXPECT_EQ(box.style, 0u);
        EXPECT_FALSE(box.title);
    }

    p.dialogs.shown.clear();
    p.registry.openResult = 0;
    p.registry.setResult = 1021;
    Settings().bAddAutostart_Click();
    ASSERT_EQ(p.dialogs.shown.size(), 1u);
    EXPECT_EQ(p.dialogs.shown[0].text, "SetValue error - 1021");

    p.dialogs.shown.clear();
    p.registry.log.clear();
    Settings().bRemoveAutostart_Click();
    Settings().bRemoveAutostart_Click(); // nothing left to remove: still silent
    EXPECT_TRUE(p.dialogs.shown.empty());
    EXPECT_FALSE(p.registry.values.count("VarnekIT"));
    EXPECT_EQ(p.registry.log[0],
              "open 2147483650 Software\\Microsoft\\Windows\\CurrentVersion\\Run 0 63");
}

TEST_F(CommandsTest, RegistryDataOfEachType) {
    fakes::FakeRegistry registry;
    EXPECT_EQ(ModData1::SetRegistryData(registry, 1, "n", IRegistry::DwordValue, "-2"), 0);
    EXPECT_EQ(registry.values.at("n").second, (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ModData1::SetRegistryData(registry, 1, "b", 3, "bytes"), 0);
    EXPECT_FALSE(registry.values.count("b")); // other types write nothing
}

TEST_F(CommandsTest, TheLauncherAreasRunTheirCommands) {
    p.files.files.insert(client);
    Start();
    LogoForm& logo = app->Logo();
    auto middle = [](const LogoForm::AreaDesign& a) {
        return std::pair{a.left + a.width / 2, a.top + a.height / 2};
    };
    const auto& areas = LogoForm::Areas;
    auto [hx, hy] = middle(areas[0]);
    logo.ClickAt(hx, hy);
    auto [fx, fy] = middle(areas[1]);
    logo.ClickAt(fx, fy);
    auto [sx, sy] = middle(areas[2]);
    logo.ClickAt(sx, sy);
    ASSERT_EQ(p.shell.calls.size(), 3u);
    EXPECT_EQ(p.shell.calls[0].file, std::string(HomePageUrl));
    EXPECT_EQ(p.shell.calls[1].file, client);
    EXPECT_EQ(p.shell.calls[2].file, std::string(SupportServerUrl));

    p.views.log.clear();
    auto [ix, iy] = middle(areas[3]);
    logo.ClickAt(ix, iy);
    EXPECT_EQ(p.views.log, (std::vector<std::string>{"show settings"}));

    // Outside every area, and on the edges just outside, nothing happens.
    for (auto [x, y] : {std::pair{0, 0}, std::pair{2775, 4000}, std::pair{239, 3960},
                        std::pair{240, 4695}, std::pair{5000, 6400}, std::pair{9495, 6400}}) {
        logo.ClickAt(x, y);
    }
    EXPECT_EQ(p.shell.calls.size(), 3u);
    EXPECT_EQ(p.views.log.size(), 1u);

    auto [lx, ly] = middle(areas[4]);
    logo.ClickAt(lx, ly);
    EXPECT_FALSE(app->LogoLoaded());
    app->ReleaseUnloaded();
    EXPECT_EQ(p.views.log.back(), "destroy logo");
    EXPECT_NE(Main().SysTray, nullptr); // the program goes on
}
