#include "win32/Text.h"

#include "platform/Text.h"

namespace varnek::win32 {

// The core's conversion, at the width of the Win32 W functions' texts: the same replacement of
// what is not valid on both sides of the boundary.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 texts are UTF-16");

std::wstring Wide(std::string_view utf8) {
    const std::u16string text = Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string Utf8(std::wstring_view wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::string Ansi(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), length,
                        nullptr, nullptr);
    return ansi;
}

} // namespace varnek::win32
