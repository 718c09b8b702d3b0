// The script that replaces the program by the downloaded one, and the safety net that puts the
// old one back at the next logon should the script never finish.
//
// The old program is never deleted first. It is renamed aside (a running program's file may be
// renamed) and the new one renamed into its place right after; where the new one cannot take
// its place, the old one goes back at once, so the folder is without VarnekIT.exe only between
// two renames. The pair is tried again about once a second within a bound. The aside name is the
// update's own: an aside copy that another session still runs (it cannot be deleted then) never
// stands in the way. System programs are named by their full paths, so nothing of that name in
// the program folder, which its users can write, runs instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

// How often the pair of renames is tried, about a second apart, before the script gives up and
// starts the old program again: a minute.
inline constexpr int ReplacementTries = 60;
// How long the script waits for the old program to end (its file can be deleted then) before it
// starts the new one anyway (another session may still run the old one), in tries a second apart.
inline constexpr int AsideRemovalTries = 10;
// The longest a script runs: one older than this has ended (or was cut off) for certain.
inline constexpr std::int64_t ReplacementScriptLongestRunSeconds = 10 * 60;

// ASCII, every line ended by CR LF. `aside`: the name (in the program folder) the old program
// takes while the new one moves into its place.
std::vector<std::uint8_t> ReplacementScript(std::string_view aside, int tries = ReplacementTries,
                                            int asideTries = AsideRemovalTries);

// The command, for the user's RunOnce key, that at the next logon puts the aside copy back
// under the program's name if no VarnekIT.exe is there and starts it. `cmd`: the full path of
// the system's command processor; `folder`: the program folder.
std::string RestoreCommand(std::string_view cmd, std::string_view folder, std::string_view aside);

} // namespace varnek
