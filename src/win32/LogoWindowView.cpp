#include "win32/LogoWindowView.h"

#include "resource.h"
#include "win32/Barrier.h"
#include "win32/FormWindow.h"
#include "win32/SystemLibrary.h"
#include "win32/Text.h"
#include "win32/WindowUtil.h"

#include <windows.h>

#include <wincodec.h>
#include <windowsx.h>

#include <array>
#include <iterator>

namespace varnek::win32 {

namespace {

constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// The area buttons' control ids, in the order of LogoForm::Areas (clear of IDOK and IDCANCEL,
// which the dialog manager sends for Enter and Esc).
constexpr int FirstAreaId = 100;
constexpr int AreaCount = static_cast<int>(std::size(LogoForm::Areas));

// Twips to pixels at `dpi`, rounded up: the first pixel whose twips position is at or after
// the given one, so that a button covers the same pixels as its area's click test.
int TwipsToPixels(int twips, UINT dpi) {
    return static_cast<int>((static_cast<long long>(twips) * dpi + 1439) / 1440);
}

} // namespace

UniqueBitmap LoadLauncherPicture(int width, int height) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_LAUNCHER_JPEG), RT_RCDATA);
    const HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const auto* bytes = loaded ? static_cast<BYTE*>(LockResource(loaded)) : nullptr;
    if (!bytes) {
        return {};
    }
    ComRef<IWICImagingFactory> factory;
    ComRef<IWICStream> stream;
    ComRef<IWICBitmapDecoder> decoder;
    ComRef<IWICBitmapFrameDecode> frame;
    ComRef<IWICFormatConverter> converter;
    ComRef<IWICBitmapScaler> scaler;
    static const auto createInstance =
        SystemFunction<decltype(&CoCreateInstance)>(L"ole32.dll", "CoCreateInstance");
    if (!EnsureCom() || !createInstance ||
        FAILED(createInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(factory.put()))) ||
        FAILED(factory->CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes),
                                            SizeofResource(module, resource))) ||
        FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr,
                                                WICDecodeMetadataCacheOnDemand, decoder.put())) ||
        FAILED(decoder->GetFrame(0, frame.put())) ||
        FAILED(factory->CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR,
                                     WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
        return {};
    }
    IWICBitmapSource* source = converter.get();
    UINT sourceWidth = 0;
    UINT sourceHeight = 0;
    source->GetSize(&sourceWidth, &sourceHeight);
    if (static_cast<int>(sourceWidth) != width || static_cast<int>(sourceHeight) != height) {
        if (FAILED(factory->CreateBitmapScaler(scaler.put())) ||
            FAILED(scaler->Initialize(source, static_cast<UINT>(width), static_cast<UINT>(height),
                                      WICBitmapInterpolationModeFant))) {
            return {};
        }
        source = scaler.get();
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down, as WIC writes the rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) {
        return {};
    }
    const UINT stride = static_cast<UINT>(width) * 4;
    if (FAILED(source->CopyPixels(nullptr, stride, stride * static_cast<UINT>(height),
                                  static_cast<BYTE*>(bits)))) {
        return {};
    }
    return bitmap;
}

namespace {

class LogoWindow final : public FormWindow {
public:
    explicit LogoWindow(LogoForm& model);
    ~LogoWindow() override;

    void ControlChanged(int) override {}
    void Show() override;

private:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;
    void ApplyDpi(UINT dpi) override;
    void Close() override { model_.Unload(); }
    void Paint();
    void DrawArea(const DRAWITEMSTRUCT& item);
    // The area whose button has the focus, or -1.
    int FocusedArea() const;
    void ShowFocusCues();

    // Each area button's messages first: every key the dialog manager takes asks the focused
    // control for its dialog code, so a key used in the window shows the focus rectangle.
    struct ButtonHook final : Subclass {
        LRESULT Handle(HWND control, UINT message, WPARAM wParam, LPARAM lParam) override;
        LogoWindow* window = nullptr;
    };

