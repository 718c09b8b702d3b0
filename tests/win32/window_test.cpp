// The program's windows where Windows calls them: a handler that throws is caught at the
// window's own procedure, the first fault goes to the log, and the window goes on.
#include "app/Application.h"
#include "app/VarnekIT.h"
#include "fakes/Fakes.h"
#include "win32/Barrier.h"
#include "win32/ViewFactory.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace varnek;
using namespace varnek::win32;

TEST(BarrierTest, AMainWindowHandlerThatThrowsIsLoggedOnceAndTheWindowGoesOn) {
    fakes::FakePlatform fake;
    ViewFactory views;
    fakes::MemoryLogFile log;
    const FailureLog failures(log);
    Application app(fake.ServicesWith(views));
    VarnekIT& main = app.LoadMainWindow();
    const auto window = reinterpret_cast<HWND>(main.hWnd());
    ASSERT_NE(window, nullptr);
    // A DPI change gives the tray its icon at the new size: the shell's call throws.
    const auto dpiChanged = [window](UINT dpi) {
        RECT suggested{0, 0, 320, 240};
        return SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                            reinterpret_cast<LPARAM>(&suggested));
    };
    fake.notifyShell.calls.clear();
    fake.notifyShell.throwNext = true;
    EXPECT_EQ(dpiChanged(144), 0); // as DefWindowProc answers it
    EXPECT_TRUE(fake.notifyShell.calls.empty());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("program error in the window VarnekIT (message 0x02E0): the "
                                "notification area is gone"),
              std::string::npos)
        << log.lines[0];
    EXPECT_EQ(log.lines[0][4], '-') << "stamped with the date: " << log.lines[0];

    // The next message is handled, and the same fault again is not logged again.
    EXPECT_EQ(dpiChanged(96), 0);
    ASSERT_EQ(fake.notifyShell.calls.size(), 1u);
    EXPECT_EQ(fake.notifyShell.calls[0].message, NotifyMessage::Modify);
    fake.notifyShell.throwNext = true;
    dpiChanged(120);
    EXPECT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0)),
              reinterpret_cast<HICON>(main.Icon()));
}
