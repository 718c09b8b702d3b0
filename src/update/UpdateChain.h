// The update chain: the client's release date, then the program's version, each followed by
// its package download when the server has a newer one; a new program then shows that it
// starts (its self-test) before the script that puts it in place runs.
//
// The program folder and the autostart are shared by every user of the machine (a terminal
// server runs one program per session from the same folder), so one program update at a time
// runs on the machine: a machine-wide lock is held from the package download to the script's
// start, and a script that may still be running counts as an update under way.
#pragma once

#include "download/Download.h"
#include "download/Downloader.h"
#include "platform/Files.h"
#include "platform/ReadService.h"
#include "platform/Services.h"
#include "platform/Signatures.h"
#include "update/RefusedPackages.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

// The labels of the settings window that hold the chain's state (the later steps read them
// back).
enum class UpdateLabel {
    TeamViewerMinVer,   // the local client's creation date
    TeamViewerNyVer,    // the client's date on the server
    TeamViewerDateStat, // "Update Avalible" or "Up to Date"
    VarnekITMinVer,     // the running version
    VarnekITNyVer,      // the server's version text
    Version_Ny,         // "Ny Version : " and the server's version text
    TeamViewer_Status,  // the client download's percentage
    VarnekIT_Status,    // the program download's percentage
};

// What the chain needs of the program around it.
class IUpdateHost {
public:
    virtual ~IUpdateHost() = default;
    virtual void SetLabel(UpdateLabel label, std::string_view text) = 0;
    virtual std::string Label(UpdateLabel label) const = 0;
    // The balloon that tells the user the program is being updated.
    virtual void ShowUpdatingBalloon() = 0;
    // The replacement script runs: the icon goes, then the process ends (at once).
    [[noreturn]] virtual void EndForReplacement() = 0;
};

struct UpdateServices {
    IReadService& reads;
    IFiles& files;
    IClock& clock;
    IDialogs& dialogs;
    ISignatureCheck& signatures;
    ILogFile& log;
    IProcesses& processes;
    IRegistry& registry;
    IPolicies& policies;
    IMachine& machine;
    std::string programFolder;
    // The subject the remote-control client must be signed by; empty: the present client's.
    std::string clientPublisher;
    // What signatures must chain to (SHA-256 of the roots, lowercase hex): an update, beside the
    // running program's own root; the client (none named: any root the machine trusts).
    std::vector<std::string> updateRoots;
    std::vector<std::string> clientRoots;
};

// Who started a check.
enum class CheckStart { ByHand, Automatic };

// "N%": the share of `cur` in `max`, rounded half to even, computed without overflow for any
// sizes a read reports ("0%" when `max` is not positive).
std::string PercentText(std::int64_t cur, std::int64_t max);

// The machine-wide lock of program updates (a name every user may take).
inline constexpr std::string_view UpdateLockName = "Global\\VarnekIT.Update";
// The user's value that puts the old program back at the next logon should a replacement never
// finish (ReplacementScript.h); every start removes it.
inline constexpr std::string_view RestoreKeyPath =
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr std::string_view RestoreValueName = "VarnekIT restore";
// A temporary file of an interrupted write is removed once it is this old: no write takes so
// long.
inline constexpr std::int64_t InterruptedWriteSeconds = 10 * 60;

class UpdateChain final : private IProcessOwner {
public:
    UpdateChain(UpdateServices services, IUpdateHost& host);
    // Reads and runs under way are dropped (their temporary files removed) and the machine's
    // update lock is given back.
    ~UpdateChain() override;
    UpdateChain(const UpdateChain&) = delete;
    UpdateChain& operator=(const UpdateChain&) = delete;

    // Starts the chain with the client's date: by the Update Check button, or automatically
    // once a run (the main window's 30th tick).
    void bUpdateCheck_Click(CheckStart start = CheckStart::ByHand);
    // The program's version check, after the client's.
    void StartVarnekITUpdateCheck();
    void VersionCheckTeamViewer_DownloadComplete(const std::string& Key,
                                                 const std::vector<std::uint8_t>& Value,
                                                 std::int32_t FileType);
    void VersionCheckVarnekIT_DownloadComplete(const std::string& Key,
                                               const std::vector<std::uint8_t>& Value,
                                               std::int32_t FileType);
    // The automatic check's answer from the rollout file (none: it could not be read): whether
    // this machine takes the newer program now.
    void RolloutCheck_DownloadComplete(const std::optional<std::vector<std::uint8_t>>& Value);
    // `serverText`: the version or date text the server announced the package with (what a
    // refusal is remembered by). The program's download starts only where no other update of
    // the program is under way on the machine, and none has put that version in place already.
    void DownloadTeamViewer(std::string_view serverText = {});
    void DownloadVarnekIT(std::string_view serverText = {});
    void Download_TeamViewer_DownloadProgress(std::int32_t CurBytes, std::int32_t MaxBytes,
                                              const std::string& SaveFile);
    void Download_TeamViewer_DownloadComplete(std::int32_t MaxBytes, const std::string& SaveFile);
    void Downloader1_DownloadProgress(std::int32_t CurBytes, std::int32_t MaxBytes,
                                      const std::string& SaveFile);
    // A new program in its place is started for its self-test; GenerateBatFile follows when it
    // passes.
    void Downloader1_DownloadComplete(std::int32_t MaxBytes, const std::string& SaveFile);
    // Writes the replacement script and, when it starts, ends the program.
    void GenerateBatFile();
    // Ends every read, download and self-test at once and removes their temporary files (the
    // program is ending).
    void Stop();

    // What earlier runs and updates left in the program folder: temporary files of downloads
    // and of interrupted writes, and aside copies of the program and the client once nothing
    // runs them (a copy that cannot be removed now stays for a later start).
    static void RemoveLeftovers(IFiles& files, std::string_view folder);
    // Temporary files of interrupted writes in `folder`.
    static void RemoveInterruptedWrites(IFiles& files, std::string_view folder);

private:
    using Package = RefusedPackages::Package;

    std::string LocalPath(std::string_view fileName) const;
    void Log(std::string_view text);
    // Logs a check's notes and remembers a lasting refusal.
    void Checked(Package package, const FileVerdict& verdict);
    // Takes the machine's update lock for a program update to the server's version `text`
    // (empty: a download started by hand); false (and logged) where another update is under
    // way, or has already put that version in the folder.
    bool BeginProgramUpdate(const std::string& text);
    void ReleaseLock();
    // The self-test's end (IProcessOwner).
    void RunComplete(const RunResult& result) override;
    // The name, in the program folder, the old program takes during this replacement: one no
    // file has.
    std::string AsideName();

    UpdateServices services_;
    IUpdateHost& host_;
    RefusedPackages refused_;
    bool locked_ = false;                   // this program holds the machine's update lock
    bool selfTesting_ = false;              // the downloaded program's self-test runs
    CheckStart start_ = CheckStart::ByHand; // of the check under way
    unsigned asides_ = 0;                   // aside names made
    // The server's texts of the packages being downloaded.
    std::string clientText_;
    std::string programText_;
    // The newer version the automatic check asks the rollout file about.
    std::string offeredText_;

public:
    // The chain's components. Declared last: they go first, and reads still under way are
    // dropped then.
    Download VersionCheckTeamViewer;
    Download VersionCheckVarnekIT;
    Download RolloutCheck;
    Downloader Download_TeamViewer;
    Downloader Downloader1;
};

} // namespace varnek
