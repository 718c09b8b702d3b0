// The settings window's update chain: the version checks, the two package downloads and the
// replacement of the program.
#include "update/UpdateService.h"

#include "Config.h"
#include "app/Application.h"
#include "app/Outside.h"
#include "app/VarnekIT.h"
#include "settings/f_Indstillinger.h"
#include "update/ClientDate.h"
#include "update/ReplacementScript.h"
#include "update/VersionText.h"

#include <algorithm>

namespace varnek {

namespace {

std::string ServerUrl(std::string_view path) {
    return std::string(SupportServerUrl) + std::string(path);
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

void f_Indstillinger::ConnectUpdateComponents() {
    VersionCheckTeamViewer.DownloadComplete = [this](const std::string& key, const auto& value,
                                                     std::int32_t type) {
        VersionCheckTeamViewer_DownloadComplete(key, value, type);
    };
    VersionCheckVarnekIT.DownloadComplete = [this](const std::string& key, const auto& value,
                                                   std::int32_t type) {
        VersionCheckVarnekIT_DownloadComplete(key, value, type);
    };
    Download_TeamViewer.RequireExecutable = true;
    Download_TeamViewer.DownloadProgress = [this](std::int32_t cur, std::int32_t max,
                                                  const std::string& file) {
        Download_TeamViewer_DownloadProgress(cur, max, file);
    };
    Download_TeamViewer.DownloadComplete = [this](std::int32_t max, const std::string& file) {
        Download_TeamViewer_DownloadComplete(max, file);
    };
    Downloader1.RequireExecutable = true;
    Downloader1.DownloadProgress = [this](std::int32_t cur, std::int32_t max,
                                          const std::string& file) {
        Downloader1_DownloadProgress(cur, max, file);
    };
    Downloader1.DownloadComplete = [this](std::int32_t max, const std::string& file) {
        Downloader1_DownloadComplete(max, file);
    };
}

void f_Indstillinger::bUpdateCheck_Click() {
    // A check that cannot start raises DownloadError, which nothing here listens to.
    VersionCheckTeamViewer.BeginDownload(ServerUrl(outside::VersionTeamViewerPath), "txt");
}

void f_Indstillinger::StartVarnekITUpdateCheck() {
    VersionCheckVarnekIT.BeginDownload(ServerUrl(outside::VersionVarnekITPath), "txt");
}

void f_Indstillinger::VersionCheckTeamViewer_DownloadComplete(
    const std::string& /*Key*/, const std::vector<std::uint8_t>& Value, std::int32_t /*FileType*/) {
    const std::string client = app_.LocalPath(outside::ClientFileName);
    if (!app_.services.files.FileExists(client)) {
        DownloadTeamViewer();
        return;
    }
    const auto local = app_.services.fileStore.DateCreated(client);
    if (!local) {
        return;
    }
    SetCaption(Ctl::t_TeamViewerMinVer, FormatClientDate(*local));
    const auto server = ParseClientDate(AnsiToUtf8(Value));
    if (!server) {
        return;
    }
    SetCaption(Ctl::t_TeamViewerNyVer, FormatClientDate(*server));
    if (DayOf(*local) < *server) {
        SetCaption(Ctl::t_TeamViewerDateStat, "Update Avalible");
        DownloadTeamViewer();
    } else {
        SetCaption(Ctl::t_TeamViewerDateStat, "Up to Date");
        StartVarnekITUpdateCheck();
    }
}

void f_Indstillinger::VersionCheckVarnekIT_DownloadComplete(const std::string& Key,
                                                            const std::vector<std::uint8_t>& Value,
                                                            std::int32_t /*FileType*/) {
    if (Key != "txt") {
        return;
    }
    const std::string text(TrimBlanks(AnsiToUtf8(Value)));
    const auto server = ParseVersion(text);
    if (!server) {
        return;
    }
    SetCaption(Ctl::t_Version_Ny, "Ny Version : " + text);
    SetCaption(Ctl::t_VarnekITNyVer, text);
    SetCaption(Ctl::t_VarnekITMinVer, RunningVersionText());
    if (*server > RunningVersion()) {
        DownloadVarnekIT();
    }
}

void f_Indstillinger::DownloadTeamViewer() {
    Download_TeamViewer.BeginDownload(ServerUrl(outside::TeamViewerPackagePath),
                                      app_.LocalPath(outside::ClientFileName));
}

void f_Indstillinger::DownloadVarnekIT() {
    app_.MainWindow().ShowBallonMessageUpdating();
    Downloader1.BeginDownload(ServerUrl(outside::VarnekITPackagePath),
                              app_.LocalPath(outside::NewProgramFileName));
}

void f_Indstillinger::Download_TeamViewer_DownloadProgress(std::int32_t CurBytes,
                                                           std::int32_t MaxBytes,
                                                           const std::string& /*SaveFile*/) {
    SetCaption(Ctl::t_TeamViewer_Status, PercentText(CurBytes, MaxBytes));
}

void f_Indstillinger::Downloader1_DownloadProgress(std::int32_t CurBytes, std::int32_t MaxBytes,
                                                   const std::string& /*SaveFile*/) {
    SetCaption(Ctl::t_VarnekIT_Status, PercentText(CurBytes, MaxBytes));
}

void f_Indstillinger::Download_TeamViewer_DownloadComplete(std::int32_t MaxBytes,
                                                           const std::string& SaveFile) {
    if (MaxBytes != 0) {
        // The new client's creation time is its release date at least, so the next check
        // finds it up to date.
        auto& fileStore = app_.services.fileStore;
        DateTime created = fileStore.Now();
        if (const auto server = ParseClientDate(State(Ctl::t_TeamViewerNyVer).caption)) {
            created = std::max(created, *server);
        }
        fileStore.SetDateCreated(SaveFile, created);
    }
    StartVarnekITUpdateCheck();
}

void f_Indstillinger::Downloader1_DownloadComplete(std::int32_t MaxBytes,
                                                   const std::string& SaveFile) {
    if (MaxBytes == 0) {
        return; // nothing new arrived in this run
    }
    const auto version = app_.services.fileStore.FileVersion(SaveFile);
    const VersionNumber running = RunningVersion();
    const bool newer =
        version && std::lexicographical_compare(running.begin(), running.begin() + 3,
                                                version->begin(), version->begin() + 3);
    if (!newer) {
        app_.services.files.RemoveFile(SaveFile);
        return;
    }
    if (app_.services.files.FileExists(SaveFile)) {
        GenerateBatFile();
    }
}

void f_Indstillinger::GenerateBatFile() {
    auto& fileStore = app_.services.fileStore;
    if (!fileStore.WriteFile(app_.LocalPath(outside::ReplacementScriptName), ReplacementScript())) {
        return;
    }
    if (!fileStore.StartHidden(outside::ReplacementScriptName, app_.services.programFolder)) {
        return;
    }
    // The script waits for this program to end: the icon goes first, then the process.
    app_.MainWindow().Form_Unload();
}

} // namespace varnek
