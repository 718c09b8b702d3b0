#include "update/UpdateChain.h"

#include "Config.h"
#include "app/Outside.h"
#include "platform/Text.h"
#include "update/ClientDate.h"
#include "update/PackageChecks.h"
#include "update/ReplacementScript.h"
#include "update/Rollout.h"
#include "update/VersionText.h"

#include <algorithm>

namespace varnek {

namespace {

std::string ServerUrl(std::string_view path) {
    return std::string(SupportServerUrl) + std::string(path);
}

std::string FileNameOf(std::string_view path) {
    const auto slash = path.find_last_of('\\');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
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
    : services_(std::move(services)), host_(host),
      refused_(services_.files, services_.clock, services_.log),
      VersionCheckTeamViewer(services_.reads), VersionCheckVarnekIT(services_.reads),
      RolloutCheck(services_.reads),
      Download_TeamViewer(services_.reads, services_.files, services_.processes, services_.dialogs),
      Downloader1(services_.reads, services_.files, services_.processes, services_.dialogs) {
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
    // The rollout file is optional: one that cannot be read offers the version to all.
    RolloutCheck.DownloadComplete = [this](const std::string&, const auto& value, std::int32_t) {
        RolloutCheck_DownloadComplete(value);
    };
    RolloutCheck.DownloadError = [this](const std::string&, std::int32_t,
                                        const std::string& description) {
        Log("no share of machines for the new version (" + description + "): it is offered to all");
        RolloutCheck_DownloadComplete(std::nullopt);
    };
    for (Downloader* downloader : {&Download_TeamViewer, &Downloader1}) {
        downloader->RequireExecutable = true;
        downloader->MaxBytes = MaxPackageBytes;
        downloader->DownloadFailed = [this](const std::string& file, const std::string& reason) {
            Log("download of " + FileNameOf(file) + " failed: " + reason);
        };
    }
    // The checks run on a read's worker and may outlive the chain: they hold only the
    // program's services and copies of what they need.
    Download_TeamViewer.Accept = [&files = services_.files, &signatures = services_.signatures,
                                  present = LocalPath(outside::ClientFileName),
                                  publisher = services_.clientPublisher,
                                  roots = services_.clientRoots](const std::string& file) {
        return CheckClient(files, signatures, file, present, publisher, roots);
    };
    // The client may be running: its file is then renamed aside for the new one.
    Download_TeamViewer.MoveAsideWhenHeld = true;
    Downloader1.Accept = [&files = services_.files, &signatures = services_.signatures,
                          roots = services_.updateRoots](const std::string& file) {
        return CheckProgram(files, signatures, file, roots);
    };
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

UpdateChain::~UpdateChain() {
    services_.processes.ForgetOwner(*this);
    ReleaseLock();
}

std::string UpdateChain::LocalPath(std::string_view fileName) const {
    return PathInFolder(services_.programFolder, fileName);
}

void UpdateChain::Log(std::string_view text) {
    services_.log.Append(LogLine(services_.clock.Now(), Escaped(text)));
}

void UpdateChain::Checked(Package package, const FileVerdict& verdict) {
    for (const std::string& note : verdict.notes) {
        Log(note);
    }
    if (verdict.lasting && !verdict.refusal.empty()) {
        refused_.Remember(package, package == Package::Client ? clientText_ : programText_,
                          verdict.refusal);
    }
}

bool UpdateChain::BeginProgramUpdate(const std::string& text) {
    auto& files = services_.files;
    if (selfTesting_) {
        Log("the downloaded program is being tested: it is not downloaded again now");
        return false;
    }
    if (!locked_ && !services_.processes.TakeMachineLock(UpdateLockName)) {
        Log("another session's update of the program is under way: this check is skipped");
        return false;
    }
    locked_ = true;
    // A script that may still be running belongs to an update that is not over yet.
    const auto age = files.SecondsSinceWritten(LocalPath(outside::ReplacementScriptName));
    if (age && *age < ReplacementScriptLongestRunSeconds) {
        Log("a replacement script that may still be running is in the folder (another "
            "session's update): this check is skipped");
        ReleaseLock();
        return false;
    }
    // Another session's update may have put the new version in the folder already.
    const FileVersionInfo present = files.FileVersion(LocalPath(outside::ProgramFileName));
    const auto server = ParseVersion(text);
    if (present.version && server &&
        !std::lexicographical_compare(present.version->begin(), present.version->begin() + 3,
                                      server->begin(), server->begin() + 3)) {
        Log(std::string(outside::ProgramFileName) + " in the folder is already " + text +
            ", put there by another session's update: it runs from the next start");
        ReleaseLock();
        return false;
    }
    return true;
}

void UpdateChain::ReleaseLock() {
    if (locked_) {
        services_.processes.ReleaseMachineLock(UpdateLockName);
        locked_ = false;
    }
}

std::string UpdateChain::AsideName() {
    for (;;) {
        std::string name = std::string(outside::ProgramFileName) + "." +
                           Hexadecimal(services_.processes.ProcessId(), 0, false) + "-" +
                           Decimal(++asides_) + ".old";
        if (!services_.files.FileExists(LocalPath(name))) {
            return name;
        }
    }
}

void UpdateChain::bUpdateCheck_Click(CheckStart start) {
    start_ = start;
    Log(start == CheckStart::Automatic ? "update check started automatically"
                                       : "update check started by hand");
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
    if (refused_.RefusedBefore(Package::Client, trimmed)) {
        StartVarnekITUpdateCheck();
        return;
    }
    const std::string client = LocalPath(outside::ClientFileName);
    if (!services_.files.FileExists(client)) {
        Log("no client here: it is downloaded");
        DownloadTeamViewer(trimmed);
        return;
    }
    const auto local = services_.files.DateCreated(client);
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
    if (DayOf(*server) > NextDay(services_.clock.Now())) {
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
    if (refused_.RefusedBefore(Package::Program, text)) {
        return;
    }
    Log("program " + text + " on the server, " + RunningVersionText() + " running: it is newer");
    // A person who asks for the update gets it; the automatic check first asks which share of
    // the machines the version is offered to.
    if (start_ == CheckStart::Automatic) {
        offeredText_ = text;
        RolloutCheck.BeginDownload(ServerUrl(outside::RolloutVarnekITPath), "txt");
        return;
    }
    DownloadVarnekIT(text);
}

void UpdateChain::RolloutCheck_DownloadComplete(
    const std::optional<std::vector<std::uint8_t>>& Value) {
    const std::string text = offeredText_;
    const RolloutDecision decision =
        DecideRollout(RolloutShare(Value), services_.machine.MachineGuid(), text, false);
    if (!decision.takes) {
        Log(decision.WaitText(text));
        return;
    }
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
    if (!BeginProgramUpdate(std::string(serverText))) {
        return;
    }
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
        services_.files.SetDateCreated(SaveFile, services_.clock.Now());
    }
    StartVarnekITUpdateCheck();
}

void UpdateChain::Downloader1_DownloadComplete(std::int32_t MaxBytes, const std::string& SaveFile) {
    if (MaxBytes == 0 || !services_.files.FileExists(SaveFile)) {
        ReleaseLock(); // nothing new arrived in this run
        return;
    }
    Log("download finished: " + SaveFile);
    // In its place, the program is checked again and must show that it starts before anything
    // relies on it. What the first check noted is not noted again.
    RunRequest selfTest;
    selfTest.program = SaveFile;
    selfTest.arguments = std::string(SelfTestArgument);
    selfTest.folder = services_.programFolder;
    selfTest.timeoutMs = SelfTestTimeoutMs;
    selfTest.check = [&files = services_.files, &signatures = services_.signatures,
                      roots = services_.updateRoots](const std::string& file) {
        FileVerdict verdict = CheckProgram(files, signatures, file, roots);
        verdict.notes.clear();
        return verdict;
    };
    selfTesting_ = true;
    services_.processes.RunHidden(*this, std::move(selfTest));
}

void UpdateChain::RunComplete(const RunResult& result) {
    selfTesting_ = false;
    const std::string program = LocalPath(outside::NewProgramFileName);
    const FileVerdict verdict = SelfTestVerdict(result);
    Checked(Package::Program, verdict);
    if (!verdict.refusal.empty()) {
        services_.files.RemoveFile(program);
        Log("download of " + std::string(outside::NewProgramFileName) +
            " failed: " + verdict.refusal);
        ReleaseLock();
        return;
    }
    GenerateBatFile();
}

void UpdateChain::GenerateBatFile() {
    // The program in New_VarnekIT.exe has passed every check in its place, its self-test
    // included, right before this.
    auto& files = services_.files;
    const std::string aside = AsideName();
    const std::string script = LocalPath(outside::ReplacementScriptName);
    // Should the script be cut off between its renames (a logoff, a power loss), the user's next
    // logon puts the old program back.
    const std::string cmd = PathInFolder(files.SystemFolder(), "cmd.exe");
    if (const long error = services_.registry.SetUserText(
            RestoreKeyPath, RestoreValueName, RestoreCommand(cmd, services_.programFolder, aside));
        error != 0) {
        Log("the old program's return at the next logon cannot be set up (error " +
            std::to_string(error) + "): the replacement goes on without it");
    }
    const auto giveUp = [&](std::string_view why) {
        services_.registry.DeleteUserValue(RestoreKeyPath, RestoreValueName);
        ReleaseLock();
        Log(why);
    };
    if (!files.WriteFile(script, ReplacementScript(aside))) {
        giveUp("the replacement script cannot be written");
        return;
    }
    if (!services_.processes.StartScript(outside::ReplacementScriptName, services_.programFolder)) {
        // A script that never ran must not look like one under way.
        files.RemoveFile(script);
        giveUp("the replacement script cannot be started");
        return;
    }
    Log("replacement started: the program ends for " + std::string(outside::ReplacementScriptName) +
        " (the old program is kept as " + aside + " until the new one is in place)");
    host_.EndForReplacement();
}

void UpdateChain::Stop() {
    VersionCheckTeamViewer.Cancel("txt");
    VersionCheckVarnekIT.Cancel("txt");
    RolloutCheck.Cancel("txt");
    Download_TeamViewer.Stop();
    Downloader1.Stop();
    services_.processes.ForgetOwner(*this);
    selfTesting_ = false;
    ReleaseLock();
}

void UpdateChain::RemoveLeftovers(IFiles& files, std::string_view folder) {
    RemoveLeftoverDownloads(files, folder, {outside::ClientFileName, outside::NewProgramFileName});
    // The aside copies of the program and the client that updates left: never the last program
    // there is, and not while something runs them (Windows refuses to delete a running
    // program's file: it then stays for a later start).
    const std::vector<std::string> names = files.FilesIn(folder);
    for (const std::string_view file : {outside::ProgramFileName, outside::ClientFileName}) {
        if (!files.FileExists(PathInFolder(folder, file))) {
            continue;
        }
        for (const std::string& name : names) {
            if (IsAsideCopyOf(name, file)) {
                files.RemoveFile(PathInFolder(folder, name));
            }
        }
    }
    RemoveInterruptedWrites(files, folder);
}

void UpdateChain::RemoveInterruptedWrites(IFiles& files, std::string_view folder) {
    for (const std::string& name : files.FilesIn(folder)) {
        if (!files.IsWriteTemporary(name)) {
            continue;
        }
        // A write under way (this program's or another session's) is not touched.
        const std::string path = PathInFolder(folder, name);
        const auto age = files.SecondsSinceWritten(path);
        if (age && *age >= InterruptedWriteSeconds) {
            files.RemoveFile(path);
        }
    }
}

} // namespace varnek
