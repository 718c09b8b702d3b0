// The texts of the support server's version files, and version numbers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

// The bytes of a file as text, one character per byte (Latin-1), in UTF-8.
std::string AnsiToUtf8(const std::vector<std::uint8_t>& bytes);

// The text without the blanks and line breaks around it.
std::string_view TrimBlanks(std::string_view text);

// Major, minor, build, revision; parts a text leaves out are 0.
using VersionNumber = std::array<std::int32_t, 4>;

// A version as dotted decimal numbers: 1 to 4 parts, each of digits only (at most 9); nothing
// else, not even blanks. Absent for any other text.
std::optional<VersionNumber> ParseVersion(std::string_view text);

// The running program's version (its first three numbers; the fourth is always 0).
VersionNumber RunningVersion();
std::string RunningVersionText();

} // namespace varnek
