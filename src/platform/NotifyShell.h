// The shell's notification area, as the tray icon object talks to it.
#pragma once

#include "platform/Handles.h"

#include <cstdint>
#include <string>

namespace varnek {

// The shell's notification calls and the record's field flags, with the shell's numbers (the
// Win32 side checks them against its own names).
enum class NotifyMessage : std::uint32_t { Add = 0, Modify = 1, Delete = 2 };
namespace notify_flag {
inline constexpr std::uint32_t Message = 1; // uCallbackMessage is set
inline constexpr std::uint32_t Icon = 2;    // hIcon is set
inline constexpr std::uint32_t Tip = 4;     // szTip is set
inline constexpr std::uint32_t Info = 0x10; // the balloon fields are set
} // namespace notify_flag

// The fields of the shell's notification record (ANSI layout with the balloon fields). The
// texts are held as UTF-16 and are already cut to their field's width; the Win32 side
// converts them to the ANSI code page when it hands the record to the shell.
struct NotifyIconRecord {
    static constexpr std::uint32_t V2Size = 488; // NOTIFYICONDATAA_V2_SIZE on 32-bit Windows
    static constexpr std::size_t TipWidth = 128;
    static constexpr std::size_t InfoWidth = 256;
    static constexpr std::size_t InfoTitleWidth = 64;

    std::uint32_t cbSize = 0;
    WindowHandle hWnd = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    IconHandle hIcon = 0;
    std::u16string szTip;
    std::uint32_t dwState = 0;
    std::uint32_t dwStateMask = 0;
    std::u16string szInfo;
    std::uint32_t uTimeout = 0;
    std::u16string szInfoTitle;
    std::uint32_t dwInfoFlags = 0;

    bool operator==(const NotifyIconRecord&) const = default;
};

class INotifyShell {
public:
    virtual ~INotifyShell() = default;
    // Shell_NotifyIcon: true when the shell accepted the call.
    virtual bool NotifyIcon(NotifyMessage message, const NotifyIconRecord& record) = 0;
};

// What the tray object needs of a window: its handle and its icon.
class ITrayWindow {
public:
    virtual ~ITrayWindow() = default;
    virtual WindowHandle hWnd() const = 0;
    virtual IconHandle Icon() const = 0;
};

// A picture box whose drawn image can become a bitmap.
class IPictureBox {
public:
    virtual ~IPictureBox() = default;
    // Switches persistent drawing on and makes the drawn image the box's picture; returns the
    // picture's bitmap, which stays owned by the box.
    virtual BitmapHandle MakeDrawnImageThePicture() = 0;
};

// The GDI work behind drawing a tray icon from a picture.
class IIconMaker {
public:
    virtual ~IIconMaker() = default;
    virtual IconHandle CreateIconFromBitmap(BitmapHandle bitmap) = 0;
    virtual IconHandle CreateMaskedIcon(BitmapHandle bitmap, std::int32_t transparentColour) = 0;
    virtual void DestroyIcon(IconHandle icon) = 0;
};

} // namespace varnek
