// The version files' texts: ParseVersion never crashes, accepts exactly the dotted numbers
// (1 to 4 parts of 1 to 9 digits), and the comparison the update check uses is an order.
#include "Check.h"
#include "update/VersionText.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace varnek;

namespace {

// As the update check compares: lexicographically, part by part.
int Compare(const VersionNumber& a, const VersionNumber& b) {
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end())) {
        return -1;
    }
    return std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end()) ? 1 : 0;
}

// The dotted numbers read the plain way, for comparison with ParseVersion.
std::optional<VersionNumber> Reference(std::string_view text) {
    VersionNumber version{};
    std::size_t part = 0;
    std::string digits;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (digits.empty() || digits.size() > 9 || part == version.size()) {
                return std::nullopt;
            }
            version[part++] = static_cast<std::int32_t>(std::stol(digits));
            digits.clear();
        } else if (text[i] >= '0' && text[i] <= '9') {
            digits += text[i];
        } else {
            return std::nullopt;
        }
    }
    return version;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const std::string_view trimmed = TrimBlanks(input);
    FUZZ_CHECK(TrimBlanks(trimmed) == trimmed);
    FUZZ_CHECK(input.find(trimmed) != std::string_view::npos);
    if (!trimmed.empty()) {
        FUZZ_CHECK(std::string_view(" \t\r\n").find(trimmed.front()) == std::string_view::npos);
        FUZZ_CHECK(std::string_view(" \t\r\n").find(trimmed.back()) == std::string_view::npos);
    }

    // The input split in two: two versions to compare.
    const std::size_t half = size > 0 ? data[0] % (size + 1) : 0;
    const std::string_view texts[] = {input, input.substr(0, half), input.substr(half)};
    std::optional<VersionNumber> parsed[3];
    for (int i = 0; i < 3; ++i) {
        parsed[i] = ParseVersion(texts[i]);
        const auto expected = Reference(texts[i]);
        FUZZ_CHECK(parsed[i].has_value() == expected.has_value());
        if (!parsed[i]) {
            continue;
        }
        FUZZ_CHECK(*parsed[i] == *expected);
        FUZZ_CHECK(texts[i].find_first_not_of("0123456789.") == std::string_view::npos);
        for (const std::int32_t part : *parsed[i]) {
            FUZZ_CHECK(part >= 0 && part <= 999999999);
        }
        FUZZ_CHECK(Compare(*parsed[i], *parsed[i]) == 0);
        FUZZ_CHECK(ParseVersion(TrimBlanks(texts[i])) == parsed[i]);
    }
    if (parsed[1] && parsed[2]) {
        const int ab = Compare(*parsed[1], *parsed[2]);
        FUZZ_CHECK(ab == -Compare(*parsed[2], *parsed[1]));
        FUZZ_CHECK((ab == 0) == (*parsed[1] == *parsed[2]));
        // Transitive with the running version in between.
        const VersionNumber running = RunningVersion();
        if (Compare(*parsed[1], running) <= 0 && Compare(running, *parsed[2]) <= 0) {
            FUZZ_CHECK(ab <= 0);
        }
    }
    return 0;
}
