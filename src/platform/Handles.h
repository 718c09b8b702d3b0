// Opaque platform handles as the portable core sees them.
#pragma once

#include <cstdint>

namespace varnek {

using WindowHandle = std::uintptr_t; // a window (HWND)
using IconHandle = std::uintptr_t;   // an icon (HICON)
using BitmapHandle = std::uintptr_t; // a bitmap (HBITMAP)

} // namespace varnek
