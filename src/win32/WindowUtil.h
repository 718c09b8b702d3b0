// Small helpers shared by the program's visible windows: DPI, client size, centring.
#pragma once

#include <windows.h>

namespace varnek::win32 {

// The window's DPI (GetDpiForWindow where the system has it, else the screen's).
UINT WindowDpi(HWND hwnd);
// Sizes the window so that its client area is width x height pixels; the frame's size is
// measured rather than computed, so it holds whatever the frame metrics at this DPI are.
void SetClientSize(HWND hwnd, int width, int height);
void CentreOnScreen(HWND hwnd);

} // namespace varnek::win32