    LogoForm& model_;
    // The five areas as owner-drawn push buttons over the painted ones: the keyboard reaches
    // them through the dialog manager, and screen readers learn their names (the window text)
    // and their role from the system's button class. Children go with the window.
    std::array<HWND, AreaCount> buttons_{};
    HWND focus_ = nullptr; // the button that gets the focus when the window is activated
    // Whether the focus rectangle is drawn: from the first key used in the window on, or
    // always where the user asked for keyboard cues.
    bool cuesShown_ = false;
    std::array<ButtonHook, AreaCount> hooks_; // the buttons go first, with the window
    UINT dpi_ = 96;
    UniqueBitmap picture_; // the picture at dpi_
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
};

LogoWindow::LogoWindow(LogoForm& model) : model_(model) {
    // WS_EX_CONTROLPARENT: the message loop hands this window's keys to the dialog manager.
    if (!Create(LogoClass, WS_EX_CONTROLPARENT, WindowStyle, LogoForm::Caption)) {
        return;
    }
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    for (int i = 0; i < AreaCount; ++i) {
        // Created in reading order, which makes it the Tab order.
        buttons_[i] =
            CreateWindowExW(0, L"BUTTON", Wide(LogoForm::Areas[i].label).c_str(),
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 0, 0, 0, 0, hwnd_,
                            reinterpret_cast<HMENU>(INT_PTR{FirstAreaId + i}), instance, nullptr);
        if (!buttons_[i]) {
            LogFailedCall("CreateWindowExW", "a launcher button", GetLastError());
        }
        hooks_[i].window = this;
        hooks_[i].Attach(buttons_[i]);
    }
    focus_ = buttons_[0];
    // As in a dialog opened with the mouse: no focus rectangle until a key is used, unless
    // the user asked for keyboard cues always.
    BOOL alwaysCues = FALSE;
    SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &alwaysCues, 0);
    cuesShown_ = alwaysCues != FALSE;
    if (!cuesShown_) {
        SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS | UISF_HIDEACCEL),
                     0);
    }
    ApplyDpi(WindowDpi(hwnd_));
}

void LogoWindow::Show() {
    FormWindow::Show();
    if (hwnd_ && GetActiveWindow() == hwnd_ && focus_) {
        SetFocus(focus_);
    }
}

int LogoWindow::FocusedArea() const {
    const HWND focus = GetFocus();
    for (int i = 0; i < AreaCount; ++i) {
        if (buttons_[i] == focus) {
            return i;
        }
    }
    return -1;
}

void LogoWindow::ShowFocusCues() {
    if (!cuesShown_) {
        cuesShown_ = true;
        for (const HWND button : buttons_) {
            InvalidateRect(button, nullptr, FALSE);
        }
    }
    SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL),
                 0);
}

LRESULT LogoWindow::ButtonHook::Handle(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETDLGCODE && lParam != 0) {
        const auto* keyMessage = reinterpret_cast<const MSG*>(lParam);
        if (keyMessage->message == WM_KEYDOWN || keyMessage->message == WM_SYSKEYDOWN) {
            window->ShowFocusCues();
        }
    }
    return CallControl(control, message, wParam, lParam);
}

// One area: its part of the picture, and the focus rectangle when the keyboard is in use.
void LogoWindow::DrawArea(const DRAWITEMSTRUCT& item) {
    POINT origin{0, 0};
    MapWindowPoints(item.hwndItem, hwnd_, &origin, 1);
    const RECT& rect = item.rcItem;
    if (picture_) {
        const UniqueMemoryDc memory(CreateCompatibleDC(item.hDC));
        const Selected picture(memory.get(), picture_.get());
        BitBlt(item.hDC, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
               memory.get(), origin.x + rect.left, origin.y + rect.top, SRCCOPY);
    } else {
        FillRect(item.hDC, &rect, GetSysColorBrush(COLOR_WINDOW));
    }
    const bool cuesHidden = !cuesShown_ || (item.itemState & ODS_NOFOCUSRECT);
    if ((item.itemState & ODS_FOCUS) && !cuesHidden) {
        RECT inner = rect;
        const int inset = MulDiv(3, static_cast<int>(dpi_), 96);
        InflateRect(&inner, -inset, -inset);
        DrawFocusRect(item.hDC, &inner);
    }
}

