// The update service's log for technicians: %LOCALAPPDATA%\VarnekIT\update.log.
#pragma once

#include "platform/Signatures.h"
#include "win32/Thread.h"

#include <string>

namespace varnek::win32 {

// Appends each line, ended by CR LF, in UTF-8. A log over MaxBytes is moved to update.log.1
// (replacing the one there) before the next line, so at most two generations are kept. Any
// failure loses the line and nothing else. Each line is written and the file closed before
// Append returns, so the process may end at any time after it. Lines may come from any thread
// (a read worker's program error), one at a time.
class UpdateLogFile final : public ILogFile {
public:
    static constexpr long long MaxBytes = 64 * 1024;

    // The log in the user's local application data; `path` names another file (tests).
    UpdateLogFile();
    explicit UpdateLogFile(std::wstring path) : path_(std::move(path)) {}

    void Append(std::string_view line) override;
    std::string Folder() const override;
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
    Mutex mutex_; // one line, and one move to update.log.1, at a time
};

} // namespace varnek::win32
