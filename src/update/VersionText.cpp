#include "update/VersionText.h"

#include "Config.h"

namespace varnek {

std::string AnsiToUtf8(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::uint8_t byte : bytes) {
        if (byte < 0x80) {
            text.push_back(static_cast<char>(byte));
        } else {
            text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

std::string_view TrimBlanks(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::optional<VersionNumber> ParseVersion(std::string_view text) {
    constexpr std::size_t MaxDigits = 9; // fits in 32 bits
    VersionNumber version{};
    std::size_t part = 0;
    std::size_t digits = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0 || ++part == version.size()) {
                return std::nullopt;
            }
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            if (++digits > MaxDigits) {
                return std::nullopt;
            }
            version[part] = version[part] * 10 + (c - '0');
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt; // empty, or ends in a dot
    }
    return version;
}

VersionNumber RunningVersion() {
    return {VersionMajor, VersionMinor, VersionRevision, 0};
}

std::string RunningVersionText() {
    return std::to_string(VersionMajor) + "." + std::to_string(VersionMinor) + "." +
           std::to_string(VersionRevision);
}

} // namespace varnek
