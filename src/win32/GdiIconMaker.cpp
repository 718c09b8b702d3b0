#include "win32/GdiIconMaker.h"

#include <vector>

namespace varnek::win32 {

namespace {

constexpr int MaskSize = 32;

HICON MakeIcon(HBITMAP mask, HBITMAP colour) {
    ICONINFO info{};
    info.fIcon = TRUE;
    info.xHotspot = 0;
    info.yHotspot = 0;
    info.hbmMask = mask;
    info.hbmColor = colour;
    return CreateIconIndirect(&info);
}

} // namespace

IconHandle GdiIconMaker::CreateIconFromBitmap(BitmapHandle bitmapHandle) {
    const auto bitmap = reinterpret_cast<HBITMAP>(bitmapHandle);
    BITMAP description{};
    if (GetObjectA(bitmap, sizeof description, &description) == 0) {
        return 0;
    }
    // An empty mask, so that no pixel is transparent: a zeroed monochrome bitmap (a bitmap
    // asked for with no planes and no bits is refused by some systems, and one made without
    // bits has undefined content).
    const int stride = (description.bmWidth + 15) / 16 * 2; // rows are WORD-aligned
    const std::vector<BYTE> zeros(static_cast<std::size_t>(stride) * description.bmHeight, 0);
    HBITMAP mask = CreateBitmap(description.bmWidth, description.bmHeight, 1, 1, zeros.data());
    HICON icon = MakeIcon(mask, bitmap);
    DeleteObject(mask);
    return reinterpret_cast<IconHandle>(icon);
}

IconHandle GdiIconMaker::CreateMaskedIcon(BitmapHandle bitmapHandle,
                                          std::int32_t transparentColour) {
    const auto bitmap = reinterpret_cast<HBITMAP>(bitmapHandle);
    HDC colourDC = CreateCompatibleDC(nullptr);
    HDC maskDC = CreateCompatibleDC(nullptr);
    HBITMAP mask = nullptr;
    HGDIOBJ previousColour = SelectObject(colourDC, bitmap);
    if (previousColour != nullptr && previousColour != HGDI_ERROR) {
        mask = CreateMaskBitmap(colourDC, static_cast<COLORREF>(transparentColour));
        HGDIOBJ previousMask = SelectObject(maskDC, mask);
        if (mask != nullptr && previousMask != nullptr && previousMask != HGDI_ERROR) {
            // Mono to colour: mask bit 1 gives the background (black), bit 0 the text colour
            // (white), so transparent pixels turn black and the others keep their colour.
            SetTextColor(colourDC, RGB(255, 255, 255));
            SetBkColor(colourDC, RGB(0, 0, 0));
            BitBlt(colourDC, 0, 0, MaskSize, MaskSize, maskDC, 0, 0, SRCAND);
            SelectObject(maskDC, previousMask);
        }
        SelectObject(colourDC, previousColour);
    }
    DeleteDC(colourDC);
    DeleteDC(maskDC);
    HICON icon = MakeIcon(mask, bitmap);
    if (mask != nullptr) {
        DeleteObject(mask);
    }
    return reinterpret_cast<IconHandle>(icon);
}

void GdiIconMaker::DestroyIcon(IconHandle icon) {
    ::DestroyIcon(reinterpret_cast<HICON>(icon));
}

HBITMAP CreateMaskBitmap(HDC sourceDC, COLORREF colour) {
    HDC dc = CreateCompatibleDC(sourceDC);
    if (dc == nullptr) {
        return nullptr;
    }
    HBITMAP mono = CreateBitmap(MaskSize, MaskSize, 1, 1, nullptr);
    if (mono == nullptr) {
        DeleteDC(dc);
        return nullptr;
    }
    HGDIOBJ previous = SelectObject(dc, mono);
    if (previous == nullptr || previous == HGDI_ERROR) {
        DeleteObject(mono);
        DeleteDC(dc);
        return nullptr;
    }
    const COLORREF oldBackground = SetBkColor(sourceDC, colour);
    // Colour to mono: pixels of the background colour become 1, all others 0.
    const BOOL copied = BitBlt(dc, 0, 0, MaskSize, MaskSize, sourceDC, 0, 0, SRCCOPY);
    SetBkColor(sourceDC, oldBackground);
    SelectObject(dc, previous);
    DeleteDC(dc);
    if (!copied) {
        DeleteObject(mono);
        return nullptr;
    }
    return mono;
}

} // namespace varnek::win32
