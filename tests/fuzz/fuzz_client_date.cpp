// The client's release date as the support server writes it: ParseClientDate never crashes,
// accepts only real calendar days, and what FormatClientDate writes reads back as the same day.
#include "Check.h"
#include "update/ClientDate.h"
#include "update/VersionText.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace varnek;

namespace {

bool IsRealDay(const DateTime& d) {
    if (d.year < 1000 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) {
        return false;
    }
    const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
    const int lengths[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return d.day <= lengths[d.month - 1];
}

// What follows the date in an accepted text: nothing, or blanks and h:mm or h:mm:ss of a real
// time of day.
bool IsTimeOrNothing(std::string_view text) {
    const std::string_view trimmed = TrimBlanks(text);
    const std::size_t blank = trimmed.find_first_of(" \t");
    if (blank == std::string_view::npos) {
        return true;
    }
    const std::string_view time = trimmed.substr(trimmed.find_first_not_of(" \t", blank));
    int numbers[3] = {-1, -1, -1};
    std::size_t count = 0, digits = 0;
    for (const char c : time) {
        if (c == ':' && digits > 0 && count < 2) {
            ++count;
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 2) {
            numbers[count] = (numbers[count] < 0 ? 0 : numbers[count] * 10) + (c - '0');
            ++digits;
        } else {
            return false;
        }
    }
    return count >= 1 && digits == 2 && numbers[0] <= 23 && numbers[1] <= 59 && numbers[2] <= 59;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first bytes as a day, month and year: a real day is read in every form, any other
    // is read in none.
    if (size >= 4) {
        const DateTime wanted{
            1000 + (data[0] | data[1] << 8) % 9000, data[2] % 14, data[3] % 33, 0, 0, 0};
        const std::string d = std::to_string(wanted.day), m = std::to_string(wanted.month),
                          y = std::to_string(wanted.year);
        const std::string dd = (wanted.day < 10 ? "0" : "") + d;
        const std::string mm = (wanted.month < 10 ? "0" : "") + m;
        const std::optional<DateTime> expected =
            IsRealDay(wanted) ? std::optional(wanted) : std::nullopt;
        for (const std::string& form :
             {d + "/" + m + "/" + y, dd + "-" + mm + "-" + y, d + "." + mm + "." + y,
              y + "-" + mm + "-" + dd, y + "-" + m + "-" + d, d + "/" + m + "/" + y + " 0:00"}) {
            FUZZ_CHECK(ParseClientDate(form) == expected);
        }
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto date = ParseClientDate(text);
    if (!date) {
        return 0;
    }
    FUZZ_CHECK(IsRealDay(*date));
    FUZZ_CHECK(IsTimeOrNothing(text));
    FUZZ_CHECK(date->hour == 0 && date->minute == 0 && date->second == 0);
    FUZZ_CHECK(DayOf(*date) == *date);
    // Every accepted text holds the year's four digits.
    FUZZ_CHECK(text.find(std::to_string(date->year)) != std::string_view::npos);

    const std::string written = FormatClientDate(*date);
    FUZZ_CHECK(written == std::to_string(date->day) + "/" + std::to_string(date->month) + "/" +
                              std::to_string(date->year));
    FUZZ_CHECK(ParseClientDate(written) == date);
    // The other forms of the same day read back as well.
    for (const char separator : {'-', '.'}) {
        std::string other = written;
        for (char& c : other) {
            if (c == '/') {
                c = separator;
            }
        }
        FUZZ_CHECK(ParseClientDate(other) == date);
    }
    FUZZ_CHECK(ParseClientDate(" " + written + " 23:59:59\r\n") == date);
    return 0;
}
