// The settings window as real Win32 controls: what it shows of the model, how it is laid out,
// and how the user's input reaches the model.
#include "Win32TestSupport.h"
#include "app/Application.h"
#include "app/Languages.h"
#include "fakes/Fakes.h"
#include "settings/SettingsKeys.h"
#include "settings/f_Indstillinger.h"
#include "win32/SettingsWindowView.h"
#include "win32/Text.h"
#include "win32/ViewFactory.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace varnek {
namespace {

using namespace varnek::testing;

using win32::SettingsControlId;

// UTF-8 to UTF-16 done here, not by the code under test.
std::wstring FromUtf8(std::string_view text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
        CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(),
        static_cast<int>(wide.size()))));
    return wide;
}

std::wstring TextOf(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[64] = {};
    GetClassNameW(window, buffer, 64);
    CharUpperW(buffer);
    return buffer;
}

int ChildCount(HWND parent) {
    int count = 0;
    EnumChildWindows(parent, CountOne, reinterpret_cast<LPARAM>(&count));
    return count;
}

// twips to pixels at `dpi`, rounded to the nearest pixel.
int Scaled(int twips, int dpi) {
    return (twips * dpi + 720) / 1440;
}

RECT ClientRectOf(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The face the system draws the control's text in, and whether it is a TrueType one.
std::pair<std::wstring, bool> FaceOf(HWND control) {
    HDC screen = GetDC(nullptr);
    HGDIOBJ old =
        SelectObject(screen, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(screen, LF_FACESIZE, face);
    TEXTMETRICW metrics{};
    GetTextMetricsW(screen, &metrics);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    return {face, (metrics.tmPitchAndFamily & TMPF_TRUETYPE) != 0};
}

LOGFONTW FontOf(HWND control) {
    LOGFONTW font{};
    const auto handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    GetObjectW(handle, sizeof font, &font);
    return font;
}

bool HasStyle(HWND window, DWORD style) {
    return (static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & style) == style;
}

void Type(HWND edit, std::wstring_view text) {
    SetFocus(edit);
    for (const wchar_t ch : text) {
        SendMessageW(edit, WM_CHAR, ch, 1);
    }
}

class SettingsViewTest : public ::testing::Test {
protected:
    void SetUp() override { app_ = std::make_unique<Application>(fake_.ServicesWith(views_)); }
    void TearDown() override {
        app_.reset();
        Pump();
    }

    f_Indstillinger& Model() { return app_->Indstillinger(); }
    // The settings window of this thread, shown; creates the model when it is not loaded.
    HWND Window() {
        Model().Show();
        const auto windows = ThreadWindows(win32::SettingsWindowClass);
        return windows.size() == 1 ? windows.front() : nullptr;
    }
    HWND Control(Ctl control) { return GetDlgItem(Window(), SettingsControlId(control)); }
    void Pump() {
        PumpMessages();
        if (app_) {
            app_->ReleaseUnloaded();
        }
    }

    fakes::FakePlatform fake_;
    win32::ViewFactory views_;
    std::unique_ptr<Application> app_;
};

TEST_F(SettingsViewTest, TheWindowIsMadeWhenFirstShownWithWhatTheModelHoldsThen) {
    f_Indstillinger& model = Model();
    EXPECT_TRUE(ThreadWindows(win32::SettingsWindowClass).empty()) << "no window before Show";
    model.SetCaption(Ctl::tBrugernavn, "S\xc3\xb8ren");
    model.SetVisible(Ctl::KodeShow, true);
    model.SetChecked(Ctl::vTeamviewer, false);
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(TextOf(Control(Ctl::tBrugernavn)), L"S\u00f8ren");
    EXPECT_TRUE(HasStyle(Control(Ctl::KodeShow), WS_VISIBLE));
    EXPECT_EQ(SendMessageW(Control(Ctl::vTeamviewer), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    Model().Show();
    EXPECT_EQ(ThreadWindows(win32::SettingsWindowClass).size(), 1u) << "made once";
}

TEST_F(SettingsViewTest, EveryPlacedControlExistsWithTheModelsCaption) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(TextOf(window), L" Indstillinger");

    int placed = 0;
    for (int i = 0; i < ControlCount; ++i) {
        const Ctl ctl = static_cast<Ctl>(i);
        const ControlDesign& design = f_Indstillinger::Design(ctl);
        const HWND control = Control(ctl);
        if (!design.placed) {
            EXPECT_EQ(control, nullptr) << design.name << " is state only";
            continue;
        }
        ++placed;
        ASSERT_NE(control, nullptr) << design.name;
        EXPECT_EQ(GetParent(control), window) << design.name;
        EXPECT_EQ(TextOf(control), FromUtf8(Model().State(ctl).caption)) << design.name;
        const std::wstring expectedClass =
            design.kind == ControlKind::Label ? L"STATIC"
            : design.kind == ControlKind::Edit || design.kind == ControlKind::PasswordEdit
                ? L"EDIT"
                : L"BUTTON";
        EXPECT_EQ(ClassOf(control), expectedClass) << design.name;
    }
    EXPECT_EQ(ChildCount(window), placed);

    // The Danish letters survive the way from the model to the screen.
    EXPECT_EQ(TextOf(Control(Ctl::bAddAutostart)), L"Tilf\u00f8j Autostart");
    EXPECT_EQ(TextOf(Control(Ctl::KodeShow)), L"En kode er angivet skriv kun for at \u00e6ndre.");
    // Form_Load's texts are shown too.
    EXPECT_EQ(TextOf(Control(Ctl::t_Version_Aktuell)), FromUtf8("Version : 1.0.2"));
}

TEST_F(SettingsViewTest, ControlsSitAtTheirTwipPositionsAt96Dpi) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi != 96) {
        GTEST_SKIP() << "the screen has " << dpi << " DPI";
    }
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 4440 / 15);
    EXPECT_EQ(client.bottom, 5745 / 15);

    for (int i = 0; i < ControlCount; ++i) {
        const Ctl ctl = static_cast<Ctl>(i);
        const ControlDesign& design = f_Indstillinger::Design(ctl);
        if (!design.placed) {
            continue;
        }
        int left = design.left;
        int top = design.top;
        if (design.parent != Ctl::Count) {
            left += f_Indstillinger::Design(design.parent).left;
            top += f_Indstillinger::Design(design.parent).top;
        }
        const RECT rect = ClientRectOf(Control(ctl));
        EXPECT_EQ(rect.left, left / 15) << design.name;
        EXPECT_EQ(rect.top, top / 15) << design.name;
        EXPECT_EQ(rect.right - rect.left, design.width / 15) << design.name;
        EXPECT_EQ(rect.bottom - rect.top, design.height / 15) << design.name;
    }
    // Spot checks against the window's design, frame offsets included.
    EXPECT_EQ(ClientRectOf(Control(Ctl::tBrugernavn)).left, 96);      // (1320 + 120) / 15
    EXPECT_EQ(ClientRectOf(Control(Ctl::tBrugernavn)).top, 40);       // (480 + 120) / 15
    EXPECT_EQ(ClientRectOf(Control(Ctl::bRemoveAutostart)).top, 280); // (1800 + 2400) / 15
}

