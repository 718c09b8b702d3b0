// The program's one icon in the notification area: its record, its tooltip and balloon, and
// the decoding of the shell's callbacks into six events.
#pragma once

#include "platform/NotifyShell.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace varnek {

// Receiver of the tray icon's events, raised synchronously from clsSysTray::MouseMove.
class clsSysTrayEvents {
public:
    virtual ~clsSysTrayEvents() = default;
    virtual void SysTray_LeftClick() {}
    virtual void SysTray_RightClick() {}
    virtual void SysTray_DoubleClick() {}
    virtual void SysTray_BalloonHide() {}
    virtual void SysTray_BalloonTimeOut() {}
    virtual void SysTray_BalloonClicked() {}
    // The shell refused the first add (at logon Explorer can be too busy to take it, and no
    // TaskbarCreated follows then): the owner decides when to try again with AddAgain.
    virtual void SysTray_AddRefused() {}
};

class clsSysTray {
public:
    static constexpr std::uint32_t IconId = 1;
    static constexpr std::uint32_t CallbackMessage = 0x200; // WM_MOUSEMOVE

    clsSysTray(INotifyShell& shell, IIconMaker& iconMaker, clsSysTrayEvents& events);
    // Removes the icon.
    ~clsSysTray();
    clsSysTray(const clsSysTray&) = delete;
    clsSysTray& operator=(const clsSysTray&) = delete;

    // Makes an icon from what was drawn in the picture box and shows it; a negative colour
    // means no transparent colour.
    void DrawIcon(IPictureBox& ppic, std::int32_t plngTransparentColor);
    // Adds the icon for the window, with its icon and the tooltip, in three shell calls.
    void Init(const ITrayWindow& pfrm, std::string_view pstrTooltip);
    // Decodes a callback notification code into at most one event.
    void MouseMove(int Button, std::int32_t x, const ITrayWindow* pfrm);
    void SetIcon(const ITrayWindow& pfrm);
    void ShowBalloonTip(std::string_view pstrMessage, std::int32_t penIcon,
                        std::string_view pstrTitle, double plngTimeout);
    const std::string& TooltipText() const { return tooltip_; }
    void TooltipText(std::string_view text);

    // Registers the icon again from the record as it stands, after the shell lost it (the
    // taskbar was re-created) or refused it (the taskbar was not up yet at start). True when
    // the shell took the add.
    bool AddAgain();
    // Whether the shell took the last add.
    bool Shown() const { return shown_; }

    const NotifyIconRecord& Record() const { return nid_; }

private:
    void RefreshIcon();

    INotifyShell& shell_;
    IIconMaker& iconMaker_;
    clsSysTrayEvents& events_;
    NotifyIconRecord nid_;
    std::string tooltip_;
    bool added_ = false;
    bool shown_ = false;
};

// A text cut to a fixed-width field of the record: the field keeps its terminator, so at most
// width - 1 UTF-16 code units remain.
std::u16string CutToField(std::string_view text, std::size_t width);

} // namespace varnek
