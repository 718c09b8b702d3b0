#include "win32/GdiIconMaker.h"

#include "win32/UniqueHandle.h"

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
    const UniqueBitmap mask(
        CreateBitmap(description.bmWidth, description.bmHeight, 1, 1, zeros.data()));
    return reinterpret_cast<IconHandle>(MakeIcon(mask.get(), bitmap));
}

IconHandle GdiIconMaker::CreateMaskedIcon(BitmapHandle bitmapHandle,
                                          std::int32_t transparentColour) {
    const auto bitmap = reinterpret_cast<HBITMAP>(bitmapHandle);
    UniqueBitmap mask;
    {
        const UniqueMemoryDc colourDC(CreateCompatibleDC(nullptr));
        const UniqueMemoryDc maskDC(CreateCompatibleDC(nullptr));
        const Selected colour(colourDC.get(), bitmap);
        if (colour.ok()) {
            mask.reset(CreateMaskBitmap(colourDC.get(), static_cast<COLORREF>(transparentColour)));
            const Selected maskSelected(maskDC.get(), mask.get());
            if (mask && maskSelected.ok()) {
                // Mono to colour: mask bit 1 gives the background (black), bit 0 the text
                // colour (white), so transparent pixels turn black and the others keep their
                // colour.
                SetTextColor(colourDC.get(), RGB(255, 255, 255));
                SetBkColor(colourDC.get(), RGB(0, 0, 0));
                BitBlt(colourDC.get(), 0, 0, MaskSize, MaskSize, maskDC.get(), 0, 0, SRCAND);
            }
        }
    } // the bitmaps leave their DCs before they become the icon's
    return reinterpret_cast<IconHandle>(MakeIcon(mask.get(), bitmap));
}

void GdiIconMaker::DestroyIcon(IconHandle icon) {
    ::DestroyIcon(reinterpret_cast<HICON>(icon));
}

HBITMAP CreateMaskBitmap(HDC sourceDC, COLORREF colour) {
    const UniqueMemoryDc dc(CreateCompatibleDC(sourceDC));
    UniqueBitmap mono(dc ? CreateBitmap(MaskSize, MaskSize, 1, 1, nullptr) : nullptr);
    if (!mono) {
        return nullptr;
    }
    {
        const Selected selected(dc.get(), mono.get());
        if (!selected.ok()) {
            return nullptr;
        }
        const COLORREF oldBackground = SetBkColor(sourceDC, colour);
        // Colour to mono: pixels of the background colour become 1, all others 0.
        const BOOL copied = BitBlt(dc.get(), 0, 0, MaskSize, MaskSize, sourceDC, 0, 0, SRCCOPY);
        SetBkColor(sourceDC, oldBackground);
        if (!copied) {
            return nullptr;
        }
    }
    return mono.release();
}

} // namespace varnek::win32