TEST_F(SettingsViewTest, WindowAndControlStylesFollowTheirKinds) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(HasStyle(window, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_FALSE(HasStyle(window, WS_THICKFRAME)) << "not resizable";
    EXPECT_FALSE(HasStyle(window, WS_MAXIMIZEBOX));
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);

    for (int i = 0; i < ControlCount; ++i) {
        const Ctl ctl = static_cast<Ctl>(i);
        const ControlDesign& design = f_Indstillinger::Design(ctl);
        const HWND control = Control(ctl);
        if (!control) {
            continue;
        }
        const auto style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
        switch (design.kind) {
        case ControlKind::Button:
            EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON)) << design.name;
            break;
        case ControlKind::Frame:
            EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_GROUPBOX)) << design.name;
            break;
        case ControlKind::Option:
            EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_AUTORADIOBUTTON)) << design.name;
            break;
        case ControlKind::Check:
            EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_AUTOCHECKBOX)) << design.name;
            break;
        case ControlKind::Label:
            EXPECT_EQ(style & SS_TYPEMASK, static_cast<DWORD>(SS_LEFT)) << design.name;
            break;
        case ControlKind::Edit:
        case ControlKind::PasswordEdit:
            // The border the edit control draws itself: see EditBoxesShowABorder.
            EXPECT_TRUE(style & ES_AUTOHSCROLL) << design.name;
            break;
        }
        // An option button is a tab stop while it is the selected one of its group.
        const bool tabStop =
            design.kind == ControlKind::Option
                ? Model().State(ctl).value
                : design.kind != ControlKind::Label && design.kind != ControlKind::Frame;
        EXPECT_EQ((style & WS_TABSTOP) != 0, tabStop) << design.name;
    }

    // The password is masked, the user name is not.
    const HWND password = Control(Ctl::tKodeord);
    const HWND userName = Control(Ctl::tBrugernavn);
    EXPECT_TRUE(HasStyle(password, ES_PASSWORD));
    EXPECT_NE(SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0), 0);
    EXPECT_FALSE(HasStyle(userName, ES_PASSWORD));
    EXPECT_EQ(SendMessageW(userName, EM_GETPASSWORDCHAR, 0, 0), 0);

    // The two language buttons form one group of their own.
    const HWND danish = Control(Ctl::b_Sprog1);
    const HWND english = Control(Ctl::b_Sprog0);
    EXPECT_TRUE(HasStyle(danish, WS_GROUP));
    EXPECT_FALSE(HasStyle(english, WS_GROUP));
    EXPECT_EQ(GetNextDlgGroupItem(window, danish, FALSE), english);
    EXPECT_EQ(GetNextDlgGroupItem(window, english, FALSE), danish);
}

