// Local date and time.
#pragma once

#include <compare>

namespace varnek {

// A local date and time.
struct DateTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
    auto operator<=>(const DateTime&) const = default;
};

// May be called from any thread.
class IClock {
public:
    virtual ~IClock() = default;
    // Local time now.
    virtual DateTime Now() = 0;
};

} // namespace varnek
