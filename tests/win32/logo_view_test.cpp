// The launcher window as a real Win32 window: its size, the picture it paints and where its
// clicks land, at 100, 150 and 200 %.
#include "Config.h"
#include "Win32TestSupport.h"
#include "app/Application.h"
#include "app/LogoForm.h"
#include "fakes/Fakes.h"
#include "settings/f_Indstillinger.h"
#include "win32/LogoWindowView.h"
#include "win32/SettingsWindowView.h"
#include "win32/Text.h"
#include "win32/ViewFactory.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace varnek {
namespace {

using namespace varnek::testing;

// The painted buttons of the launcher picture, in picture pixels at 100 %
// (resources/launcher/make_launcher.py draws them there).
struct PaintedButton {
    const char* effect; // what a click on it does, as Observe() names it
    int left, top, width, height;
};
constexpr PaintedButton Buttons[] = {
    {"home page", 16, 264, 169, 49},     {"remote support", 216, 264, 161, 49},
    {"support page", 400, 264, 201, 49}, {"settings", 376, 424, 153, 49},
    {"closed", 560, 424, 73, 49},
};

// Picture pixels at 100 % to pixels at `dpi`: the first pixel at or after the position.
int From100(int pixels, int dpi) {
    return (pixels * dpi + 95) / 96;
}

// What the window's client area shows, read back from the screen.
class Capture {
public:
    explicit Capture(HWND window) {
        RECT client{};
        GetClientRect(window, &client);
        width_ = client.right;
        height_ = client.bottom;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels_ = static_cast<const DWORD*>(bits);
        HDC windowDc = GetDC(window);
        HDC memory = CreateCompatibleDC(windowDc);
        HGDIOBJ old = SelectObject(memory, bitmap_);
        BitBlt(memory, 0, 0, width_, height_, windowDc, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
        ReleaseDC(window, windowDc);
    }
    ~Capture() { DeleteObject(bitmap_); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    int Red(int x, int y) const { return (At(x, y) >> 16) & 0xFF; }
    int Green(int x, int y) const { return (At(x, y) >> 8) & 0xFF; }
    int Blue(int x, int y) const { return At(x, y) & 0xFF; }
    COLORREF Colour(int x, int y) const { return RGB(Red(x, y), Green(x, y), Blue(x, y)); }
    // The dark blue of the painted button faces.
    bool IsFace(int x, int y) const {
        return Red(x, y) < 0x40 && Green(x, y) > 0x40 && Green(x, y) < 0x80 && Blue(x, y) > 0x78;
    }
    // The light page around the buttons.
    bool IsPage(int x, int y) const {
        return Red(x, y) > 0xD0 && Green(x, y) > 0xD0 && Blue(x, y) > 0xD0;
    }

private:
    DWORD At(int x, int y) const { return pixels_[y * width_ + x]; }
    int width_ = 0;
    int height_ = 0;
    HBITMAP bitmap_ = nullptr;
    const DWORD* pixels_ = nullptr;
};

class LogoViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        app_ = std::make_unique<Application>(fake_.ServicesWith(views_));
        // The areas call into the main window.
        app_->LoadMainWindow();
    }
    void TearDown() override {
        app_.reset();
        Pump();
        CoUninitialize();
    }

