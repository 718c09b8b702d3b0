// Conversions between the core's UTF-8 texts and UTF-16 code units.
#pragma once

#include <string>
#include <string_view>

namespace varnek {

// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

} // namespace varnek
