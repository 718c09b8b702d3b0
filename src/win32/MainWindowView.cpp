#include "win32/MainWindowView.h"

#include "app/VarnekIT.h"
#include "resource.h"
#include "win32/Barrier.h"
#include "win32/SystemLibrary.h"
#include "win32/Text.h"
#include "win32/WinMain.h"
#include "win32/WindowUtil.h"

#include <windowsx.h>

namespace varnek::win32 {

namespace {

constexpr int PictureSize = 32;

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

// The mouse buttons of a mouse message, as 1 left, 2 right, 4 middle.
int Buttons(WPARAM wParam) {
    return ((wParam & MK_LBUTTON) ? 1 : 0) | ((wParam & MK_RBUTTON) ? 2 : 0) |
           ((wParam & MK_MBUTTON) ? 4 : 0);
}

int ShiftState(WPARAM wParam) {
    return ((wParam & MK_SHIFT) ? 1 : 0) | ((wParam & MK_CONTROL) ? 2 : 0) |
           ((GetKeyState(VK_MENU) < 0) ? 4 : 0);
}

// A system metric at a DPI: GetSystemMetricsForDpi where the system has it (Windows 10 1607
// and later); older systems have one DPI for all monitors, the one GetSystemMetrics uses.
int MetricForDpi(int metric, UINT dpi) {
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    static const auto forDpi =
        SystemFunction<GetSystemMetricsForDpiFn>(L"user32.dll", "GetSystemMetricsForDpi");
    return forDpi ? forDpi(metric, dpi) : GetSystemMetrics(metric);
}

// The program's icon at the size of `metric` (SM_CXICON or SM_CXSMICON) at `dpi`, taken from
// the frame of that size in the icon file. LoadIconMetric(LIM_SMALL) would give the same
// small icon (its documented size is SM_CXSMICON), but it lives in comctl32, which the
// program does not load at start: that library alone costs more private memory than the
// rest of the idle program.
UniqueIcon LoadProgramIcon(int metric, UINT dpi) {
    const int size = MetricForDpi(metric, dpi);
    return UniqueIcon(static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(IDI_VARNEKIT),
                                                    IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

} // namespace

MainWindowView::MainWindowView(VarnekIT& model) : model_(model) {
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    const std::wstring title = Wide(VarnekIT::Caption);
    if (!Create(Class, 0, WS_OVERLAPPEDWINDOW, title.c_str(), CW_USEDEFAULT, CW_USEDEFAULT, 320,
                240)) {
        return;
    }
    // Run elevated (started from the installer, or "as administrator"), the program would not
    // hear Explorer announce a new taskbar: the system drops messages from a less privileged
    // process unless the window lets them through. The function is in Windows 7 and later.
    using ChangeWindowMessageFilterExFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    static const auto allowMessage =
        SystemFunction<ChangeWindowMessageFilterExFn>(L"user32.dll", "ChangeWindowMessageFilterEx");
    if (allowMessage && taskbarCreated_ != 0) {
        allowMessage(hwnd_, taskbarCreated_, MSGFLT_ALLOW, nullptr);
    }
    pic_.Create(hwnd_);
    LoadIcons(WindowDpi(hwnd_));
}

bool MainWindowView::PictureBox::Create(HWND parent) {
    return Window::Create(PictureClass, 0, WS_CHILD | WS_VISIBLE, L"", 0, 0, PictureSize,
                          PictureSize, parent);
}

void MainWindowView::LoadIcons(UINT dpi) {
    bigIcon_ = LoadProgramIcon(SM_CXICON, dpi);
    smallIcon_ = LoadProgramIcon(SM_CXSMICON, dpi);
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
}

MainWindowView::~MainWindowView() {
    Destroy(); // the window, and its picture box with it, go before their icons and picture
}

void MainWindowView::Minimise() {
    // The window is never shown; minimising must not show it.
    if (IsWindowVisible(hwnd_)) {
        ShowWindow(hwnd_, SW_MINIMIZE);
    }
}

void MainWindowView::DoEvents() {
    DispatchWaiting();
}

void MainWindowView::Hide() {
    ShowWindow(hwnd_, SW_HIDE);
}

void MainWindowView::SetUpdateTimerEnabled(bool enabled) {
    SetTimerEnabled(UpdateTimerId, VarnekIT::UpdateTimerInterval, enabled);
}

void MainWindowView::SetTrayRetryTimerEnabled(bool enabled) {
    SetTimerEnabled(TrayRetryTimerId, VarnekIT::TrayRetryInterval, enabled);
}

void MainWindowView::SetTimerEnabled(UINT_PTR id, UINT interval, bool enabled) {
    if (!hwnd_) {
        return; // no window: its failure is in the log
    }
    if (!enabled) {
        KillTimer(hwnd_, id);
    } else if (!SetTimer(hwnd_, id, interval, nullptr)) {
        // Without it the automatic update check, or the icon's next try, never comes.
        LogFailedCall("SetTimer", id == UpdateTimerId ? "the update timer" : "the tray retry timer",
                      GetLastError());
    }
}

int MainWindowView::PopupMenu(const MenuCaptions& captions) {
    const UniqueMenu menu(CreatePopupMenu());
    for (int i = 0; i < MenuItemCount; ++i) {
        if (captions[i] == "-") {
            AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
        } else {
            AppendMenuW(menu.get(), MF_STRING, static_cast<UINT_PTR>(i + 1),
                        Wide(captions[i]).c_str());
        }
    }
    POINT at{};
    GetCursorPos(&at);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(hwnd_);
    const int chosen = static_cast<int>(TrackPopupMenu(
        menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY,
        at.x, at.y, 0, hwnd_, nullptr));
    PostMessageW(hwnd_, WM_NULL, 0, 0);
    return chosen - 1;
}

void MainWindowView::EndProgram() {
    // The icon is gone and the update log has every line (each one is written and closed as it
    // comes); the process ends without waiting for what its read workers are in.
    EndProcess(0);
}

BitmapHandle MainWindowView::MakeDrawnImageThePicture() {
    if (!picture_) {
        const UniqueScreenDc screen(GetDC(nullptr));
        picture_.reset(CreateCompatibleBitmap(screen.get(), PictureSize, PictureSize));
    }
    return reinterpret_cast<BitmapHandle>(picture_.get());
}

LRESULT MainWindowView::PictureBox::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_MOUSEMOVE) {
        owner_.model_.pic_MouseMove(Buttons(wParam), ShiftState(wParam),
                                    static_cast<float>(GET_X_LPARAM(lParam)),
                                    static_cast<float>(GET_Y_LPARAM(lParam)));
        return 0;
    }
    if (message == WM_PAINT && owner_.picture_) {
        const Painting painting(hwnd_);
        const UniqueMemoryDc source(CreateCompatibleDC(painting.dc()));
        const Selected picture(source.get(), owner_.picture_.get());
        BitBlt(painting.dc(), 0, 0, PictureSize, PictureSize, source.get(), 0, 0, SRCCOPY);
        return 0;
    }
    return Window::Handle(message, wParam, lParam);
}

LRESULT MainWindowView::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        model_.TaskbarCreated();
        return 0;
    }
    switch (message) {
    case WM_MOUSEMOVE:
        // The tray icon's callback (the window is never shown, so no other mouse moves it): the
        // notification code arrives as the x position, and the icon's object decodes it.
        if (clsSysTray* const tray = model_.SysTray.get()) {
            tray->MouseMove(Buttons(wParam), GET_X_LPARAM(lParam), &model_);
        }
        return 0;
    case WM_TIMER:
        if (wParam == UpdateTimerId) {
            model_.UpdateTimer_Timer();
        } else if (wParam == TrayRetryTimerId) {
            model_.TrayRetryTimer_Timer();
        }
        return 0;
    case WM_DPICHANGED: {
        // The tray icon at the new small-icon size. The old icons are kept until the shell
        // has the new one: it may still be drawing them.
        UniqueIcon oldBig = std::move(bigIcon_);
        UniqueIcon oldSmall = std::move(smallIcon_);
        LoadIcons(HIWORD(wParam));
        model_.DpiChanged();
        return 0;
    }
    case WM_CLOSE:
    case WM_ENDSESSION:
        // Windows closes the window, or ends the session (a WM_ENDSESSION with wParam FALSE
        // only says that the session goes on): the window unloads and the program ends here.
        if (message == WM_CLOSE || wParam) {
            model_.Form_Unload();
        }
        return 0;
    default:
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

} // namespace varnek::win32