    // The launcher window of this thread; creates the model when it is not loaded.
    HWND Window() {
        app_->Logo();
        const auto windows = ThreadWindows(win32::LogoWindowClass);
        return windows.size() == 1 ? windows.front() : nullptr;
    }
    HWND SettingsWindow() {
        const auto windows = ThreadWindows(win32::SettingsWindowClass);
        return windows.size() == 1 ? windows.front() : nullptr;
    }
    void Pump() {
        PumpMessages();
        if (app_) {
            app_->ReleaseUnloaded();
        }
    }
    static void SetDpi(HWND window, int dpi) {
        RECT suggested{0, 0, 800, 600};
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
    }
    // What the clicks since the last call did, "" for nothing.
    std::string Observe() {
        std::string seen;
        const auto add = [&seen](const char* what) {
            seen += seen.empty() ? what : std::string("+") + what;
        };
        for (const auto& call : fake_.shell.calls) {
            add(call.file == HomePageUrl        ? "home page"
                : call.file == SupportServerUrl ? "support page"
                                                : "other launch");
        }
        if (!fake_.dialogs.shown.empty()) {
            add("remote support"); // no client in the program folder: its message box
        }
        const HWND settings = SettingsWindow();
        if (settings && IsWindowVisible(settings)) {
            add("settings");
            ShowWindow(settings, SW_HIDE);
        }
        if (!app_->LogoLoaded()) {
            add("closed");
        }
        fake_.shell.calls.clear();
        fake_.dialogs.shown.clear();
        return seen;
    }
    std::string Click(int dpi, int x, int y) {
        HWND window = Window();
        if (!app_->LogoLoaded() || !window) {
            return "no window";
        }
        SetDpi(window, dpi);
        // The click goes where the mouse would send it: to the area's button, if one is there.
        POINT at{x, y};
        const HWND target = ChildWindowFromPointEx(window, at, CWP_SKIPINVISIBLE);
        MapWindowPoints(window, target, &at, 1);
        SendMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
        SendMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
        const std::string seen = Observe();
        Pump(); // a closed window goes now, and the next click opens a new one
        return seen;
    }

    // Dispatches this thread's messages as they come until the condition holds (or 5 s pass).
    template <class Condition> bool PumpUntil(Condition condition) {
        const ULONGLONG giveUp = GetTickCount64() + 5000;
        while (!condition()) {
            if (GetTickCount64() >= giveUp) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            Pump();
        }
        return true;
    }
    // A key handed to the window as the program's message loop does: the dialog manager first.
    void Key(HWND window, UINT key, bool shift = false) {
        BYTE state[256] = {};
        GetKeyboardState(state);
        state[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(state);
        for (const UINT message : {WM_KEYDOWN, WM_KEYUP}) {
            MSG msg{};
            msg.hwnd = GetFocus();
            msg.message = message;
            msg.wParam = key;
            msg.lParam = message == WM_KEYDOWN ? 1 : 0xC0000001;
            if (!IsDialogMessageW(window, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        state[VK_SHIFT] = 0;
        SetKeyboardState(state);
    }
    static std::wstring Text(HWND window) {
        wchar_t text[64] = {};
        GetWindowTextW(window, text, 64);
        return text;
    }
    // The pixels of a client rectangle of the window, as shown.
    static std::vector<COLORREF> Pixels(HWND window, const RECT& rect) {
        const Capture shown(window);
        std::vector<COLORREF> pixels;
        for (int y = rect.top; y < rect.bottom; ++y) {
            for (int x = rect.left; x < rect.right; ++x) {
                pixels.push_back(shown.Colour(x, y));
            }
        }
        return pixels;
    }

    fakes::FakePlatform fake_;
    win32::ViewFactory views_;
    std::unique_ptr<Application> app_;
};

TEST_F(LogoViewTest, WindowIsAFixedSizeCaptionedWindowCreatedHidden) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    EXPECT_STREQ(caption, L" Varnek IT Consulting");
    const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), static_cast<DWORD>(WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0u);
    EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), COLOR_WINDOW + 1);

    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi == 96) {
        RECT client{};
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, 643);
        EXPECT_EQ(client.bottom, 482);
    }
    for (const int newDpi : {144, 192, 96}) {
        SetDpi(window, newDpi);
        RECT client{};
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, (643 * newDpi + 48) / 96) << newDpi;
        EXPECT_EQ(client.bottom, 482 * newDpi / 96) << newDpi;
    }
}

