// The tray icon object: the record it hands to the shell on each operation, and the decoding
// of the shell's callbacks.
#include "fakes/Fakes.h"
#include "tray/clsSysTray.h"

#include <gtest/gtest.h>

#include <map>

using namespace varnek;
using varnek::fakes::FakeIconMaker;
using varnek::fakes::RecordingNotifyShell;

namespace {

struct CountingEvents : clsSysTrayEvents {
    std::map<std::string, int> raised;
    void SysTray_LeftClick() override { ++raised["LeftClick"]; }
    void SysTray_RightClick() override { ++raised["RightClick"]; }
    void SysTray_DoubleClick() override { ++raised["DoubleClick"]; }
    void SysTray_BalloonHide() override { ++raised["BalloonHide"]; }
    void SysTray_BalloonTimeOut() override { ++raised["BalloonTimeOut"]; }
    void SysTray_BalloonClicked() override { ++raised["BalloonClicked"]; }
    void SysTray_AddRefused() override { ++raised["AddRefused"]; }
};

struct Window : ITrayWindow {
    WindowHandle hWnd() const override { return 0xABC; }
    IconHandle Icon() const override { return icon; }
    IconHandle icon = 0x123;
};

struct TrayTest : ::testing::Test {
    RecordingNotifyShell shell;
    FakeIconMaker icons;
    CountingEvents events;
    Window window;
};

struct FixedPicture : IPictureBox {
    BitmapHandle MakeDrawnImageThePicture() override {
        ++made;
        return 0xB17;
    }
    int made = 0;
};

} // namespace

TEST_F(TrayTest, InitAddsTheIconInThreeCallsWithOneFlagEach) {
    clsSysTray tray(shell, icons, events);
    tray.Init(window, "Varnek IT Consulting");
    EXPECT_TRUE(tray.Shown());
    EXPECT_EQ(events.raised.count("AddRefused"), 0u);
    ASSERT_EQ(shell.calls.size(), 3u);

    const auto& add = shell.calls[0];
    EXPECT_EQ(add.message, NotifyMessage::Add);
    EXPECT_EQ(add.record.cbSize, 488u);
    EXPECT_EQ(add.record.hWnd, 0xABCu);
    EXPECT_EQ(add.record.uID, 1u);
    EXPECT_EQ(add.record.uFlags, notify_flag::Message);
    EXPECT_EQ(add.record.uCallbackMessage, 0x200u);
    EXPECT_EQ(add.record.hIcon, 0x123u);
    EXPECT_TRUE(add.record.szTip.empty()); // the tooltip comes in its own call

    EXPECT_EQ(shell.calls[1].message, NotifyMessage::Modify);
    EXPECT_EQ(shell.calls[1].record.uFlags, notify_flag::Icon);
    EXPECT_EQ(shell.calls[1].record.hIcon, 0x123u);

    EXPECT_EQ(shell.calls[2].message, NotifyMessage::Modify);
    EXPECT_EQ(shell.calls[2].record.uFlags, notify_flag::Tip);
    EXPECT_EQ(shell.calls[2].record.szTip, u"Varnek IT Consulting");
    EXPECT_EQ(tray.TooltipText(), "Varnek IT Consulting");
    for (const auto& call : shell.calls) {
        EXPECT_EQ(call.record.dwState, 0u);
        EXPECT_EQ(call.record.dwStateMask, 0u);
    }
}

TEST_F(TrayTest, TextsAreCutToTheirFieldsButTheTooltipReadsWhole) {
    clsSysTray tray(shell, icons, events);
    tray.Init(window, "");
    const std::string longTip(200, 'x');
    tray.TooltipText(longTip);
    EXPECT_EQ(tray.TooltipText(), longTip);
    EXPECT_EQ(shell.calls.back().record.szTip, std::u16string(127, u'x'));

    tray.ShowBalloonTip(std::string(300, 'm'), 1, std::string(100, 't'), 1000);
    const auto& balloon = shell.calls.back().record;
    EXPECT_EQ(balloon.szInfo.size(), 255u);
    EXPECT_EQ(balloon.szInfoTitle.size(), 63u);
    // A record keeps the fields other operations set.
    EXPECT_EQ(balloon.szTip, std::u16string(127, u'x'));

    // Danish letters count as one character each, and a text that fits is untouched.
    tray.TooltipText("Æblegrød på bordet");
    EXPECT_EQ(shell.calls.back().record.szTip, u"Æblegrød på bordet");
}

TEST_F(TrayTest, BalloonSetsItsFieldsAndOnlyTheInfoFlag) {
    clsSysTray tray(shell, icons, events);
    tray.Init(window, "tip");
    const std::int16_t timeout = 1000; // a 16-bit number is accepted as the time-out
    tray.ShowBalloonTip("Updating VarnekIT", 1, "Updating", timeout);
    const auto& call = shell.calls.back();
    EXPECT_EQ(call.message, NotifyMessage::Modify);
    EXPECT_EQ(call.record.uFlags, notify_flag::Info);
    EXPECT_EQ(call.record.szInfo, u"Updating VarnekIT");
    EXPECT_EQ(call.record.szInfoTitle, u"Updating");
    EXPECT_EQ(call.record.dwInfoFlags, 1u);
    EXPECT_EQ(call.record.uTimeout, 1000u);
    tray.ShowBalloonTip("x", 1, "y", 2500.5); // rounds half to even
    EXPECT_EQ(shell.calls.back().record.uTimeout, 2500u);
}

