#include "win32/SettingsWindowView.h"

#include "resource.h"
#include "win32/Barrier.h"
#include "win32/FormWindow.h"
#include "win32/Text.h"
#include "win32/UniqueHandle.h"
#include "win32/WindowUtil.h"

#include <windows.h>

#include <array>
#include <iterator>
#include <string>

namespace varnek::win32 {

namespace {

constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD WindowExStyle = WS_EX_CONTROLPARENT;
// The window's controls were laid out for 8.25-point MS Sans Serif: a wider face cuts the
// longer captions. On Windows that face is a bitmap font, drawn for 100 % and blocky when the
// mapper scales it up; it is taken only at 96 DPI or where it is TrueType. Otherwise its
// TrueType twin, Microsoft Sans Serif, or the dialog font stands in.
constexpr const wchar_t* FontFaces[] = {L"MS Sans Serif", L"Microsoft Sans Serif", L"MS Shell Dlg"};
constexpr int FontSizeHundredths = 825; // 8.25 points

int Pixels(int twips, UINT dpi) {
    return MulDiv(twips, static_cast<int>(dpi), 1440);
}

UniqueFont MakeFont(UINT dpi, bool bold) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(FontSizeHundredths, static_cast<int>(dpi), 7200);
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    const UniqueScreenDc screen(GetDC(nullptr));
    UniqueFont chosen;
    for (const wchar_t* face : FontFaces) {
        lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
        chosen.reset(CreateFontIndirectW(&font));
        if (face == FontFaces[std::size(FontFaces) - 1]) {
            break;
        }
        // The font mapper hands out another face when it has none of this name and size.
        wchar_t actual[LF_FACESIZE] = {};
        TEXTMETRICW metrics{};
        {
            const Selected selected(screen.get(), chosen.get());
            GetTextFaceW(screen.get(), LF_FACESIZE, actual);
            GetTextMetricsW(screen.get(), &metrics);
        }
        const bool sharp = dpi == 96 || (metrics.tmPitchAndFamily & TMPF_TRUETYPE);
        if (lstrcmpiW(actual, face) == 0 && sharp) {
            break;
        }
    }
    return chosen;
}

std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool IsToggle(ControlKind kind) {
    return kind == ControlKind::Option || kind == ControlKind::Check;
}

class SettingsWindow final : public FormWindow {
public:
    explicit SettingsWindow(f_Indstillinger& model) : model_(model) {}
    ~SettingsWindow() override;

    void Show() override;
    void ControlChanged(int control) override;

private:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;
    void ApplyDpi(UINT dpi) override;
    void Close() override { model_.Unload(); }
    void Destroyed() override { controls_.fill(nullptr); }
    void CreateControls();
    void Render(Ctl control);
    void Command(int id, int code);

    f_Indstillinger& model_;
    std::array<HWND, ControlCount> controls_{};
    HWND focus_ = nullptr; // the control that had the focus when the window was deactivated
    UniqueFont font_;
    UniqueFont boldFont_;
    bool rendering_ = false;
};

// The window is made when it is first shown: until then the model alone holds what it will
// show, and the program starts and checks for updates without it (or its controls' library).
void SettingsWindow::Show() {
    if (!hwnd_) {
        if (!Create(SettingsClass, WindowExStyle, WindowStyle, f_Indstillinger::Caption)) {
            return;
        }
        CreateControls();
        ApplyDpi(WindowDpi(hwnd_));
    }
    FormWindow::Show();
}

SettingsWindow::~SettingsWindow() {
    Destroy(); // the controls go before their fonts
}

void SettingsWindow::CreateControls() {
    ControlKind previous = ControlKind::Label;
    for (int i = 0; i < ControlCount; ++i) {
        const ControlDesign& design = f_Indstillinger::Design(static_cast<Ctl>(i));
        if (!design.placed) {
            continue;
        }
        const wchar_t* className = L"BUTTON";
        DWORD style = WS_CHILD;
        switch (design.kind) {
        case ControlKind::Button:
            style |= BS_PUSHBUTTON | WS_TABSTOP;
            break;
        case ControlKind::Frame:
            style |= BS_GROUPBOX;
            break;
        case ControlKind::Option:
            style |= BS_AUTORADIOBUTTON | WS_TABSTOP;
            break;
        case ControlKind::Check:
            style |= BS_AUTOCHECKBOX | WS_TABSTOP;
            break;
        case ControlKind::Label:
            className = L"STATIC";
            style |= SS_LEFT;
            break;
        case ControlKind::Edit:
            className = L"EDIT";
            style |= WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
            break;
        case ControlKind::PasswordEdit:
            className = L"EDIT";
            style |= WS_BORDER | ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP;
            break;
        }
        // Option buttons that follow each other form one group; every other control starts
        // a group of its own, so the option group ends where they end.
        if (!(design.kind == ControlKind::Option && previous == ControlKind::Option)) {
            style |= WS_GROUP;
        }
        previous = design.kind;
        controls_[i] = CreateWindowExW(
            0, className, L"", style, 0, 0, 0, 0, hwnd_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(SettingsControlId(static_cast<Ctl>(i)))),
            GetModuleHandleW(nullptr), nullptr);
        if (!controls_[i]) {
            LogFailedCall("CreateWindowExW", design.name, GetLastError());
        }
        Render(static_cast<Ctl>(i));
    }
}

