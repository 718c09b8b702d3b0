// Tray icons drawn from a picture with GDI: the mask that makes a colour transparent, and the
// plain icon that keeps every pixel. The program's own icon: a frame for every size the system
// asks for, and the tray's icon at the size of the window's DPI.
#include "app/Application.h"
#include "app/VarnekIT.h"
#include "fakes/Fakes.h"
#include "resource.h"
#include "win32/GdiIconMaker.h"
#include "win32/ViewFactory.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace varnek;
using namespace varnek::win32;

namespace {

constexpr COLORREF Green = RGB(0, 255, 0);

// The pixels of a bitmap as 32-bit 0x00RRGGBB values, top row first.
std::vector<std::uint32_t> Pixels(HBITMAP bitmap, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width * height));
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    for (auto& pixel : pixels) {
        pixel &= 0xFFFFFF;
    }
    return pixels;
}

// A picture of the given size: pure green on a diagonal band and in the bottom-right corner
// outside the top-left 32 x 32, other colours elsewhere.
HBITMAP MakePicture(int width, int height) {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool green = (x >= 32 || y >= 32) ? (x + y) % 5 == 0 : (x + y) % 3 == 0;
            SetPixel(dc, x, y, green ? Green : RGB(200, (x * 7) % 256, (y * 5) % 200));
        }
    }
    SelectObject(dc, previous);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

bool IsGreen(std::uint32_t pixel) {
    return pixel == 0x00FF00;
}

} // namespace

TEST(IconMakerTest, AMaskedIconMakesEveryPureGreenPixelTransparentAndBlack) {
    HBITMAP picture = MakePicture(32, 32);
    const auto before = Pixels(picture, 32, 32);
    GdiIconMaker maker;
    const auto icon = reinterpret_cast<HICON>(maker.CreateMaskedIcon(
        reinterpret_cast<BitmapHandle>(picture), static_cast<std::int32_t>(Green)));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    EXPECT_TRUE(info.fIcon);
    const auto mask = Pixels(info.hbmMask, 32, 32);
    const auto colour = Pixels(info.hbmColor, 32, 32);
    const auto after = Pixels(picture, 32, 32);
    int transparent = 0;
    for (int i = 0; i < 32 * 32; ++i) {
        if (IsGreen(before[i])) {
            ++transparent;
            EXPECT_EQ(mask[i], 0xFFFFFFu) << i;
            EXPECT_EQ(colour[i], 0u) << i;
            EXPECT_EQ(after[i], 0u) << i; // the picture's own bitmap is blackened too
        } else {
            EXPECT_EQ(mask[i], 0u) << i;
            EXPECT_EQ(colour[i], before[i]) << i;
        }
    }
    EXPECT_GT(transparent, 300);
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
    maker.DestroyIcon(reinterpret_cast<IconHandle>(icon));
    DeleteObject(picture);
}

TEST(IconMakerTest, TheMaskCoversOnlyTheTopLeft32Pixels) {
    HBITMAP picture = MakePicture(48, 40);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, picture);
    HBITMAP mask = CreateMaskBitmap(dc, Green);
    SelectObject(dc, previous);
    DeleteDC(dc);
    ASSERT_NE(mask, nullptr);
    BITMAP description{};
    GetObjectW(mask, sizeof description, &description);
    EXPECT_EQ(description.bmWidth, 32);
    EXPECT_EQ(description.bmHeight, 32);
    EXPECT_EQ(description.bmBitsPixel, 1);
    const auto source = Pixels(picture, 48, 40);
    const auto bits = Pixels(mask, 32, 32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            EXPECT_EQ(bits[y * 32 + x] != 0, IsGreen(source[y * 48 + x])) << x << "," << y;
        }
    }
    DeleteObject(mask);
    DeleteObject(picture);
}

TEST(IconMakerTest, APlainIconKeepsEveryPixelAndTheBitmapsSize) {
    HBITMAP picture = MakePicture(48, 40);
    const auto before = Pixels(picture, 48, 40);
    GdiIconMaker maker;
    const auto icon = reinterpret_cast<HICON>(
        maker.CreateIconFromBitmap(reinterpret_cast<BitmapHandle>(picture)));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP description{};
    GetObjectW(info.hbmColor, sizeof description, &description);
    EXPECT_EQ(description.bmWidth, 48);
    EXPECT_EQ(description.bmHeight, 40);
    for (std::uint32_t bit : Pixels(info.hbmMask, 48, 40)) {
        ASSERT_EQ(bit, 0u); // nothing transparent
    }
    EXPECT_EQ(Pixels(info.hbmColor, 48, 40), before);
    EXPECT_EQ(Pixels(picture, 48, 40), before);
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
    maker.DestroyIcon(reinterpret_cast<IconHandle>(icon));
    DeleteObject(picture);

    // Something that is no bitmap gives no icon.
    EXPECT_EQ(maker.CreateIconFromBitmap(0), 0u);
}

namespace {

// The width of the frame that the system takes from the program's icon for a size.
int FrameWidthFor(int size) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(IDI_VARNEKIT), RT_GROUP_ICON);
    auto* directory =
        group ? static_cast<BYTE*>(LockResource(LoadResource(module, group))) : nullptr;
    if (!directory) {
        return 0;
    }
    const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
    const HRSRC frame = FindResourceW(module, MAKEINTRESOURCEW(id), RT_ICON);
    const auto* bytes =
        frame ? static_cast<const BYTE*>(LockResource(LoadResource(module, frame))) : nullptr;
    if (!bytes) {
        return 0;
    }
    if (std::memcmp(bytes, "\x89PNG", 4) == 0) { // a frame stored as PNG: IHDR holds the width
        return (bytes[16] << 24) | (bytes[17] << 16) | (bytes[18] << 8) | bytes[19];
    }
    return reinterpret_cast<const BITMAPINFOHEADER*>(bytes)->biWidth;
}

int IconWidth(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) {
        return 0;
    }
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

int SmallIconSize(UINT dpi) {
    using Fn = int(WINAPI*)(int, UINT);
    const auto forDpi = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
    return forDpi ? forDpi(SM_CXSMICON, dpi) : GetSystemMetrics(SM_CXSMICON);
}

} // namespace

TEST(ProgramIconTest, HasAFrameForEverySizeUpTo250PercentAndTheLargestView) {
    for (const int size : {16, 20, 24, 32, 40, 48, 256}) {
        EXPECT_EQ(FrameWidthFor(size), size) << "a frame of " << size << " pixels";
    }
}

TEST(ProgramIconTest, TheTrayIconFollowsTheWindowsDpi) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    fakes::FakePlatform fake;
    ViewFactory views;
    {
        Application app(fake.ServicesWith(views));
        VarnekIT& main = app.LoadMainWindow();
        const HWND window = reinterpret_cast<HWND>(main.hWnd());
        ASSERT_NE(window, nullptr);
        for (const UINT dpi : {144u, 192u, 120u, 96u}) {
            fake.notifyShell.calls.clear();
            RECT suggested{0, 0, 320, 240};
            SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                         reinterpret_cast<LPARAM>(&suggested));
            ASSERT_EQ(fake.notifyShell.calls.size(), 1u) << dpi;
            const auto& call = fake.notifyShell.calls[0];
            EXPECT_EQ(call.message, NotifyMessage::Modify);
            EXPECT_EQ(call.record.uFlags, notify_flag::Icon);
            const auto icon = reinterpret_cast<HICON>(call.record.hIcon);
            EXPECT_EQ(IconWidth(icon), SmallIconSize(dpi)) << dpi;
            EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0)),
                      icon);
        }
    }
    CoUninitialize();
}
