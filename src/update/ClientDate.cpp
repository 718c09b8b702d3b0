#include "update/ClientDate.h"

#include "update/VersionText.h"

namespace varnek {

namespace {

// Reads 1 to `maxDigits` digits (exactly `maxDigits` when `exact`) at `pos`.
std::optional<int> Number(std::string_view text, std::size_t& pos, std::size_t maxDigits,
                          bool exact = false) {
    std::size_t digits = 0;
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < maxDigits) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
        ++digits;
    }
    if (digits == 0 || (exact && digits != maxDigits) ||
        (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')) {
        return std::nullopt;
    }
    return value;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// What may follow the date: nothing, or blanks and a time of day.
bool IsTimeOrNothing(std::string_view rest) {
    if (rest.empty()) {
        return true;
    }
    std::size_t pos = rest.find_first_not_of(" \t");
    if (pos == 0 || pos == std::string_view::npos) {
        return false;
    }
    const auto hour = Number(rest, pos, 2);
    if (!hour || *hour > 23 || pos >= rest.size() || rest[pos] != ':') {
        return false;
    }
    ++pos;
    const auto minute = Number(rest, pos, 2, true);
    if (!minute || *minute > 59) {
        return false;
    }
    if (pos < rest.size() && rest[pos] == ':') {
        ++pos;
        const auto second = Number(rest, pos, 2, true);
        if (!second || *second > 59) {
            return false;
        }
    }
    return pos == rest.size();
}

} // namespace

std::optional<DateTime> ParseClientDate(std::string_view text) {
    text = TrimBlanks(text);
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0;
    const std::size_t lead = text.find_first_not_of("0123456789");
    if (lead == 4 && text[lead] == '-') {
        // yyyy-mm-dd
        const auto y = Number(text, pos, 4, true);
        ++pos;
        const auto m = Number(text, pos, 2);
        if (!y || !m || pos >= text.size() || text[pos] != '-') {
            return std::nullopt;
        }
        ++pos;
        const auto d = Number(text, pos, 2);
        if (!d) {
            return std::nullopt;
        }
        year = *y, month = *m, day = *d;
    } else {
        // d/m/yyyy, d-m-yyyy or d.m.yyyy: one separator in both places.
        const auto d = Number(text, pos, 2);
        if (!d || pos >= text.size()) {
            return std::nullopt;
        }
        const char separator = text[pos];
        if (separator != '/' && separator != '-' && separator != '.') {
            return std::nullopt;
        }
        ++pos;
        const auto m = Number(text, pos, 2);
        if (!m || pos >= text.size() || text[pos] != separator) {
            return std::nullopt;
        }
        ++pos;
        const auto y = Number(text, pos, 4, true);
        if (!y) {
            return std::nullopt;
        }
        year = *y, month = *m, day = *d;
    }
    if (year < 1000 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        !IsTimeOrNothing(text.substr(pos))) {
        return std::nullopt;
    }
    return DateTime{year, month, day, 0, 0, 0};
}

DateTime NextDay(const DateTime& when) {
    DateTime next{when.year, when.month, when.day + 1, 0, 0, 0};
    if (next.day > DaysInMonth(next.year, next.month)) {
        next.day = 1;
        if (++next.month > 12) {
            next.month = 1;
            ++next.year;
        }
    }
    return next;
}

std::string FormatClientDate(const DateTime& date) {
    return std::to_string(date.day) + "/" + std::to_string(date.month) + "/" +
           std::to_string(date.year);
}

} // namespace varnek