TEST_F(SettingsViewTest, TabOrderFollowsTheControlOrder) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    Model().Show();
    std::vector<HWND> expected;
    for (int i = 0; i < ControlCount; ++i) {
        const HWND control = Control(static_cast<Ctl>(i));
        if (control && HasStyle(control, WS_TABSTOP | WS_VISIBLE)) {
            expected.push_back(control);
        }
    }
    ASSERT_GE(expected.size(), 2u);
    std::vector<HWND> walked;
    HWND at = expected.back();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        at = GetNextDlgTabItem(window, at, FALSE);
        walked.push_back(at);
    }
    EXPECT_EQ(walked, expected);
}

TEST_F(SettingsViewTest, EditBoxesShowABorder) {
    ASSERT_NE(Window(), nullptr);
    Model().Show();
    for (const Ctl ctl : {Ctl::tBrugernavn, Ctl::tKodeord}) {
        const HWND edit = Control(ctl);
        UpdateWindow(edit);
        RECT rect{};
        GetWindowRect(edit, &rect);
        const int width = rect.right - rect.left;
        const int height = rect.bottom - rect.top;
        // The edit control keeps WS_BORDER to itself, so the border is looked for on the screen.
        HDC dc = GetWindowDC(edit);
        const COLORREF inside = GetPixel(dc, width / 2, height / 2);
        EXPECT_EQ(inside, GetSysColor(COLOR_WINDOW)) << f_Indstillinger::Design(ctl).name;
        for (const POINT edge : {POINT{0, height / 2}, POINT{width - 1, height / 2},
                                 POINT{width / 2, 0}, POINT{width / 2, height - 1}}) {
            EXPECT_NE(GetPixel(dc, edge.x, edge.y), inside)
                << f_Indstillinger::Design(ctl).name << " at " << edge.x << "," << edge.y;
        }
        ReleaseDC(edit, dc);
    }
}

