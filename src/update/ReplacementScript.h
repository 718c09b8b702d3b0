// The script that replaces the program by the downloaded one. The old program is never deleted
// first: it is moved aside once it has ended, the new one is renamed into its place, and
// whichever program ends up as VarnekIT.exe is started; the old one comes back under its name
// when the new one cannot take its place.
#pragma once

#include <cstdint>
#include <vector>

namespace varnek {

// How often each step is tried, about a second apart, before the script gives up: a minute.
inline constexpr int ReplacementTries = 60;

// ASCII, every line ended by CR LF.
std::vector<std::uint8_t> ReplacementScript(int tries = ReplacementTries);

} // namespace varnek
