// Conversions between the core's UTF-8 texts and UTF-16 code units, the form of a line of the
// update log, and the small text helpers the core writes its lines and scripts with.
#pragma once

#include "platform/Files.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace varnek {

// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// A line of the update log: the local time `at` as "yyyy-mm-dd hh:mm:ss", a blank, the text.
std::string LogLine(const DateTime& at, std::string_view text);

// The text between two double quotes.
std::string Quoted(std::string_view text);
// Control characters as \xNN: what a server or a certificate says never makes a line of its
// own in the log, nor a field of its own in a file of tab-separated lines.
std::string Escaped(std::string_view text);
// The uppercase hexadecimal digit of the low four bits.
char HexDigit(unsigned value);
// A number in decimal, with zeros in front up to `width` characters (printf's "%0*d").
std::string Decimal(long long value, int width = 0);
// A number in hexadecimal, with zeros in front up to `width` digits: uppercase as printf's
// "%0*X", or lowercase as "%0*x".
std::string Hexadecimal(std::uint32_t value, int width = 0, bool uppercase = true);
// A code as "0x" and eight uppercase hexadecimal digits (0x800B0100).
std::string CodeText(std::uint32_t code);

} // namespace varnek