TEST_F(LogoViewTest, ShowCentresTheWindowAndBringsItToTheFront) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    app_->Logo().Show();
    Pump();
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetForegroundWindow(), window);
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_NEAR((rect.left + rect.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((rect.top + rect.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
}

TEST_F(LogoViewTest, PaintsThePictureWithItsButtonsUnderTheClickAreas) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    app_->Logo().Show();
    for (const int dpi : {96, 144, 192}) {
        SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        SetDpi(window, dpi);
        SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        UpdateWindow(window);
        Pump();
        const Capture shown(window);
        for (const PaintedButton& button : Buttons) {
            const int middle = From100(button.top + button.height / 2, dpi);
            const int left = From100(button.left, dpi);
            const int right = From100(button.left + button.width, dpi) - 1;
            EXPECT_TRUE(shown.IsFace(left + From100(4, dpi), middle))
                << button.effect << " at " << dpi << " DPI";
            EXPECT_TRUE(shown.IsFace(right - From100(4, dpi), middle))
                << button.effect << " at " << dpi << " DPI";
            EXPECT_TRUE(shown.IsPage(left - From100(3, dpi), middle))
                << button.effect << " at " << dpi << " DPI";
            EXPECT_TRUE(shown.IsPage(right + From100(3, dpi), middle))
                << button.effect << " at " << dpi << " DPI";
        }
        // Below the picture the window's own colour shows.
        EXPECT_EQ(shown.Colour(10, From100(480, dpi) + 1), GetSysColor(COLOR_WINDOW)) << dpi;
    }
}

TEST_F(LogoViewTest, AClickActsOnTheAreaUnderThePointerAtEveryDpi) {
    for (const int dpi : {96, 144, 192}) {
        for (const PaintedButton& button : Buttons) {
            const int left = From100(button.left, dpi);
            const int top = From100(button.top, dpi);
            const int right = From100(button.left + button.width, dpi) - 1;
            const int bottom = From100(button.top + button.height, dpi) - 1;
            const int x = (left + right) / 2;
            const int y = (top + bottom) / 2;
            const std::string where = std::string(button.effect) + " " + std::to_string(dpi);
            EXPECT_EQ(Click(dpi, x, y), button.effect) << where << " middle";
            EXPECT_EQ(Click(dpi, left, top), button.effect) << where << " top left";
            EXPECT_EQ(Click(dpi, right, bottom), button.effect) << where << " bottom right";
            EXPECT_EQ(Click(dpi, left - 1, y), "") << where << " left of it";
            EXPECT_EQ(Click(dpi, right + 1, y), "") << where << " right of it";
            EXPECT_EQ(Click(dpi, x, top - 1), "") << where << " above it";
            EXPECT_EQ(Click(dpi, x, bottom + 1), "") << where << " below it";
        }
    }
}

TEST_F(LogoViewTest, TheAreasAreButtonsNamedByTheirLabelsInReadingOrder) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    const std::wstring labels[] = {L"Hjemmeside", L"Fjernstyring", L"Support System",
                                   L"Indstillinger", L"Luk"};
    HWND button = GetNextDlgTabItem(window, nullptr, FALSE);
    for (const auto& label : labels) {
        ASSERT_NE(button, nullptr) << win32::Utf8(label);
        EXPECT_EQ(Text(button), label);
        wchar_t className[32] = {};
        GetClassNameW(button, className, 32);
        EXPECT_EQ(_wcsicmp(className, L"Button"), 0) << win32::Utf8(label);
        // An owner-drawn push button: what screen readers announce as a button.
        EXPECT_EQ(GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW)
            << win32::Utf8(label);
        EXPECT_EQ(SendMessageW(button, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON, DLGC_BUTTON);
        button = GetNextDlgTabItem(window, button, FALSE);
    }
    EXPECT_EQ(Text(button), L"Hjemmeside") << "round from the last to the first";
}

TEST_F(LogoViewTest, TheKeyboardMovesOverTheAreasAndRunsThem) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    app_->Logo().Show();
    Pump();
    ASSERT_EQ(GetActiveWindow(), window);
    EXPECT_EQ(Text(GetFocus()), L"Hjemmeside") << "the first area has the focus on opening";

    const std::wstring order[] = {L"Fjernstyring", L"Support System", L"Indstillinger", L"Luk",
                                  L"Hjemmeside"};
    for (const auto& next : order) {
        Key(window, VK_TAB);
        EXPECT_EQ(Text(GetFocus()), next);
    }
    Key(window, VK_TAB, true); // Shift+Tab, round from the first to the last
    EXPECT_EQ(Text(GetFocus()), L"Luk");
    Key(window, VK_TAB, true);
    EXPECT_EQ(Text(GetFocus()), L"Indstillinger");
    EXPECT_EQ(Observe(), "") << "moving runs nothing";

    Key(window, VK_RETURN);
    EXPECT_EQ(Observe(), "settings");
    Key(window, VK_TAB, true);
    Key(window, VK_SPACE);
    EXPECT_EQ(Observe(), "support page");
    Key(window, VK_TAB, true);
    Key(window, VK_RETURN);
    EXPECT_EQ(Observe(), "remote support");
    Key(window, VK_TAB, true);
    Key(window, VK_SPACE);
    EXPECT_EQ(Observe(), "home page");

    // The window keeps its focused area while another one is active.
    const HWND settings = SettingsWindow();
    ASSERT_NE(settings, nullptr);
    ShowWindow(settings, SW_SHOW);
    SetForegroundWindow(settings);
    EXPECT_TRUE(PumpUntil([&] { return GetActiveWindow() == settings; }));
    ShowWindow(settings, SW_HIDE);
    SetForegroundWindow(window);
    EXPECT_TRUE(PumpUntil([&] { return GetActiveWindow() == window; }));
    EXPECT_EQ(Text(GetFocus()), L"Hjemmeside");

    Key(window, VK_ESCAPE);
    EXPECT_EQ(Observe(), "closed");
}

TEST_F(LogoViewTest, TheFocusRectangleShowsOnceAKeyIsUsed) {
    // As Windows is set up out of the box: keyboard cues only once the keyboard is used.
    BOOL cues = FALSE;
    SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0);
    SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(FALSE), 0);
    struct Restore {
        BOOL cues;
        ~Restore() {
            SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0,
                                  reinterpret_cast<void*>(static_cast<INT_PTR>(cues)), 0);
        }
    } restore{cues};
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    app_->Logo().Show();
    Pump();
    const HWND first = GetFocus();
    ASSERT_EQ(Text(first), L"Hjemmeside");
    RECT area{};
    GetWindowRect(first, &area);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
    UpdateWindow(window);
    const auto opening = Pixels(window, area);

    Key(window, VK_TAB);
    UpdateWindow(window);
    Pump();
    const auto notFocused = Pixels(window, area);
    EXPECT_EQ(opening, notFocused) << "no rectangle before a key was used";

    Key(window, VK_TAB, true);
    UpdateWindow(window);
    Pump();
    EXPECT_EQ(GetFocus(), first);
    EXPECT_NE(Pixels(window, area), notFocused) << "the rectangle once the keyboard is in use";

    // Where the user asked for keyboard cues always, the rectangle shows from the start.
    Key(window, VK_ESCAPE);
    Pump();
    SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(TRUE), 0);
    const HWND again = Window();
    ASSERT_NE(again, nullptr);
    app_->Logo().Show();
    Pump();
    UpdateWindow(again);
    Pump();
    ASSERT_EQ(Text(GetFocus()), L"Hjemmeside");
    EXPECT_NE(Pixels(again, area), notFocused);
}

