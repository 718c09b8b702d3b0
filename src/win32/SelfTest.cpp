#include "win32/SelfTest.h"

#include "app/Application.h"
#include "app/LogoForm.h"
#include "app/VarnekIT.h"
#include "win32/Barrier.h"
#include "win32/LogoWindowView.h"
#include "win32/MainWindowView.h"
#include "win32/ProgramServices.h"
#include "win32/SettingsWindowView.h"
#include "win32/Window.h"
#include "win32/WindowUtil.h"

#include <windows.h>

namespace varnek::win32 {

bool IsSelfTestCommandLine(std::wstring_view commandLine) {
    constexpr std::wstring_view Blanks = L" \t";
    const std::size_t first = commandLine.find_first_not_of(Blanks);
    if (first == std::wstring_view::npos) {
        return false;
    }
    const std::wstring_view word =
        commandLine.substr(first, commandLine.find_last_not_of(Blanks) - first + 1);
    constexpr std::wstring_view SelfTest = L"/selftest";
    return CompareStringOrdinal(word.data(), static_cast<int>(word.size()), SelfTest.data(),
                                static_cast<int>(SelfTest.size()), TRUE) == CSTR_EQUAL;
}

namespace {

int SelfTest() {
    for (const WindowClass* windowClass :
         {&MainWindowView::Class, &MainWindowView::PictureClass, &LogoClass, &SettingsClass}) {
        if (!RegisterWindowClass(*windowClass)) {
            return SelfTestNoWindowClass;
        }
    }
    // The program's objects as a start makes them; none of them does anything before it is
    // asked: the main window below is made without its load step (no setting read, no icon
    // added), and goes before its timer's first tick.
    ProgramServices services;
    if (!services.tasks.Ready()) {
        return SelfTestNoWindowClass;
    }
    Application app(services.Record());
    const VarnekIT main(app);
    const auto window = reinterpret_cast<HWND>(main.hWnd());
    if (!window || !FindWindowExW(window, nullptr, MainWindowView::PictureClass.name, nullptr)) {
        return SelfTestNoMainWindow;
    }
    if (!SendMessageW(window, WM_GETICON, ICON_SMALL, 0) ||
        !SendMessageW(window, WM_GETICON, ICON_BIG, 0)) {
        return SelfTestNoIcon;
    }
    const int dpi = static_cast<int>(WindowDpi(window));
    if (!LoadLauncherPicture(MulDiv(LogoForm::PictureWidth, dpi, 96),
                             MulDiv(LogoForm::PictureHeight, dpi, 96))) {
        return SelfTestNoPicture;
    }
    return SelfTestPass;
}

} // namespace

int RunSelfTest() {
    return Barrier("the self-test", &SelfTest, [] { return int{SelfTestError}; });
}

} // namespace varnek::win32
