// Tray icons drawn from a picture with GDI: the mask that makes a colour transparent, and the
// plain icon that keeps every pixel.
#include "win32/GdiIconMaker.h"

#include <gtest/gtest.h>

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