TEST_F(LogoViewTest, CloseBoxUnloadsTheWindow) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    app_->Logo().Show();
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(app_->LogoLoaded());
    EXPECT_TRUE(IsWindow(window)) << "kept until the message is done";
    Pump();
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(LogoViewTest, OpeningAndClosingFiftyTimesLeaksNoGdiOrUserObjects) {
    // One round first, so that the decoder and the window class are loaded.
    app_->Logo().Show();
    app_->Logo().Unload();
    Pump();
    const int gdiBefore = GdiObjectCount();
    const int windowsBefore = WindowCount();
    for (int i = 0; i < 50; ++i) {
        const HWND window = Window();
        ASSERT_NE(window, nullptr) << "round " << i;
        if (i % 10 == 0) {
            app_->Logo().Show(); // painted too
            UpdateWindow(window);
        }
        if (i % 2) {
            SetDpi(window, 144); // a second picture, and the first one deleted
            UpdateWindow(window);
        }
        SendMessageW(window, WM_CLOSE, 0, 0);
        Pump();
        ASSERT_FALSE(IsWindow(window));
    }
    EXPECT_EQ(GdiObjectCount(), gdiBefore);
    EXPECT_EQ(WindowCount(), windowsBefore);
}

} // namespace
} // namespace varnek
