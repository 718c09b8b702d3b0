#include "update/UpdateChain.h"

#include "Config.h"
#include "app/Outside.h"
#include "platform/Text.h"
#include "update/ClientDate.h"
#include "update/ReplacementScript.h"
#include "update/VersionText.h"

#include <algorithm>
#include <cstdio>

namespace varnek {

namespace {

std::string ServerUrl(std::string_view path) {
    return std::string(SupportServerUrl) + std::string(path);
}

std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted.append(1, '"').append(text).append(1, '"');
    return quoted;
}

// A text from the server as the log shows it: quoted, and cut where it is longer than any
// good one (whole characters only).
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

// Control characters as \xNN: what the server or a certificate says never makes a line of its
// own in the log, nor a field of its own in the memory of refusals.
std::string Escaped(std::string_view text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            out.append("\\x").append(1, Hex[c >> 4]).append(1, Hex[c & 0xF]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

std::string FileNameOf(std::string_view path) {
    const auto slash = path.find_last_of('\\');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string CodeText(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

std::string IsoDate(const DateTime& when) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", when.year, when.month, when.day);
    return text;
}

// A signature as the log tells it.
std::string Described(const Signature& signature) {
    switch (signature.verdict) {
    case Signature::Verdict::Valid:
        return "signed by " + Quoted(signature.subject);
    case Signature::Verdict::Unsigned:
        return "not signed";
    case Signature::Verdict::Invalid:
        return "signature not valid (" + CodeText(static_cast<std::uint32_t>(signature.code)) + ")";
    case Signature::Verdict::CannotCheck:
        break;
    }
    return "signature cannot be checked";
}

FileVerdict Accepted(std::vector<std::string> notes = {}) {
    return {{}, false, std::move(notes)};
}
FileVerdict RefusedForGood(std::string why, std::vector<std::string> notes = {}) {
    return {"refused: " + std::move(why), true, std::move(notes)};
}
FileVerdict RefusedForNow(std::string why, std::vector<std::string> notes = {}) {
    return {"refused: " + std::move(why), false, std::move(notes)};
}

// The Machine field of a program's PE header, if it has one.
std::optional<std::uint16_t> MachineOf(IFileStore& store, const std::string& file) {
    constexpr std::size_t HeaderAt = 0x3C; // e_lfanew in the DOS header
    constexpr std::uint32_t Farthest = 64 * 1024;
    const auto word = [](const std::vector<std::uint8_t>& bytes, std::size_t at) {
        return static_cast<std::uint32_t>(bytes[at] | (bytes[at + 1] << 8));
    };
    auto bytes = store.ReadStart(file, 4096);
    if (bytes.size() < HeaderAt + 4 || bytes[0] != 'M' || bytes[1] != 'Z') {
        return std::nullopt;
    }
    const std::uint32_t at = word(bytes, HeaderAt) | (word(bytes, HeaderAt + 2) << 16);
    if (at > Farthest) {
        return std::nullopt;
    }
    if (bytes.size() < at + 6u) {
        bytes = store.ReadStart(file, at + 6u);
    }
    if (bytes.size() < at + 6u || bytes[at] != 'P' || bytes[at + 1] != 'E' || bytes[at + 2] != 0 ||
        bytes[at + 3] != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(word(bytes, at + 4));
}

// The checks of a downloaded program, in their order: its kind of machine, its signature, its
// version resource, and (in its place, where the checks before are made again) its start.
FileVerdict CheckProgram(IFileStore& store, ISignatureCheck& signatures, const std::string& file,
                         const std::string& folder, bool selfTest) {
    std::vector<std::string> notes;
    // What the first pass noted is not noted again.
    const auto note = [&](std::string text) {
        if (!selfTest) {
            notes.push_back(std::move(text));
        }
    };
    const auto machine = MachineOf(store, file);
    if (!machine) {
        return RefusedForGood("the program has no Windows program header");
    }
    if (*machine != ProgramMachine()) {
        char why[96];
        std::snprintf(why, sizeof why,
                      "the program is made for another machine type (0x%04X, this one is 0x%04X)",
                      *machine, ProgramMachine());
        return RefusedForGood(why);
    }
    // A signed program takes only what its own signer signed: the signer's subject, not its
    // key, so a renewed certificate keeps working.
    const Signature self = signatures.CheckSelf();
    if (self.verdict == Signature::Verdict::Unsigned) {
        note("the running program is not signed: no signature required");
    } else if (self.verdict != Signature::Verdict::Valid) {
        // The running program carries a signature this machine cannot confirm: nothing it
        // could be compared with, so nothing is installed.
        return RefusedForNow("the running program's own signature cannot be confirmed (" +
                             Described(self) + ")");
    } else {
        const Signature signature = signatures.Check(file);
        note("downloaded program: " + Described(signature));
        if (signature.verdict == Signature::Verdict::CannotCheck) {
            return RefusedForNow("the program's signature cannot be checked", std::move(notes));
        }
        if (signature.verdict != Signature::Verdict::Valid || signature.subject != self.subject) {
            return RefusedForGood("the program is " + Described(signature) +
                                      ", not by the running program's signer " +
                                      Quoted(self.subject),
                                  std::move(notes));
        }
    }
    // Only once the signature is known good is anything read from inside the file.
    const auto version = store.FileVersion(file);
    const VersionNumber running = RunningVersion();
    if (!version || !std::lexicographical_compare(running.begin(), running.begin() + 3,
                                                  version->begin(), version->begin() + 3)) {
        return RefusedForGood("the program's version resource is not newer than " +
                                  RunningVersionText(),
                              std::move(notes));
    }
    if (!selfTest) {
        return Accepted(std::move(notes));
    }
    const RunResult run = store.RunHidden(file, SelfTestArgument, folder, SelfTestTimeoutMs);
    switch (run.outcome) {
    case RunResult::Outcome::Exited:
        if (run.code == 0) {
            notes.push_back("the program's self-test passed");
            return Accepted(std::move(notes));
        }
        return RefusedForGood("the program's self-test ended with code " +
                                  std::to_string(run.code) + " (" + CodeText(run.code) + ")",
                              std::move(notes));
    case RunResult::Outcome::NotStarted:
        return RefusedForGood("the program cannot be started (error " + std::to_string(run.code) +
                                  ")",
                              std::move(notes));
    case RunResult::Outcome::TimedOut:
        break;
    }
    return RefusedForNow("the program's self-test did not end within " +
                             std::to_string(SelfTestTimeoutMs / 1000) + " s and was ended",
                         std::move(notes));
}

// The checks of a downloaded client: a configured publisher's signature; else the signer of
// a validly signed present client; a present client whose signature is not valid, or cannot be
// checked, keeps its place. Only where there is no client, or one that carries no signature at
// all, is any client taken.
FileVerdict CheckClient(IFileSystem& files, ISignatureCheck& signatures, const std::string& file,
                        const std::string& present, const std::string& publisher) {
    std::vector<std::string> notes;
    std::string required = publisher;
    std::string whose = "the configured publisher";
    if (required.empty() && !files.FileExists(present)) {
        notes.push_back("no client here: no signature required");
        return Accepted(std::move(notes));
    }
    if (required.empty()) {
        const Signature current = signatures.Check(present);
        switch (current.verdict) {
        case Signature::Verdict::Valid:
            required = current.subject;
            whose = "the present client's signer";
            break;
        case Signature::Verdict::Unsigned:
            notes.push_back("the present client is not signed: no signature required");
            return Accepted(std::move(notes));
        case Signature::Verdict::Invalid:
            return RefusedForGood("the present client's " + Described(current) +
                                  ": no client replaces it");
        case Signature::Verdict::CannotCheck:
            return RefusedForNow("the present client's signature cannot be checked");
        }
    }
    const Signature signature = signatures.Check(file);
    notes.push_back("downloaded client: " + Described(signature));
    if (signature.verdict == Signature::Verdict::Valid && signature.subject == required) {
        return Accepted(std::move(notes));
    }
    if (signature.verdict == Signature::Verdict::CannotCheck) {
        return RefusedForNow("the client's signature cannot be checked", std::move(notes));
    }
    return RefusedForGood("the client is " + Described(signature) + ", not by " + whose + " " +
                              Quoted(required),
                          std::move(notes));
}

} // namespace

std::string PercentText(std::int64_t cur, std::int64_t max) {
    if (max <= 0) {
        return "0%";
    }
    const std::int64_t scaled = cur * 100;
    std::int64_t percent = scaled / max;
    const std::int64_t rest = scaled % max;
    if (rest * 2 > max || (rest * 2 == max && percent % 2 != 0)) {
        ++percent;
    }
    return std::to_string(percent) + "%";
}

std::uint16_t ProgramMachine() {
#if defined(__x86_64__) || defined(_M_X64)
    return 0x8664;
#elif defined(__aarch64__) || defined(_M_ARM64)
    return 0xAA64;
#elif defined(__i386__) || defined(_M_IX86)
    return 0x014C;
#else
#error "unknown machine type"
#endif
}

UpdateChain::UpdateChain(UpdateServices services, IUpdateHost& host)
    : services_(std::move(services)), host_(host), VersionCheckTeamViewer(services_.reads),
      VersionCheckVarnekIT(services_.reads),
      Download_TeamViewer(services_.reads, services_.fileStore, services_.files, services_.dialogs),
      Downloader1(services_.reads, services_.fileStore, services_.files, services_.dialogs) {
    VersionCheckTeamViewer.DownloadComplete = [this](const std::string& key, const auto& value,
                                                     std::int32_t type) {
        VersionCheckTeamViewer_DownloadComplete(key, value, type);
    };
    VersionCheckVarnekIT.DownloadComplete = [this](const std::string& key, const auto& value,
                                                   std::int32_t type) {
        VersionCheckVarnekIT_DownloadComplete(key, value, type);
    };
    // A version file that cannot be read ends the chain; only the log tells.
    VersionCheckTeamViewer.DownloadError = [this](const std::string&, std::int32_t,
                                                  const std::string& description) {
        Log("reading the client's date failed: " + description);
    };
    VersionCheckVarnekIT.DownloadError = [this](const std::string&, std::int32_t,
                                                const std::string& description) {
        Log("reading the program's version failed: " + description);
    };
    for (Downloader* downloader : {&Download_TeamViewer, &Downloader1}) {
        downloader->RequireExecutable = true;
        downloader->MaxBytes = MaxPackageBytes;
        downloader->DownloadFailed = [this](const std::string& file, const std::string& reason) {
            Log("download of " + FileNameOf(file) + " failed: " + reason);
        };
    }
    Download_TeamViewer.Accept = ClientCheck();
    Downloader1.Accept = ProgramCheck(false);
    Downloader1.Qualify = ProgramCheck(true);
    Download_TeamViewer.Checked = [this](const std::string&, const FileVerdict& verdict) {
        Checked(Package::Client, verdict);
    };
    Downloader1.Checked = [this](const std::string&, const FileVerdict& verdict) {
        Checked(Package::Program, verdict);
    };
    Download_TeamViewer.DownloadProgress = [this](std::int32_t cur, std::int32_t max,
                                                  const std::string& file) {
        Download_TeamViewer_DownloadProgress(cur, max, file);
    };
    Download_TeamViewer.DownloadComplete = [this](std::int32_t max, const std::string& file) {
        Download_TeamViewer_DownloadComplete(max, file);
    };
    Downloader1.DownloadProgress = [this](std::int32_t cur, std::int32_t max,
                                          const std::string& file) {
        Downloader1_DownloadProgress(cur, max, file);
    };
    Downloader1.DownloadComplete = [this](std::int32_t max, const std::string& file) {
        Downloader1_DownloadComplete(max, file);
    };
}

// The checks run on a worker and may outlive the chain: they hold only the program's services
// and copies of what they need.
FileCheck UpdateChain::ProgramCheck(bool qualify) const {
    return [&store = services_.fileStore, &signatures = services_.signatures,
            folder = services_.programFolder, qualify](const std::string& file) {
        return CheckProgram(store, signatures, file, folder, qualify);
    };
}

FileCheck UpdateChain::ClientCheck() const {
    return [&files = services_.files, &signatures = services_.signatures,
            present = LocalPath(outside::ClientFileName),
            publisher = services_.clientPublisher](const std::string& file) {
        return CheckClient(files, signatures, file, present, publisher);
    };
}

std::string UpdateChain::LocalPath(std::string_view fileName) const {
    return PathInFolder(services_.programFolder, fileName);
}

void UpdateChain::Log(std::string_view text) {
    services_.log.Append(LogLine(services_.fileStore.Now(), Escaped(text)));
}

void UpdateChain::Checked(Package package, const FileVerdict& verdict) {
    for (const std::string& note : verdict.notes) {
        Log(note);
    }
    if (verdict.lasting && !verdict.refusal.empty()) {
        Remember(package, package == Package::Client ? clientText_ : programText_, verdict.refusal);
    }
}

std::map<UpdateChain::Package, UpdateChain::Refused> UpdateChain::ReadRefused() {
    std::map<Package, Refused> refused;
    const std::string folder = services_.log.Folder();
    if (folder.empty()) {
        return refused;
    }
    const auto bytes = services_.fileStore.ReadStart(PathInFolder(folder, RefusedFileName), 16384);
    const std::string text(bytes.begin(), bytes.end());
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
            refused[fields[0] == "client" ? Package::Client : Package::Program] = {
                fields[1], fields[2], fields[3]};
        }
        at = end + 2;
    }
    return refused;
}

void UpdateChain::WriteRefused(const std::map<Package, Refused>& refused) {
    const std::string folder = services_.log.Folder();
    if (folder.empty()) {
        return;
    }
    std::string text;
    for (const auto& [package, entry] : refused) {
        text += (package == Package::Client ? "client\t" : "program\t") + Escaped(entry.text) +
                "\t" + entry.date + "\t" + Escaped(entry.reason) + "\r\n";
    }
    services_.fileStore.WriteFile(PathInFolder(folder, RefusedFileName),
                                  {text.begin(), text.end()});
}

bool UpdateChain::RefusedBefore(Package package, const std::string& text) {
    auto refused = ReadRefused();
    const auto found = refused.find(package);
    if (found == refused.end()) {
        return false;
    }
    if (found->second.text == Escaped(text)) {
        Log("not downloaded again: " + ServerText(text) + " was refused on " + found->second.date +
            ": " + found->second.reason);
        return true;
    }
    // The server announces another package: what was refused before is of no account now.
    refused.erase(found);
    WriteRefused(refused);
    return false;
}

void UpdateChain::Remember(Package package, const std::string& text, const std::string& reason) {
    if (text.empty()) {
        return; // a download started by hand, with no text from the server
    }
    auto refused = ReadRefused();
    refused[package] = {text, IsoDate(services_.fileStore.Now()), reason};
    WriteRefused(refused);
}

void UpdateChain::bUpdateCheck_Click() {
    Log("update check started");
    // A check that cannot start raises DownloadError, which the log records.
    VersionCheckTeamViewer.BeginDownload(ServerUrl(outside::VersionTeamViewerPath), "txt");
}

void UpdateChain::StartVarnekITUpdateCheck() {
    VersionCheckVarnekIT.BeginDownload(ServerUrl(outside::VersionVarnekITPath), "txt");
}

void UpdateChain::VersionCheckTeamViewer_DownloadComplete(const std::string& /*Key*/,
                                                          const std::vector<std::uint8_t>& Value,
                                                          std::int32_t /*FileType*/) {
    const std::string text = AnsiToUtf8(Value);
    const std::string trimmed(TrimBlanks(text));
    Log("client's date on the server: " + ServerText(trimmed));
    if (RefusedBefore(Package::Client, trimmed)) {
        StartVarnekITUpdateCheck();
        return;
    }
    const std::string client = LocalPath(outside::ClientFileName);
    if (!services_.files.FileExists(client)) {
        Log("no client here: it is downloaded");
        DownloadTeamViewer(trimmed);
        return;
    }
    const auto local = services_.fileStore.DateCreated(client);
    if (!local) {
        Log("the present client's date cannot be read: the check ends");
        return;
    }
    host_.SetLabel(UpdateLabel::TeamViewerMinVer, FormatClientDate(*local));
    const auto server = ParseClientDate(text);
    if (!server) {
        Log("the client's date on the server is no date: the program is checked next");
        StartVarnekITUpdateCheck();
        return;
    }
    // A date from the future would stay newer than any client for ever: a day ahead (another
    // time zone) is believed, no more.
    if (DayOf(*server) > NextDay(services_.fileStore.Now())) {
        Log("the client's date on the server is more than a day after today, so no date: the "
            "program is checked next");
        StartVarnekITUpdateCheck();
        return;
    }
    host_.SetLabel(UpdateLabel::TeamViewerNyVer, FormatClientDate(*server));
    if (DayOf(*local) < *server) {
        host_.SetLabel(UpdateLabel::TeamViewerDateStat, "Update Avalible");
        Log("the present client is of " + FormatClientDate(*local) + ": a newer one is downloaded");
        DownloadTeamViewer(trimmed);
    } else {
        host_.SetLabel(UpdateLabel::TeamViewerDateStat, "Up to Date");
        Log("the present client is of " + FormatClientDate(*local) + ": up to date");
        StartVarnekITUpdateCheck();
    }
}

void UpdateChain::VersionCheckVarnekIT_DownloadComplete(const std::string& Key,
                                                        const std::vector<std::uint8_t>& Value,
                                                        std::int32_t /*FileType*/) {
    if (Key != "txt") {
        return;
    }
    const std::string text(TrimBlanks(AnsiToUtf8(Value)));
    const auto server = ParseVersion(text);
    if (!server) {
        Log("the program's version on the server is no version: " + ServerText(text));
        return;
    }
    host_.SetLabel(UpdateLabel::Version_Ny, "Ny Version : " + text);
    host_.SetLabel(UpdateLabel::VarnekITNyVer, text);
    host_.SetLabel(UpdateLabel::VarnekITMinVer, RunningVersionText());
    if (*server <= RunningVersion()) {
        Log("program " + text + " on the server, " + RunningVersionText() + " running: up to date");
        return;
    }
    if (services_.policies.ProgramUpdatesManaged()) {
        Log("program updates are managed by the administrator");
        return;
    }
    if (RefusedBefore(Package::Program, text)) {
        return;
    }
    Log("program " + text + " on the server, " + RunningVersionText() +
        " running: it is downloaded");
    DownloadVarnekIT(text);
}

void UpdateChain::DownloadTeamViewer(std::string_view serverText) {
    const std::string url = ServerUrl(outside::TeamViewerPackagePath);
    const std::string target = LocalPath(outside::ClientFileName);
    clientText_ = std::string(serverText);
    Log("download started: " + url);
    Download_TeamViewer.BeginDownload(url, target);
}

void UpdateChain::DownloadVarnekIT(std::string_view serverText) {
    const std::string url = ServerUrl(outside::VarnekITPackagePath);
    programText_ = std::string(serverText);
    host_.ShowUpdatingBalloon();
    Log("download started: " + url);
    Downloader1.BeginDownload(url, LocalPath(outside::NewProgramFileName));
}

void UpdateChain::Download_TeamViewer_DownloadProgress(std::int32_t CurBytes, std::int32_t MaxBytes,
                                                       const std::string& /*SaveFile*/) {
    host_.SetLabel(UpdateLabel::TeamViewer_Status, PercentText(CurBytes, MaxBytes));
}

void UpdateChain::Downloader1_DownloadProgress(std::int32_t CurBytes, std::int32_t MaxBytes,
                                               const std::string& /*SaveFile*/) {
    host_.SetLabel(UpdateLabel::VarnekIT_Status, PercentText(CurBytes, MaxBytes));
}

void UpdateChain::Download_TeamViewer_DownloadComplete(std::int32_t MaxBytes,
                                                       const std::string& SaveFile) {
    if (MaxBytes != 0) {
        Log("client replaced: " + SaveFile);
        // Dated today: never after today (a date from the server could lie in the future), and
        // never before the server's date, which is at most a day ahead; the next check finds it
        // up to date from tomorrow at the latest.
        services_.fileStore.SetDateCreated(SaveFile, services_.fileStore.Now());
    }
    StartVarnekITUpdateCheck();
}

void UpdateChain::Downloader1_DownloadComplete(std::int32_t MaxBytes, const std::string& SaveFile) {
    if (MaxBytes == 0) {
        return; // nothing new arrived in this run
    }
    Log("download finished: " + SaveFile);
    if (services_.files.FileExists(SaveFile)) {
        GenerateBatFile();
    }
}

void UpdateChain::GenerateBatFile() {
    // The program in New_VarnekIT.exe has passed every check in its place, its self-test
    // included, right before this (Downloader1's qualification).
    auto& fileStore = services_.fileStore;
    if (!fileStore.WriteFile(LocalPath(outside::ReplacementScriptName), ReplacementScript())) {
        Log("the replacement script cannot be written");
        return;
    }
    if (!fileStore.StartScript(outside::ReplacementScriptName, services_.programFolder)) {
        Log("the replacement script cannot be started");
        return;
    }
    Log("replacement started: the program ends for " + std::string(outside::ReplacementScriptName));
    host_.EndForReplacement();
}

void UpdateChain::Stop() {
    VersionCheckTeamViewer.Cancel("txt");
    VersionCheckVarnekIT.Cancel("txt");
    Download_TeamViewer.Stop();
    Downloader1.Stop();
}

void UpdateChain::RemoveLeftovers(IFileStore& store, IFileSystem& files, std::string_view folder) {
    RemoveLeftoverDownloads(store, files, folder,
                            {outside::ClientFileName, outside::NewProgramFileName});
    // The old program's file left by an update whose script could not remove it (the old
    // program still ran): never the last program there is, and not while it runs (Windows
    // refuses to delete a running program's file).
    const std::string aside = PathInFolder(folder, outside::AsideProgramFileName);
    if (files.FileExists(PathInFolder(folder, outside::ProgramFileName)) &&
        files.FileExists(aside)) {
        files.RemoveFile(aside);
    }
}

} // namespace varnek
