// What the update service remembers of packages it refused for good: one entry per kind of
// package (the client, the program), with the server's text it came with. While the server
// announces the same text, the package is not fetched again; a new text forgets the entry. Kept
// in "refused.txt" beside the update log, one tab-separated line per entry.
#pragma once

#include "platform/Files.h"
#include "platform/Signatures.h"

#include <map>
#include <string>

namespace varnek {

inline constexpr std::string_view RefusedFileName = "refused.txt";

class RefusedPackages {
public:
    enum class Package { Client, Program };

    RefusedPackages(IFiles& files, IClock& clock, ILogFile& log)
        : files_(files), clock_(clock), log_(log) {}

    // True (and logged) when the package the server announces with `text` was refused before;
    // a memory of another text is forgotten.
    bool RefusedBefore(Package package, const std::string& text);
    // Remembers the refusal of the package the server announced with `text` (a download
    // started by hand, with no text, is not remembered).
    void Remember(Package package, const std::string& text, const std::string& reason);

private:
    struct Entry {
        std::string text;   // the server's text, escaped
        std::string date;   // when it was refused (yyyy-mm-dd)
        std::string reason; // why, escaped
    };
    std::map<Package, Entry> Read();
    void Write(const std::map<Package, Entry>& entries);
    void Log(std::string_view text);

    IFiles& files_;
    IClock& clock_;
    ILogFile& log_;
};

// A text from the server as the log shows it: quoted, and cut where it is longer than any good
// one (whole characters only); the log escapes its control characters.
std::string ServerText(std::string_view text);

} // namespace varnek
