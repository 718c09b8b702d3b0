// The update chain: the client's release date, then the program's version, each followed by
// its package download when the server has a newer one, the checks a downloaded package must
// pass before it replaces anything, and the script that puts a new program in place.
#pragma once

#include "download/Download.h"
#include "download/Downloader.h"
#include "platform/FileStore.h"
#include "platform/ReadService.h"
#include "platform/Services.h"
#include "platform/Signatures.h"

#include <cstdint>
#include <map>
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
    IFileStore& fileStore;
    IFileSystem& files;
    IDialogs& dialogs;
    ISignatureCheck& signatures;
    ILogFile& log;
    std::string programFolder;
    // The subject the remote-control client must be signed by; empty: the present client's.
    std::string clientPublisher;
    IPolicies& policies;
};

// "N%": the share of `cur` in `max`, rounded half to even, computed without overflow for any
// sizes a read reports ("0%" when `max` is not positive).
std::string PercentText(std::int64_t cur, std::int64_t max);

// The machine type a program must be built for to replace this one (the PE header's Machine).
std::uint16_t ProgramMachine();

// A package larger than this is refused without writing more of it.
inline constexpr std::int64_t MaxPackageBytes = 512 * 1024 * 1024;
// A downloaded program must show that it starts: `New_VarnekIT.exe /selftest` ends with 0
// within this time.
inline constexpr std::uint32_t SelfTestTimeoutMs = 15000;
inline constexpr std::string_view SelfTestArgument = "/selftest";
// What the chain remembers of refused packages, in the log's folder.
inline constexpr std::string_view RefusedFileName = "refused.txt";

class UpdateChain {
public:
    UpdateChain(UpdateServices services, IUpdateHost& host);
    // The components go first: reads under way are dropped and their temporary files removed.
    ~UpdateChain() = default;
    UpdateChain(const UpdateChain&) = delete;
    UpdateChain& operator=(const UpdateChain&) = delete;

    // Starts the chain with the client's date.
    void bUpdateCheck_Click();
    // The program's version check, after the client's.
    void StartVarnekITUpdateCheck();
    void VersionCheckTeamViewer_DownloadComplete(const std::string& Key,
                                                 const std::vector<std::uint8_t>& Value,
                                                 std::int32_t FileType);
    void VersionCheckVarnekIT_DownloadComplete(const std::string& Key,
                                               const std::vector<std::uint8_t>& Value,
                                               std::int32_t FileType);
    // `serverText`: the version or date text the server announced the package with (what a
    // refusal is remembered by).
    void DownloadTeamViewer(std::string_view serverText = {});
    void DownloadVarnekIT(std::string_view serverText = {});
    void Download_TeamViewer_DownloadProgress(std::int32_t CurBytes, std::int32_t MaxBytes,
                                              const std::string& SaveFile);
    void Download_TeamViewer_DownloadComplete(std::int32_t MaxBytes, const std::string& SaveFile);
    void Downloader1_DownloadProgress(std::int32_t CurBytes, std::int32_t MaxBytes,
                                      const std::string& SaveFile);
    void Downloader1_DownloadComplete(std::int32_t MaxBytes, const std::string& SaveFile);
    // Writes the replacement script and, when it starts, ends the program.
    void GenerateBatFile();
    // Ends every read and download at once and removes their temporary files (the program is
    // ending).
    void Stop();

    // Removes the temporary files of the package downloads that earlier runs left behind.
    static void RemoveLeftovers(IFileStore& store, IFileSystem& files, std::string_view folder);

private:
    // A package refused for good, remembered while the server announces the same text.
    struct Refused {
        std::string text;   // the server's version or date text it came with
        std::string date;   // when it was refused (yyyy-mm-dd)
        std::string reason; // why
    };
    enum class Package { Client, Program };

    std::string LocalPath(std::string_view fileName) const;
    void Log(std::string_view text);
    // True (and logged) when the package the server announces with `text` was refused before;
    // a memory of another text is forgotten.
    bool RefusedBefore(Package package, const std::string& text);
    void Remember(Package package, const std::string& text, const std::string& reason);
    std::map<Package, Refused> ReadRefused();
    void WriteRefused(const std::map<Package, Refused>& refused);
    void Checked(Package package, const FileVerdict& verdict);
    // The checks a downloaded program (`qualify`: in its place, with its self-test) and
    // client pass; they run on a read's worker.
    FileCheck ProgramCheck(bool qualify) const;
    FileCheck ClientCheck() const;

    UpdateServices services_;
    IUpdateHost& host_;
    // The server's texts of the packages being downloaded.
    std::string clientText_;
    std::string programText_;

public:
    // The chain's components. Declared last: they go first, and reads still under way are
    // dropped then.
    Download VersionCheckTeamViewer;
    Download VersionCheckVarnekIT;
    Downloader Download_TeamViewer;
    Downloader Downloader1;
};

} // namespace varnek