LogoWindow::~LogoWindow() {
    Destroy(); // the window goes before its picture
}

// Sizes the window and makes the picture for `dpi`, once.
void LogoWindow::ApplyDpi(UINT dpi) {
    dpi_ = dpi;
    const int scale = static_cast<int>(dpi);
    pictureWidth_ = MulDiv(LogoForm::PictureWidth, scale, 96);
    pictureHeight_ = MulDiv(LogoForm::PictureHeight, scale, 96);
    picture_ = LoadLauncherPicture(pictureWidth_, pictureHeight_);
    SetClientSize(hwnd_, MulDiv(LogoForm::ClientWidthTwips, scale, 1440),
                  MulDiv(LogoForm::ClientHeightTwips, scale, 1440));
    for (int i = 0; i < AreaCount; ++i) {
        const LogoForm::AreaDesign& area = LogoForm::Areas[i];
        const int left = TwipsToPixels(area.left, dpi);
        const int top = TwipsToPixels(area.top, dpi);
        SetWindowPos(
            buttons_[i], nullptr, left, top, TwipsToPixels(area.left + area.width, dpi) - left,
            TwipsToPixels(area.top + area.height, dpi) - top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void LogoWindow::Paint() {
    const Painting painting(hwnd_);
    if (picture_) {
        const UniqueMemoryDc memory(CreateCompatibleDC(painting.dc()));
        const Selected picture(memory.get(), picture_.get());
        BitBlt(painting.dc(), 0, 0, pictureWidth_, pictureHeight_, memory.get(), 0, 0, SRCCOPY);
    }
}

LRESULT LogoWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        Paint();
        return 0;
    case WM_DRAWITEM:
        DrawArea(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDCANCEL) { // Esc
            model_.Unload();
        } else if (id == IDOK) { // Enter: the focused area, as a dialog's default button
            const int area = FocusedArea();
            if (area >= 0) {
                model_.Click(LogoForm::Areas[area].area);
            }
        } else if (id >= FirstAreaId && id < FirstAreaId + AreaCount &&
                   HIWORD(wParam) == BN_CLICKED) { // a click, or Space on the focused area
            model_.Click(LogoForm::Areas[id - FirstAreaId].area);
        }
        return 0;
    }
    case WM_NEXTDLGCTL: {
        // Tab and Shift+Tab, as the dialog manager asks for them: round the five areas.
        const HWND next =
            lParam ? reinterpret_cast<HWND>(wParam)
                   : GetNextDlgTabItem(hwnd_, GetFocus(), static_cast<BOOL>(wParam != 0));
        if (next) {
            SetFocus(next);
        }
        ShowFocusCues();
        return 0;
    }
    case WM_ACTIVATE:
        // Like a dialog, the window keeps its focused area while another window is active.
        if (LOWORD(wParam) == WA_INACTIVE) {
            const int area = FocusedArea();
            if (area >= 0) {
                focus_ = buttons_[area];
            }
        } else if (focus_) {
            SetFocus(focus_);
        }
        return 0;
    case WM_SETFOCUS:
        if (focus_) {
            SetFocus(focus_);
        }
        return 0;
    case WM_DESTROY:
        // The buttons go next: the focus must not be handed back to them on the way out.
        focus_ = nullptr;
        break;
    case WM_LBUTTONUP: {
        const int scale = static_cast<int>(dpi_);
        model_.ClickAt(MulDiv(GET_X_LPARAM(lParam), 1440, scale),
                       MulDiv(GET_Y_LPARAM(lParam), 1440, scale));
        return 0;
    }
    default:
        break;
    }
    return HandleDefault(message, wParam, lParam);
}

} // namespace

std::unique_ptr<varnek::IFormView> CreateLogoWindow(varnek::LogoForm& model) {
    return std::make_unique<LogoWindow>(model);
}

} // namespace varnek::win32