// Makes the fonts for `dpi`, places the controls and sizes the window.
void SettingsWindow::ApplyDpi(UINT dpi) {
    // The fonts the controls use now go once the controls have the new ones.
    UniqueFont oldFont = std::move(font_);
    UniqueFont oldBold = std::move(boldFont_);
    font_ = MakeFont(dpi, false);
    boldFont_ = MakeFont(dpi, true);
    for (int i = 0; i < ControlCount; ++i) {
        const HWND control = controls_[i];
        if (!control) {
            continue;
        }
        const ControlDesign& design = f_Indstillinger::Design(static_cast<Ctl>(i));
        int left = design.left;
        int top = design.top;
        if (design.parent != Ctl::Count) {
            const ControlDesign& frame = f_Indstillinger::Design(design.parent);
            left += frame.left;
            top += frame.top;
        }
        const HFONT font = design.bold ? boldFont_.get() : font_.get();
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SetWindowPos(control, nullptr, Pixels(left, dpi), Pixels(top, dpi),
                     Pixels(design.width, dpi), Pixels(design.height, dpi),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SetClientSize(hwnd_, Pixels(f_Indstillinger::ClientWidthTwips, dpi),
                  Pixels(f_Indstillinger::ClientHeightTwips, dpi));
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void SettingsWindow::ControlChanged(int control) {
    if (control >= 0 && control < ControlCount) {
        Render(static_cast<Ctl>(control));
    }
}

void SettingsWindow::Render(Ctl ctl) {
    const HWND control = controls_[static_cast<int>(ctl)];
    if (!control) {
        return;
    }
    const ControlState& state = model_.State(ctl);
    // Setting a text or a check raises notifications that are not the user's input.
    const bool wasRendering = rendering_;
    rendering_ = true;
    const std::wstring text = Wide(state.caption);
    if (WindowText(control) != text) {
        SetWindowTextW(control, text.c_str());
    }
    if (IsToggle(f_Indstillinger::Design(ctl).kind)) {
        SendMessageW(control, BM_SETCHECK, state.value ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    const bool visible = (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
    if (visible != state.visible) {
        ShowWindow(control, state.visible ? SW_SHOWNA : SW_HIDE);
    }
    rendering_ = wasRendering;
}

void SettingsWindow::Command(int id, int code) {
    const int index = id - SettingsControlIdBase;
    if (rendering_ || index < 0 || index >= ControlCount || !controls_[index]) {
        return;
    }
    const Ctl ctl = static_cast<Ctl>(index);
    const HWND control = controls_[index];
    switch (f_Indstillinger::Design(ctl).kind) {
    case ControlKind::Edit:
    case ControlKind::PasswordEdit:
        if (code == EN_CHANGE) {
            model_.UserEdited(ctl, Utf8(WindowText(control)));
        }
        break;
    case ControlKind::Check:
        if (code == BN_CLICKED) {
            model_.UserToggled(ctl, SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED);
        }
        break;
    case ControlKind::Option:
        if (code == BN_CLICKED) {
            model_.UserToggled(ctl, true);
            // The model decides which button is selected; show its decision.
            Render(Ctl::b_Sprog0);
            Render(Ctl::b_Sprog1);
        }
        break;
    case ControlKind::Button:
        if (code == BN_CLICKED) {
            model_.UserClicked(ctl);
        }
        break;
    default:
        break;
    }
}

LRESULT SettingsWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        Command(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC: {
        const auto control = reinterpret_cast<HWND>(lParam);
        const int index = GetDlgCtrlID(control) - SettingsControlIdBase;
        if (index >= 0 && index < ControlCount && controls_[index] == control &&
            f_Indstillinger::Design(static_cast<Ctl>(index)).red) {
            const auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, RGB(255, 0, 0));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    }
    case WM_ACTIVATE:
        // Keep the keyboard focus on a control across deactivation, as a dialog does.
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            focus_ = focus && IsChild(hwnd_, focus) ? focus : nullptr;
        } else if (!HIWORD(wParam)) {
            const HWND target = focus_ && IsChild(hwnd_, focus_)
                                    ? focus_
                                    : GetNextDlgTabItem(hwnd_, nullptr, FALSE);
            if (target) {
                SetFocus(target);
            }
        }
        return 0;
    default:
        break;
    }
    return HandleDefault(message, wParam, lParam);
}

} // namespace

std::unique_ptr<varnek::IFormView> CreateSettingsWindow(varnek::f_Indstillinger& model) {
    return std::make_unique<SettingsWindow>(model);
}

} // namespace varnek::win32
