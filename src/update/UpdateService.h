// Helpers of the update chain in the settings window.
#pragma once

#include <cstdint>
#include <string>

namespace varnek {

// "N%": the share of `cur` in `max`, rounded half to even, computed without overflow for any
// sizes a read reports ("0%" when `max` is not positive).
std::string PercentText(std::int64_t cur, std::int64_t max);

} // namespace varnek
