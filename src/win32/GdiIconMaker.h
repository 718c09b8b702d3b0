// Builds tray icons from bitmaps with GDI.
#pragma once

#include "platform/NotifyShell.h"

#include <windows.h>

namespace varnek::win32 {

class GdiIconMaker final : public IIconMaker {
public:
    IconHandle CreateIconFromBitmap(BitmapHandle bitmap) override;
    IconHandle CreateMaskedIcon(BitmapHandle bitmap, std::int32_t transparentColour) override;
    void DestroyIcon(IconHandle icon) override;
};

// The monochrome mask of the top-left 32 x 32 pixels of the bitmap selected into `sourceDC`:
// 1 where a pixel has `colour`, 0 elsewhere. 0 when it cannot be made.
HBITMAP CreateMaskBitmap(HDC sourceDC, COLORREF colour);

} // namespace varnek::win32
