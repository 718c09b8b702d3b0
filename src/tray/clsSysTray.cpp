#include "tray/clsSysTray.h"

#include "platform/Text.h"

#include <cmath>

namespace varnek {

std::u16string CutToField(std::string_view text, std::size_t width) {
    std::u16string wide = Utf8ToUtf16(text);
    if (wide.size() > width - 1) {
        wide.resize(width - 1);
        // Never leave half of a surrogate pair at the end.
        if (!wide.empty() && wide.back() >= 0xD800 && wide.back() < 0xDC00) {
            wide.pop_back();
        }
    }
    return wide;
}

clsSysTray::clsSysTray(INotifyShell& shell, IIconMaker& iconMaker, clsSysTrayEvents& events)
    : shell_(shell), iconMaker_(iconMaker), events_(events) {}

clsSysTray::~clsSysTray() {
    if (added_) {
        shell_.NotifyIcon(NotifyMessage::Delete, nid_);
    }
}

void clsSysTray::DrawIcon(IPictureBox& ppic, std::int32_t plngTransparentColor) {
    const BitmapHandle picture = ppic.MakeDrawnImageThePicture();
    const IconHandle icon = plngTransparentColor < 0
                                ? iconMaker_.CreateIconFromBitmap(picture)
                                : iconMaker_.CreateMaskedIcon(picture, plngTransparentColor);
    nid_.hIcon = icon;
    if (icon != 0) {
        RefreshIcon();
        iconMaker_.DestroyIcon(icon); // the shell keeps its own copy
    }
}

void clsSysTray::Init(const ITrayWindow& pfrm, std::string_view pstrTooltip) {
    nid_ = NotifyIconRecord{};
    nid_.cbSize = NotifyIconRecord::V2Size;
    nid_.hWnd = pfrm.hWnd();
    nid_.hIcon = pfrm.Icon();
    nid_.uID = IconId;
    nid_.uFlags = notify_flag::Message;
    nid_.uCallbackMessage = CallbackMessage;
    shown_ = shell_.NotifyIcon(NotifyMessage::Add, nid_);
    // Whatever the shell answered, the object owns the icon from now on: removing it is always
    // attempted, and a refused add is repeated by the owner.
    added_ = true;
    SetIcon(pfrm);
    TooltipText(pstrTooltip);
    if (!shown_) {
        events_.SysTray_AddRefused();
    }
}

bool clsSysTray::AddAgain() {
    if (nid_.cbSize == 0) {
        return false; // Init has not run
    }
    nid_.uFlags = notify_flag::Message;
    shown_ = shell_.NotifyIcon(NotifyMessage::Add, nid_);
    if (!shown_) {
        // The shell waits only a few seconds for a busy Explorer and may report an add as
        // failed that went through all the same: then the icon is there and a change finds it.
        shown_ = shell_.NotifyIcon(NotifyMessage::Modify, nid_);
    }
    RefreshIcon();
    nid_.uFlags = notify_flag::Tip;
    shell_.NotifyIcon(NotifyMessage::Modify, nid_);
    return shown_;
}

void clsSysTray::MouseMove(int /*Button*/, std::int32_t x, const ITrayWindow* /*pfrm*/) {
    switch (x) {
    case 0x202: // WM_LBUTTONUP
        events_.SysTray_LeftClick();
        break;
    case 0x203: // WM_LBUTTONDBLCLK
        events_.SysTray_DoubleClick();
        break;
    case 0x205: // WM_RBUTTONUP
        events_.SysTray_RightClick();
        break;
    case 0x403: // NIN_BALLOONHIDE
        events_.SysTray_BalloonHide();
        break;
    case 0x404: // NIN_BALLOONTIMEOUT
        events_.SysTray_BalloonTimeOut();
        break;
    case 0x405: // NIN_BALLOONUSERCLICK
        events_.SysTray_BalloonClicked();
        break;
    default:
        break;
    }
}

void clsSysTray::SetIcon(const ITrayWindow& pfrm) {
    nid_.hIcon = pfrm.Icon();
    RefreshIcon();
}

void clsSysTray::ShowBalloonTip(std::string_view pstrMessage, std::int32_t penIcon,
                                std::string_view pstrTitle, double plngTimeout) {
    nid_.szInfo = CutToField(pstrMessage, NotifyIconRecord::InfoWidth);
    nid_.dwInfoFlags = static_cast<std::uint32_t>(penIcon);
    nid_.szInfoTitle = CutToField(pstrTitle, NotifyIconRecord::InfoTitleWidth);
    // A numeric time-out of any kind converts to a 32-bit integer, rounding half to even.
    nid_.uTimeout =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(std::nearbyint(plngTimeout)));
    nid_.uFlags = notify_flag::Info;
    shell_.NotifyIcon(NotifyMessage::Modify, nid_);
}

void clsSysTray::TooltipText(std::string_view text) {
    tooltip_ = std::string(text);
    nid_.szTip = CutToField(text, NotifyIconRecord::TipWidth);
    nid_.uFlags = notify_flag::Tip;
    shell_.NotifyIcon(NotifyMessage::Modify, nid_);
}

void clsSysTray::RefreshIcon() {
    nid_.uFlags = notify_flag::Icon;
    shell_.NotifyIcon(NotifyMessage::Modify, nid_);
}

} // namespace varnek