TEST_F(SettingsViewTest, OnlyKodeShowIsRed) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    const int before = GdiObjectCount();
    for (int i = 0; i < 100; ++i) {
        SetTextColor(dc, RGB(0, 0, 0));
        EXPECT_NE(SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                               reinterpret_cast<LPARAM>(Control(Ctl::KodeShow))),
                  0);
        ASSERT_EQ(GetTextColor(dc), static_cast<COLORREF>(0x0000FF));
    }
    EXPECT_EQ(GdiObjectCount(), before) << "no brush per message";
    for (const Ctl other : {Ctl::L_Username, Ctl::L_Password, Ctl::t_Version_Ny,
                            Ctl::t_Version_Aktuell, Ctl::vTeamviewer}) {
        SetTextColor(dc, RGB(0, 0, 0));
        SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(Control(other)));
        EXPECT_NE(GetTextColor(dc), static_cast<COLORREF>(0x0000FF))
            << f_Indstillinger::Design(other).name;
    }
    DeleteDC(dc);
}

TEST_F(SettingsViewTest, FontsAreEightPointSansSerifWithTheLoginLabelsBold) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    for (int i = 0; i < ControlCount; ++i) {
        const Ctl ctl = static_cast<Ctl>(i);
        const HWND control = Control(ctl);
        if (!control) {
            continue;
        }
        const LOGFONTW font = FontOf(control);
        const bool bold = ctl == Ctl::L_Password || ctl == Ctl::L_Username;
        EXPECT_EQ(font.lfWeight, bold ? FW_BOLD : FW_NORMAL) << f_Indstillinger::Design(ctl).name;
        if (dpi == 96) {
            EXPECT_EQ(font.lfHeight, -11) << "8.25 points are 11 pixels at 96 DPI";
        }
    }
}

