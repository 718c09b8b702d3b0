// Conversions at the Win32 boundary: the core's UTF-8 to UTF-16 and back (the core's own
// conversion, platform/Text.h), and to ANSI.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace varnek::win32 {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
// The text in the system's ANSI code page.
std::string Ansi(std::wstring_view wide);

} // namespace varnek::win32
