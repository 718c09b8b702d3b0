// Conversions between the core's UTF-8 texts and UTF-16 code units, and the form of a line of
// the update log.
#pragma once

#include "platform/FileStore.h"

#include <string>
#include <string_view>

namespace varnek {

// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// A line of the update log: the local time `at` as "yyyy-mm-dd hh:mm:ss", a blank, the text.
std::string LogLine(const DateTime& at, std::string_view text);

} // namespace varnek