TEST_F(SettingsViewTest, ModelChangesShowInTheControls) {
    f_Indstillinger& model = Model();
    ASSERT_NE(Window(), nullptr);

    model.SetCaption(Ctl::L_Username,
                     "Brugernavn \xc3\xa6\xc3\xb8\xc3\xa5 \xc3\x86\xc3\x98\xc3\x85");
    EXPECT_EQ(TextOf(Control(Ctl::L_Username)),
              L"Brugernavn \u00e6\u00f8\u00e5 \u00c6\u00d8\u00c5");
    model.SetCaption(Ctl::tBrugernavn, "S\xc3\xb8ren");
    EXPECT_EQ(TextOf(Control(Ctl::tBrugernavn)), L"S\u00f8ren");
    EXPECT_EQ(model.State(Ctl::tBrugernavn).caption, "S\xc3\xb8ren");

    // No password stored: the hint is hidden.
    EXPECT_FALSE(HasStyle(Control(Ctl::KodeShow), WS_VISIBLE));
    model.SetVisible(Ctl::KodeShow, true);
    EXPECT_TRUE(HasStyle(Control(Ctl::KodeShow), WS_VISIBLE));
    model.SetVisible(Ctl::bUpdateCheck, false);
    EXPECT_FALSE(HasStyle(Control(Ctl::bUpdateCheck), WS_VISIBLE));

    EXPECT_EQ(SendMessageW(Control(Ctl::vTeamviewer), BM_GETCHECK, 0, 0), BST_CHECKED);
    model.SetChecked(Ctl::vTeamviewer, false);
    EXPECT_EQ(SendMessageW(Control(Ctl::vTeamviewer), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    model.SetChecked(Ctl::b_Sprog1, true);
    EXPECT_EQ(SendMessageW(Control(Ctl::b_Sprog1), BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(SettingsViewTest, AStoredPasswordShowsTheHintWhenTheWindowOpens) {
    fake_.store.Set(settings::Kodeord, "ABCDEF");
    ASSERT_NE(Window(), nullptr);
    EXPECT_TRUE(HasStyle(Control(Ctl::KodeShow), WS_VISIBLE));
}

TEST_F(SettingsViewTest, TypingClickingAndSavingReachTheModel) {
    f_Indstillinger& model = Model();
    ASSERT_NE(Window(), nullptr);
    model.Show();

    Type(Control(Ctl::tBrugernavn), L"S\u00f8ren \u00c5");
    EXPECT_EQ(model.State(Ctl::tBrugernavn).caption, "S\xc3\xb8ren \xc3\x85");
    Type(Control(Ctl::tKodeord), L"hemmelig\u00e6");
    EXPECT_EQ(model.State(Ctl::tKodeord).caption, "hemmelig\xc3\xa6");
    SendMessageW(Control(Ctl::tBrugernavn), WM_CHAR, VK_BACK, 1);
    EXPECT_EQ(model.State(Ctl::tBrugernavn).caption, "S\xc3\xb8ren ");

    ASSERT_TRUE(model.State(Ctl::vTeamviewer).value);
    SendMessageW(Control(Ctl::vTeamviewer), BM_CLICK, 0, 0);
    EXPECT_FALSE(model.State(Ctl::vTeamviewer).value);
    SendMessageW(Control(Ctl::vTeamviewer), BM_CLICK, 0, 0);
    EXPECT_TRUE(model.State(Ctl::vTeamviewer).value);
    SendMessageW(Control(Ctl::vTeamviewer), BM_CLICK, 0, 0);

    SendMessageW(Control(Ctl::bGem), BM_CLICK, 0, 0);
    EXPECT_EQ(fake_.store.Get(settings::Brugernavn), "S\xc3\xb8ren ");
    EXPECT_EQ(fake_.store.Get(settings::Teamviewer), "0");
    EXPECT_TRUE(fake_.store.Get(settings::Kodeord).has_value());

    fake_.dialogs.answer = vbNo;
    SendMessageW(Control(Ctl::tSlet), BM_CLICK, 0, 0);
    ASSERT_EQ(fake_.dialogs.shown.size(), 1u) << "the delete button asks first";
}

TEST_F(SettingsViewTest, CloseButtonAndCloseBoxUnloadTheWindow) {
    for (const bool closeBox : {false, true}) {
        const HWND window = Window();
        ASSERT_NE(window, nullptr);
        Model().Show();
        if (closeBox) {
            SendMessageW(window, WM_CLOSE, 0, 0);
        } else {
            SendMessageW(Control(Ctl::bLuk), BM_CLICK, 0, 0);
        }
        EXPECT_FALSE(app_->IndstillingerLoaded()) << "close box " << closeBox;
        EXPECT_TRUE(IsWindow(window)) << "kept until the message is done";
        MSG wake{};
        EXPECT_TRUE(PeekMessageW(&wake, reinterpret_cast<HWND>(-1), WM_NULL, WM_NULL, PM_NOREMOVE))
            << "a message that brings the loop round to release it";
        Pump();
        EXPECT_FALSE(IsWindow(window)) << "close box " << closeBox;
    }
}

TEST_F(SettingsViewTest, ShowCentresTheWindowOnceAndBringsItToTheFront) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    Model().Show();
    Pump();
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetForegroundWindow(), window);
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_NEAR((rect.left + rect.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((rect.top + rect.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

    // Moved by the user, hidden and shown again: it stays where the user put it.
    SetWindowPos(window, nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(window, SW_HIDE);
    Model().Show();
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 20);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(SettingsViewTest, DpiChangeScalesTheLayoutAndTheFonts) {
    const HWND window = Window();
    ASSERT_NE(window, nullptr);
    const HWND userName = Control(Ctl::tBrugernavn);
    // One round first: the system realises each face and size once and keeps it.
    for (const int dpi : {144, 192, 96}) {
        RECT suggested{40, 30, 500, 700};
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
    }
    const int gdiBefore = GdiObjectCount();
    for (const int dpi : {144, 192, 96}) {
        RECT suggested{40, 30, 500, 700};
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        RECT client{};
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, Scaled(4440, dpi)) << dpi;
        EXPECT_EQ(client.bottom, Scaled(5745, dpi)) << dpi;
        RECT rect{};
        GetWindowRect(window, &rect);
        EXPECT_EQ(rect.left, 40);
        EXPECT_EQ(rect.top, 30);
        const RECT edit = ClientRectOf(userName);
        EXPECT_EQ(edit.left, Scaled(1320 + 120, dpi)) << dpi;
        EXPECT_EQ(edit.top, Scaled(480 + 120, dpi)) << dpi;
        EXPECT_EQ(edit.right - edit.left, Scaled(2535, dpi)) << dpi;
        // 8.25 points: 16.5 pixels at 144 DPI, 22 at 192.
        EXPECT_EQ(FontOf(userName).lfHeight, dpi == 144 ? -17 : dpi == 192 ? -22 : -11) << dpi;
        EXPECT_EQ(FontOf(Control(Ctl::L_Password)).lfWeight, FW_BOLD) << dpi;
        // Scaled up, the text is drawn in a TrueType face: the bitmap MS Sans Serif of
        // Windows would be blocky.
        for (const Ctl ctl : {Ctl::tBrugernavn, Ctl::L_Password}) {
            const auto [face, trueType] = FaceOf(Control(ctl));
            if (dpi != 96) {
                EXPECT_TRUE(trueType) << win32::Utf8(face) << " at " << dpi;
            } else {
                EXPECT_EQ(face, L"MS Sans Serif") << "the face the layout was made for";
            }
        }
    }
    EXPECT_EQ(GdiObjectCount(), gdiBefore) << "the fonts of the old DPI are deleted";
}

TEST_F(SettingsViewTest, DanishOptionSelectsDanishThroughTheModel) {
    app_->LoadMainWindow(); // English, from the empty store
    f_Indstillinger& model = Model();
    ASSERT_NE(Window(), nullptr);
    model.Show();
    const HWND danish = Control(Ctl::b_Sprog1);
    const HWND english = Control(Ctl::b_Sprog0);
    ASSERT_EQ(TextOf(Control(Ctl::bLuk)), L"Close");
    ASSERT_EQ(SendMessageW(english, BM_GETCHECK, 0, 0), BST_CHECKED);

    SendMessageW(danish, BM_CLICK, 0, 0);
    EXPECT_TRUE(model.State(Ctl::b_Sprog1).value);
    EXPECT_FALSE(model.State(Ctl::b_Sprog0).value);
    EXPECT_EQ(app_->AppliedLanguage, Language::Danish);
    EXPECT_EQ(SendMessageW(danish, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(english, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(TextOf(Control(Ctl::bLuk)), L"Luk");
    EXPECT_EQ(TextOf(english), L"Engelsk");
    EXPECT_EQ(TextOf(Control(Ctl::bAddAutostart)), L"Tilf\u00f8j Autostart");

    SendMessageW(english, BM_CLICK, 0, 0);
    EXPECT_TRUE(model.State(Ctl::b_Sprog0).value);
    EXPECT_FALSE(model.State(Ctl::b_Sprog1).value);
    EXPECT_EQ(app_->AppliedLanguage, Language::English);
    EXPECT_EQ(SendMessageW(danish, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(TextOf(Control(Ctl::bLuk)), L"Close");
}

TEST_F(SettingsViewTest, OpeningAndClosingFiftyTimesLeaksNoGdiOrUserObjects) {
    // One round first: the window class, the fonts' cache and the control classes settle.
    Model().Show();
    Model().Unload();
    Pump();
    const int gdiBefore = GdiObjectCount();
    const int windowsBefore = WindowCount();
    for (int i = 0; i < 50; ++i) {
        const HWND window = Window();
        ASSERT_NE(window, nullptr) << "round " << i;
        if (i % 10 == 0) {
            Model().Show(); // painted too
            UpdateWindow(window);
        }
        SendMessageW(Control(Ctl::bLuk), BM_CLICK, 0, 0);
        Pump();
        ASSERT_FALSE(IsWindow(window));
    }
    EXPECT_EQ(GdiObjectCount(), gdiBefore);
    EXPECT_EQ(WindowCount(), windowsBefore);
}

TEST_F(SettingsViewTest, TwoProgramsInOneProcessHaveTheirOwnWindows) {
    fakes::FakePlatform other;
    Application second(other.ServicesWith(views_));
    Model().Show();
    second.Indstillinger().Show();
    second.Indstillinger().SetCaption(Ctl::bGem, "Andet");
    const auto windows = ThreadWindows(win32::SettingsWindowClass);
    ASSERT_EQ(windows.size(), 2u);
    int changed = 0;
    for (const HWND window : windows) {
        changed += TextOf(GetDlgItem(window, SettingsControlId(Ctl::bGem))) == L"Andet";
    }
    EXPECT_EQ(changed, 1);
}

} // namespace
} // namespace varnek
