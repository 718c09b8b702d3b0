#include "update/RefusedPackages.h"

#include "platform/Text.h"

#include <algorithm>
#include <vector>

namespace varnek {

namespace {

std::string IsoDate(const DateTime& when) {
    return Decimal(when.year, 4) + "-" + Decimal(when.month, 2) + "-" + Decimal(when.day, 2);
}

} // namespace

std::string ServerText(std::string_view text) {
    constexpr std::size_t Longest = 64;
    if (text.size() <= Longest) {
        return Quoted(text);
    }
    std::size_t cut = Longest;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return Quoted(text.substr(0, cut)) + "... (" + std::to_string(text.size()) + " bytes)";
}

void RefusedPackages::Log(std::string_view text) {
    log_.Append(LogLine(clock_.Now(), Escaped(text)));
}

std::map<RefusedPackages::Package, RefusedPackages::Entry> RefusedPackages::Read() {
    std::map<Package, Entry> entries;
    const std::string folder = log_.Folder();
    if (folder.empty()) {
        return entries;
    }
    const FileBytes read = files_.ReadStart(PathInFolder(folder, RefusedFileName), 16384);
    const std::string text(read.bytes.begin(), read.bytes.end());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        end = end == std::string::npos ? text.size() : end;
        std::vector<std::string> fields;
        for (std::size_t from = at; from <= end;) {
            const std::size_t tab = std::min(text.find('\t', from), end);
            fields.push_back(text.substr(from, tab - from));
            from = tab + 1;
        }
        if (fields.size() == 4 && (fields[0] == "client" || fields[0] == "program")) {
            entries[fields[0] == "client" ? Package::Client : Package::Program] = {
                fields[1], fields[2], fields[3]};
        }
        at = end + 2;
    }
    return entries;
}

void RefusedPackages::Write(const std::map<Package, Entry>& entries) {
    const std::string folder = log_.Folder();
    if (folder.empty()) {
        return;
    }
    std::string text;
    for (const auto& [package, entry] : entries) {
        text += (package == Package::Client ? "client\t" : "program\t") + entry.text + "\t" +
                entry.date + "\t" + entry.reason + "\r\n";
    }
    files_.WriteFile(PathInFolder(folder, RefusedFileName), {text.begin(), text.end()});
}

bool RefusedPackages::RefusedBefore(Package package, const std::string& text) {
    auto entries = Read();
    const auto found = entries.find(package);
    if (found == entries.end()) {
        return false;
    }
    if (found->second.text == Escaped(text)) {
        Log("not downloaded again: " + ServerText(text) + " was refused on " + found->second.date +
            ": " + found->second.reason);
        return true;
    }
    // The server announces another package: what was refused before is of no account now.
    entries.erase(found);
    Write(entries);
    return false;
}

void RefusedPackages::Remember(Package package, const std::string& text,
                               const std::string& reason) {
    if (text.empty()) {
        return;
    }
    auto entries = Read();
    entries[package] = {Escaped(text), IsoDate(clock_.Now()), Escaped(reason)};
    Write(entries);
}

} // namespace varnek
