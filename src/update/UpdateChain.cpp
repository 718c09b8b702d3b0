#include "update/UpdateChain.h"

#include "Config.h"
#include "app/Outside.h"
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

std::string FileNameOf(std::string_view path) {
    const auto slash = path.find_last_of('\\');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string CodeText(std::int32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
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
        return "signature not valid (" + CodeText(signature.code) + ")";
    case Signature::Verdict::CannotCheck:
        break;
    }
    return "signature cannot be checked";
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
        downloader->DownloadFailed = [this](const std::string& file, const std::string& reason) {
            Log("download of " + FileNameOf(file) + " failed: " + reason);
        };
    }
    Download_TeamViewer.Accept = [this](const std::string& temporary, const std::string&) {
        return ClientRefusal(temporary);
    };
    Downloader1.Accept = [this](const std::string& temporary, const std::string&) {
        return ProgramRefusal(temporary);
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

std::string UpdateChain::LocalPath(std::string_view fileName) const {
    return PathInFolder(services_.programFolder, fileName);
}

void UpdateChain::Log(std::string_view text) {
    const DateTime now = services_.fileStore.Now();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", now.year, now.month,
                  now.day, now.hour, now.minute, now.second);
    services_.log.Append(stamp + std::string(text));
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
    Log("client's date on the server: " + Quoted(TrimBlanks(text)));
    const std::string client = LocalPath(outside::ClientFileName);
    if (!services_.files.FileExists(client)) {
        Log("no client here: it is downloaded");
        DownloadTeamViewer();
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
        Log("the client's date on the server is no date: the check ends");
        return;
    }
    host_.SetLabel(UpdateLabel::TeamViewerNyVer, FormatClientDate(*server));
    if (DayOf(*local) < *server) {
        host_.SetLabel(UpdateLabel::TeamViewerDateStat, "Update Avalible");
        Log("the present client is of " + FormatClientDate(*local) + ": a newer one is downloaded");
        DownloadTeamViewer();
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
        Log("the program's version on the server is no version: " + Quoted(text));
        return;
    }
    host_.SetLabel(UpdateLabel::Version_Ny, "Ny Version : " + text);
    host_.SetLabel(UpdateLabel::VarnekITNyVer, text);
    host_.SetLabel(UpdateLabel::VarnekITMinVer, RunningVersionText());
    if (*server > RunningVersion()) {
        Log("program " + text + " on the server, " + RunningVersionText() +
            " running: it is downloaded");
        DownloadVarnekIT();
    } else {
        Log("program " + text + " on the server, " + RunningVersionText() + " running: up to date");
    }
}

void UpdateChain::DownloadTeamViewer() {
    const std::string url = ServerUrl(outside::TeamViewerPackagePath);
    const std::string target = LocalPath(outside::ClientFileName);
    Log("download started: " + url);
    Download_TeamViewer.BeginDownload(url, target);
}

void UpdateChain::DownloadVarnekIT() {
    const std::string url = ServerUrl(outside::VarnekITPackagePath);
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

std::string UpdateChain::ClientRefusal(const std::string& file) {
    std::string required = services_.clientPublisher;
    std::string whose = "the configured publisher";
    if (required.empty()) {
        const std::string present = LocalPath(outside::ClientFileName);
        if (!services_.files.FileExists(present)) {
            return {}; // the first client: nothing to keep to
        }
        const Signature signature = services_.signatures.Check(present);
        if (signature.verdict == Signature::Verdict::CannotCheck) {
            // Whether the present client is signed is not known: nothing is risked.
            return "refused: the present client's signature cannot be checked";
        }
        if (signature.verdict != Signature::Verdict::Valid) {
            Log("the present client is " + Described(signature) + ": no signature required");
            return {};
        }
        required = signature.subject;
        whose = "the present client's signer";
    }
    const Signature signature = services_.signatures.Check(file);
    Log("downloaded client: " + Described(signature));
    if (signature.verdict == Signature::Verdict::Valid && signature.subject == required) {
        return {};
    }
    return "refused: the client is " + Described(signature) + ", not by " + whose + " " +
           Quoted(required);
}

std::string UpdateChain::ProgramRefusal(const std::string& file) {
    const auto version = services_.fileStore.FileVersion(file);
    const VersionNumber running = RunningVersion();
    const bool newer =
        version && std::lexicographical_compare(running.begin(), running.begin() + 3,
                                                version->begin(), version->begin() + 3);
    if (!newer) {
        return "refused: the program's version resource is not newer than " + RunningVersionText();
    }
    // A signed program takes only what its own signer signed: the signer's subject, not its
    // key, so a renewed certificate keeps working.
    const Signature self = services_.signatures.CheckSelf();
    if (self.verdict == Signature::Verdict::Unsigned) {
        Log("the running program is not signed: no signature required");
        return {};
    }
    if (self.verdict != Signature::Verdict::Valid) {
        // The running program carries a signature this machine cannot confirm: nothing it
        // could be compared with, so nothing is installed.
        return "refused: the running program's own signature cannot be confirmed (" +
               Described(self) + ")";
    }
    const Signature signature = services_.signatures.Check(file);
    Log("downloaded program: " + Described(signature));
    if (signature.verdict == Signature::Verdict::Valid && signature.subject == self.subject) {
        return {};
    }
    return "refused: the program is " + Described(signature) +
           ", not by the running program's signer " + Quoted(self.subject);
}

void UpdateChain::Download_TeamViewer_DownloadComplete(std::int32_t MaxBytes,
                                                       const std::string& SaveFile) {
    if (MaxBytes != 0) {
        Log("client replaced: " + SaveFile);
        // The new client's creation time is its release date at least, so the next check
        // finds it up to date.
        auto& fileStore = services_.fileStore;
        DateTime created = fileStore.Now();
        if (const auto server = ParseClientDate(host_.Label(UpdateLabel::TeamViewerNyVer))) {
            created = std::max(created, *server);
        }
        fileStore.SetDateCreated(SaveFile, created);
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
    // Checked again right before the script: the file lay in the folder since the download.
    const std::string program = LocalPath(outside::NewProgramFileName);
    if (const std::string refusal = ProgramRefusal(program); !refusal.empty()) {
        Log(refusal + "; " + std::string(outside::NewProgramFileName) + " is removed");
        services_.files.RemoveFile(program);
        return;
    }
    auto& fileStore = services_.fileStore;
    if (!fileStore.WriteFile(LocalPath(outside::ReplacementScriptName), ReplacementScript())) {
        Log("the replacement script cannot be written");
        return;
    }
    if (!fileStore.StartHidden(outside::ReplacementScriptName, services_.programFolder)) {
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
}

} // namespace varnek