TEST_F(TrayTest, SetIconTakesTheWindowsIcon) {
    clsSysTray tray(shell, icons, events);
    tray.Init(window, "tip");
    window.icon = 0x999;
    tray.SetIcon(window);
    EXPECT_EQ(shell.calls.back().record.uFlags, notify_flag::Icon);
    EXPECT_EQ(shell.calls.back().record.hIcon, 0x999u);
    EXPECT_EQ(shell.calls.back().record.szTip, u"tip");
}

TEST_F(TrayTest, DrawIconPicksTheMaskByColourAndDestroysItsCopy) {
    clsSysTray tray(shell, icons, events);
    tray.Init(window, "tip");
    FixedPicture picture;
    shell.calls.clear();

    tray.DrawIcon(picture, -1);
    EXPECT_EQ(icons.log, (std::vector<std::string>{"plain 2839", "destroy 20816"}));
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(shell.calls[0].record.uFlags, notify_flag::Icon);
    EXPECT_EQ(shell.calls[0].record.hIcon, 0x5150u);

    icons.log.clear();
    tray.DrawIcon(picture, 0x00FF00);
    EXPECT_EQ(icons.log, (std::vector<std::string>{"masked 2839 65280", "destroy 20816"}));

    // An icon that cannot be made leaves the shown icon alone.
    icons.log.clear();
    shell.calls.clear();
    icons.nextIcon = 0;
    tray.DrawIcon(picture, -5);
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_EQ(icons.log, (std::vector<std::string>{"plain 2839"}));
    EXPECT_EQ(tray.Record().hIcon, 0u);
    EXPECT_EQ(picture.made, 3);
}

TEST_F(TrayTest, OnlyTheSixNotificationsRaiseEvents) {
    clsSysTray tray(shell, icons, events);
    tray.Init(window, "tip");
    for (std::int32_t code :
         {0x200, 0x201, 0x204, 0x206, 0x207, 0x208, 0x209, 0x402, 0x400, 0x406, 0, -1, 0x10202}) {
        tray.MouseMove(0, code, &window);
    }
    EXPECT_TRUE(events.raised.empty());

    tray.MouseMove(0, 0x202, &window);
    tray.MouseMove(1, 0x203, nullptr);
    tray.MouseMove(2, 0x205, &window);
    tray.MouseMove(0, 0x403, &window);
    tray.MouseMove(0, 0x404, &window);
    tray.MouseMove(0, 0x405, &window);
    EXPECT_EQ(events.raised, (std::map<std::string, int>{{"LeftClick", 1},
                                                         {"DoubleClick", 1},
                                                         {"RightClick", 1},
                                                         {"BalloonHide", 1},
                                                         {"BalloonTimeOut", 1},
                                                         {"BalloonClicked", 1}}));
}

TEST_F(TrayTest, DestroyingRemovesTheIconWithTheSameRecord) {
    {
        clsSysTray tray(shell, icons, events);
        tray.Init(window, "tip");
        tray.ShowBalloonTip("b", 1, "t", 10);
    }
    ASSERT_EQ(shell.calls.size(), 5u);
    const auto& removal = shell.calls.back();
    EXPECT_EQ(removal.message, NotifyMessage::Delete);
    EXPECT_EQ(removal.record.hWnd, 0xABCu);
    EXPECT_EQ(removal.record.uID, 1u);

    // An object that never added an icon removes nothing.
    shell.calls.clear();
    { clsSysTray unused(shell, icons, events); }
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(TrayTest, AnAddReportedAsFailedThatWentThroughIsFoundThere) {
    shell.refuseAdds = 1;
    shell.refusedAddsLand = true;
    clsSysTray tray(shell, icons, events);
    tray.Init(window, "Varnek IT Consulting");
    EXPECT_FALSE(tray.Shown());
    EXPECT_EQ(events.raised["AddRefused"], 1);
    shell.calls.clear();
    EXPECT_TRUE(tray.AddAgain()); // the add is refused (the icon is there), a change is not
    EXPECT_TRUE(tray.Shown());
    ASSERT_EQ(shell.calls.size(), 4u);
    EXPECT_EQ(shell.calls[0].message, NotifyMessage::Add);
    EXPECT_EQ(shell.calls[1].message, NotifyMessage::Modify);
    EXPECT_EQ(shell.calls[1].record.uFlags, notify_flag::Message);
    EXPECT_EQ(shell.calls[2].record.uFlags, notify_flag::Icon);
    EXPECT_EQ(shell.calls[3].record.uFlags, notify_flag::Tip);
}

TEST_F(TrayTest, AnIconTheShellRefusedOrLostIsAddedAgain) {
    shell.refuseAdds = 2; // a busy Explorer
    clsSysTray tray(shell, icons, events);
    tray.Init(window, "Varnek IT Consulting");
    EXPECT_FALSE(tray.Shown());
    EXPECT_EQ(events.raised["AddRefused"], 1);
    EXPECT_FALSE(tray.AddAgain());
    EXPECT_FALSE(tray.Shown());
    EXPECT_EQ(events.raised["AddRefused"], 1); // raised by the first add only
    shell.calls.clear();
    EXPECT_TRUE(tray.AddAgain());
    EXPECT_TRUE(tray.Shown());
    ASSERT_EQ(shell.calls.size(), 3u);
    EXPECT_EQ(shell.calls[0].message, NotifyMessage::Add);
    EXPECT_EQ(shell.calls[0].record.uFlags, notify_flag::Message);
    EXPECT_EQ(shell.calls[1].record.uFlags, notify_flag::Icon);
    EXPECT_EQ(shell.calls[2].record.uFlags, notify_flag::Tip);
    EXPECT_EQ(shell.calls[2].record.szTip, u"Varnek IT Consulting");
    EXPECT_EQ(shell.calls[2].record.hIcon, 0x123u);
}
