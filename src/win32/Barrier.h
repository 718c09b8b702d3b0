// Where Windows calls the program (a window procedure, a thread's entry, a callback), nothing
// the program throws may pass: the shipped 32-bit build unwinds with DWARF-2 tables, which cannot
// cross Windows' own frames, so an exception there would end the tray program silently. Every
// such entry runs its work through Barrier, which catches everything, writes the first exception
// to the failure log (what and where) and answers as the entry's fallback says.
#pragma once

#include "platform/Signatures.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <type_traits>

namespace varnek::win32 {

// The log that failures met at the entries from Windows go to, for as long as this object
// lives: wWinMain makes one over the update log for the program's run. Without one they are
// lost (the self-test writes no log).
class FailureLog {
public:
    explicit FailureLog(ILogFile& log);
    ~FailureLog();
    FailureLog(const FailureLog&) = delete;
    FailureLog& operator=(const FailureLog&) = delete;
};

// Writes a line, stamped with the local time as the update log's lines are, to the failure log.
void LogFailure(std::string_view text) noexcept;
// A Win32 call whose failure changes what the user gets: "<call> failed for <what> (error N)".
void LogFailedCall(std::string_view call, std::string_view what, DWORD error) noexcept;
// In a handler of an exception: writes the exception and `where` to the failure log, if it is
// the first one since the log was set up (one fault often repeats with every message).
void LogException(std::string_view where) noexcept;

// Runs `body` and returns its result. Whatever it throws is logged with `where` (a text, or a
// function that makes it, called only then), and `fallback` gives the result instead.
template <class Where, class Body, class Fallback>
auto Barrier(const Where& where, Body&& body, Fallback&& fallback) noexcept -> decltype(body()) {
    using Result = decltype(body());
    const auto report = [&where]() noexcept {
        if constexpr (std::is_invocable_v<const Where&>) {
            std::string place;
            try {
                place = where();
            } catch (...) {
                place = "?";
            }
            LogException(place);
        } else {
            LogException(where);
        }
    };
    try {
        return body();
    } catch (...) {
        report();
    }
    try {
        return fallback();
    } catch (...) {
        report();
    }
    if constexpr (!std::is_void_v<Result>) {
        return Result{};
    }
}

// The same for work that has nothing to answer.
template <class Where, class Body> void Barrier(const Where& where, Body&& body) noexcept {
    Barrier(where, std::forward<Body>(body), [] {});
}

} // namespace varnek::win32
