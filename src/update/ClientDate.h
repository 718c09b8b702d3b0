// The release date of the remote-control client, as the support server writes it and as the
// settings window shows it. The text is read by fixed rules, never by the machine's regional
// settings: day first (d/m/yyyy, d-m-yyyy, d.m.yyyy) or yyyy-mm-dd, optionally followed by a
// blank and a time (h:mm or h:mm:ss), which is ignored.
#pragma once

#include "platform/Files.h"

#include <optional>
#include <string>
#include <string_view>

namespace varnek {

// The date at 00:00; absent when the text (blanks and line breaks around it aside) is no
// valid date in one of the forms.
std::optional<DateTime> ParseClientDate(std::string_view text);

// d/m/yyyy without leading zeros, e.g. 7/12/2026.
std::string FormatClientDate(const DateTime& date);

// The calendar day after that of `when`, at 00:00.
DateTime NextDay(const DateTime& when);

// The same calendar day, time aside.
inline DateTime DayOf(const DateTime& when) {
    return {when.year, when.month, when.day, 0, 0, 0};
}

} // namespace varnek
