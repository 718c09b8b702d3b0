#include "win32/Barrier.h"

#include "platform/Text.h"

#include <atomic>
#include <exception>

namespace varnek::win32 {

namespace {

// Set by the FailureLog of the run; read on the UI thread and on the read workers.
std::atomic<ILogFile*> failureLog{nullptr};
std::atomic<bool> exceptionLogged{false};

} // namespace

FailureLog::FailureLog(ILogFile& log) {
    exceptionLogged = false;
    failureLog = &log;
}

FailureLog::~FailureLog() {
    failureLog = nullptr;
}

void LogFailure(std::string_view text) noexcept {
    ILogFile* const log = failureLog;
    if (!log) {
        return;
    }
    try {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        log->Append(
            LogLine({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond}, text));
    } catch (...) {
        // No room for the line: it is lost, as a line the log cannot write.
    }
}

void LogFailedCall(std::string_view call, std::string_view what, DWORD error) noexcept {
    try {
        LogFailure(std::string(call) + " failed for " + std::string(what) + " (error " +
                   std::to_string(error) + ")");
    } catch (...) {
    }
}

void LogException(std::string_view where) noexcept {
    if (!failureLog || exceptionLogged.exchange(true)) {
        return;
    }
    try {
        std::string what;
        try {
            throw;
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
            what = "an exception of no standard type";
        }
        LogFailure("program error in " + std::string(where) + ": " + what);
    } catch (...) {
    }
}

} // namespace varnek::win32
