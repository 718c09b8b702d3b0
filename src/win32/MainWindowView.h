// The hidden main window "Hard Drive": the tray icon's callback window, its picture box, the
// update timer and the tray popup menu.
#pragma once

#include "app/Views.h"
#include "platform/NotifyShell.h"
#include "win32/UniqueHandle.h"
#include "win32/Window.h"

#include <windows.h>

namespace varnek {
class VarnekIT;
}

namespace varnek::win32 {

class MainWindowView final : public IMainWindowView, public IPictureBox, private Window {
public:
    static constexpr const wchar_t* ClassName = L"VarnekIT";
    static constexpr WindowClass Class{ClassName, COLOR_BTNFACE, true};
    static constexpr WindowClass PictureClass{L"VarnekIT.Picture", COLOR_BTNFACE, false};
    static constexpr UINT_PTR UpdateTimerId = 1;
    static constexpr UINT_PTR TrayRetryTimerId = 2;

    explicit MainWindowView(VarnekIT& model);
    ~MainWindowView() override;
    MainWindowView(const MainWindowView&) = delete;
    MainWindowView& operator=(const MainWindowView&) = delete;

    WindowHandle hWnd() const override { return reinterpret_cast<WindowHandle>(hwnd_); }
    IconHandle Icon() const override { return reinterpret_cast<IconHandle>(smallIcon_.get()); }
    void Minimise() override;
    void DoEvents() override;
    void Hide() override;
    void SetUpdateTimerEnabled(bool enabled) override;
    void SetTrayRetryTimerEnabled(bool enabled) override;
    int PopupMenu(const MenuCaptions& captions) override;
    [[noreturn]] void EndProgram() override;

    // The picture box `pic`.
    BitmapHandle MakeDrawnImageThePicture() override;

private:
    // The picture box: a child window whose mouse moves count as the main window's.
    class PictureBox final : public Window {
    public:
        explicit PictureBox(MainWindowView& owner) : owner_(owner) {}
        bool Create(HWND parent);

    private:
        LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;
        MainWindowView& owner_;
    };

    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The window's and the tray's icons at the sizes the system asks for at `dpi`.
    void LoadIcons(UINT dpi);
    void SetTimerEnabled(UINT_PTR id, UINT interval, bool enabled);

    VarnekIT& model_;
    PictureBox pic_{*this};
    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;
    UniqueBitmap picture_;
    UINT taskbarCreated_ = 0;
    bool unloading_ = false;
};

} // namespace varnek::win32
