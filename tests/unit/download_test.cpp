// The Download (text) and Downloader (file) components over a fake read service: what they ask
// the service for, how they sort its notifications into their events, and that a download
// never damages the file it replaces.
#include "download/Download.h"
#include "download/Downloader.h"
#include "fakes/Fakes.h"

#include <gtest/gtest.h>

#include <memory>

using namespace varnek;
using varnek::fakes::Bytes;
using varnek::fakes::Notification;

namespace {

struct DownloadTest : ::testing::Test {
    fakes::FakeReadService reads;
    std::unique_ptr<Download> download = std::make_unique<Download>(reads);
    std::vector<std::string> events;

    void SetUp() override {
        download->DownloadProgress = [this](const std::string& key, std::int32_t progress,
                                            std::int32_t max, std::int32_t status,
                                            const std::string& text) {
            events.push_back("progress " + key + " " + std::to_string(progress) + "/" +
                             std::to_string(max) + " " + std::to_string(status) + " " + text);
        };
        download->DownloadError = [this](const std::string& key, std::int32_t code,
                                         const std::string& description) {
            events.push_back("error " + key + " " + std::to_string(code) + " " + description);
        };
        download->DownloadComplete = [this](const std::string& key,
                                            const std::vector<std::uint8_t>& value,
                                            std::int32_t type) {
            events.push_back("complete " + key + " [" + std::string(value.begin(), value.end()) +
                             "] " + std::to_string(type));
        };
    }
};

const std::string url = "http://127.0.0.1:18080/v.txt";

} // namespace

TEST_F(DownloadTest, ARequestCarriesItsArgumentsAndTheTextCap) {
    download->BeginDownload(url);
    ASSERT_EQ(reads.requests.size(), 1u);
    EXPECT_EQ(reads.requests[0].url, url);
    EXPECT_EQ(reads.requests[0].propertyName, "");
    EXPECT_EQ(reads.requests[0].asyncType, 2);
    EXPECT_EQ(reads.requests[0].readOptions, 16);
    EXPECT_EQ(reads.requests[0].maxBytes, 65536);
    EXPECT_EQ(Download::MaxBytes, 65536);

    download->BeginDownload("http://127.0.0.1:18080/b", "txt", 1, 0);
    ASSERT_EQ(reads.requests.size(), 2u);
    EXPECT_EQ(reads.requests[1].url, "http://127.0.0.1:18080/b");
    EXPECT_EQ(reads.requests[1].propertyName, "txt");
    EXPECT_EQ(reads.requests[1].asyncType, 1);
    EXPECT_EQ(reads.requests[1].readOptions, 0);
    EXPECT_EQ(reads.requests[1].maxBytes, 65536);
    EXPECT_TRUE(events.empty());
}

TEST_F(DownloadTest, EveryStatusCodeHasItsText) {
    const std::map<int, std::string> known = {
        {0, "An Error Has Occurred."},
        {1, "Finding Resource."},
        {2, "Connecting To Resource."},
        {3, "Redirecting."},
        {4, "Download Initialized."},
        {5, "Download In Progress."},
        {6, "Download Complete."},
        {10, "Using Cached Copy."},
        {11, "Sending Request."},
        {13, "MIME Type Is Available."},
        {14, "Local Cache File Is Available."},
        {15, "Synchronous Download Has Started."},
        {16, "Synchronous Download Complete."},
    };
    for (int code = -3; code <= 20; ++code) {
        const auto found = known.find(code);
        EXPECT_EQ(Download::GetStatusCode(code), found == known.end() ? "Unknown." : found->second)
            << code;
    }
    for (int code : {7, 8, 9, 12, 17, 255, -1, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(Download::GetStatusCode(code), "Unknown.") << code;
    }
}

TEST_F(DownloadTest, NotificationsAreSortedIntoProgressErrorAndComplete) {
    download->BeginDownload(url, "txt");
    EXPECT_TRUE(reads.Progress(url, Notification(1)));
    EXPECT_TRUE(reads.Progress(url, Notification(5, 10, 40)));
    EXPECT_TRUE(reads.Progress(url, Notification(12, 10, 40)));
    EXPECT_TRUE(reads.Progress(url, Notification(5, 20, 40, "Reading 20 of 40")));
    EXPECT_TRUE(reads.Progress(url, Notification(0)));
    EXPECT_TRUE(reads.Progress(url, Notification(0, 0, 0, "HTTP 404")));
    auto done = Notification(6, 3, 3);
    done.Value = Bytes("1.0");
    EXPECT_TRUE(reads.Complete(url, done));
    EXPECT_EQ(events, (std::vector<std::string>{
                          "progress txt 0/0 1 Finding Resource.",
                          "progress txt 10/40 5 Download In Progress.",
                          "progress txt 10/40 12 Unknown.",
                          "progress txt 20/40 5 Reading 20 of 40",
                          "error txt 0 An Error Has Occurred.",
                          "error txt 0 HTTP 404",
                          "complete txt [1.0] 2",
                      }));

    // A failed read ends in an error, never in a completion.
    events.clear();
    download->BeginDownload(url, "txt");
    EXPECT_TRUE(reads.Complete(url, Notification(0, 0, 0, "The answer is too long")));
    download->BeginDownload(url, "k2");
    EXPECT_TRUE(reads.Complete(url, Notification(0)));
    EXPECT_EQ(events, (std::vector<std::string>{"error txt 0 The answer is too long",
                                                "error k2 0 An Error Has Occurred."}));
}

TEST_F(DownloadTest, AFileReadCompletesWithTheNameOfItsFile) {
    download->BeginDownload(url, "f", vbAsyncTypeFile);
    AsyncProperty done = Notification(6, 2, 2);
    EXPECT_TRUE(reads.Complete(url, done)); // the fake names the file the request asked for
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], "complete f [] 1");

    events.clear();
    ReadRequest request;
    request.url = url;
    request.asyncType = vbAsyncTypeFile;
    request.propertyName = "g";
    request.targetFile = "C:\\t\\v.txt";
    reads.AsyncRead(*download, request);
    EXPECT_TRUE(reads.Complete(url, done));
    EXPECT_EQ(events, (std::vector<std::string>{"complete g [C:\\t\\v.txt] 1"}));
}

TEST_F(DownloadTest, AReadThatCannotStartRaisesTheErrorFromBeginDownload) {
    reads.startError = AsyncReadError(5, "Access denied");
    download->BeginDownload(url, "txt");
    EXPECT_EQ(events, (std::vector<std::string>{"error txt 5 Access denied"}));
    EXPECT_EQ(reads.Active(url), nullptr);

    // Without a handler the failure passes silently.
    download->DownloadError = nullptr;
    download->BeginDownload(url, "txt");
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(DownloadTest, CancelStopsTheReadAndIgnoresErrors) {
    download->BeginDownload(url, "txt");
    download->Cancel("txt");
    EXPECT_EQ(reads.log.back(), "cancel txt");
    EXPECT_FALSE(reads.Complete(url, Notification(6)));

    download->BeginDownload(url);
    reads.cancelError = AsyncReadError(1, "no such read");
    EXPECT_NO_THROW(download->Cancel());
    EXPECT_EQ(reads.log.back(), "cancel ");
    EXPECT_TRUE(events.empty());
}

TEST_F(DownloadTest, AComponentThatIsGoneGetsNothingMore) {
    download->BeginDownload(url, "txt");
    download->BeginDownload("http://127.0.0.1:18080/other", "other");
    download.reset();
    EXPECT_EQ(reads.log.back(), "forget");
    EXPECT_TRUE(reads.active.empty());
    EXPECT_FALSE(reads.Progress(url, Notification(5, 1, 2)));
    EXPECT_FALSE(reads.Complete(url, Notification(6)));
    EXPECT_TRUE(events.empty());
}

namespace {

struct DownloaderTest : ::testing::Test {
    fakes::FakeClock clock;
    fakes::FakeFiles files{clock};
    fakes::FakeProcesses processes;
    fakes::FakeReadService reads;
    fakes::FakeDialogs dialogs;
    std::unique_ptr<Downloader> downloader =
        std::make_unique<Downloader>(reads, files, processes, dialogs);
    std::vector<std::string> events;

    const std::string url = "http://127.0.0.1:18080/VarnekITApp/Pkg.zip";
    const std::string target = "C:\\Program Files\\Varnek\\Pkg.exe";
    std::string temporary; // the file the last download started writes
    const DateTime old{2025, 1, 2, 3, 4, 5};

    void Begin(Downloader& which) {
        which.BeginDownload(url, target);
        temporary = reads.requests.back().targetFile;
    }
    void Begin() { Begin(*downloader); }

    void SetUp() override {
        downloader->DownloadProgress = [this](std::int32_t cur, std::int32_t max,
                                              const std::string& file) {
            events.push_back("progress " + std::to_string(cur) + "/" + std::to_string(max) + " " +
                             file);
        };
        downloader->DownloadError = [this](const std::string& file) {
            events.push_back("error " + file);
        };
        downloader->DownloadComplete = [this](std::int32_t max, const std::string& file) {
            events.push_back("complete " + std::to_string(max) + " " + file);
        };
    }

    // The service wrote `body` to the temporary file and reports the end of the read.
    void Arrive(std::string_view body, std::int32_t announced, std::int32_t status = 6) {
        files.Put(temporary, Bytes(body), clock.now);
        const auto size = static_cast<std::int32_t>(body.size());
        ASSERT_TRUE(reads.Complete(url, Notification(status, size, announced)));
    }
};

} // namespace

TEST_F(DownloaderTest, TheDataGoesToATemporaryFileBesideTheDestination) {
    Begin();
    ASSERT_EQ(reads.requests.size(), 1u);
    const ReadRequest& request = reads.requests[0];
    EXPECT_EQ(request.url, url);
    EXPECT_EQ(request.asyncType, 1);
    EXPECT_EQ(request.propertyName, target);
    EXPECT_EQ(request.readOptions, 16);
    // A name of its own: this process's id and a count, so neither another download of this
    // run nor another copy of the program (another user's session) writes the same file.
    EXPECT_EQ(request.targetFile, target + ".1a2b-" + request.targetFile.substr(target.size() + 6));
    EXPECT_TRUE(request.targetFile.ends_with(".download"));
    EXPECT_EQ(downloader->TemporaryFileOf(target), request.targetFile);
    EXPECT_TRUE(
        Downloader::IsTemporaryOf("Pkg.exe" + request.targetFile.substr(target.size()), "Pkg.exe"));
    Downloader other(reads, files, processes, dialogs);
    other.BeginDownload(url, target);
    EXPECT_NE(reads.requests.back().targetFile, request.targetFile);
    EXPECT_TRUE(dialogs.shown.empty());

    for (const auto& [name, of] : std::initializer_list<std::pair<const char*, bool>>{
             {"Pkg.exe.download", true}, // the name earlier versions used
             {"Pkg.exe.ff-12.download", true},
             {"Pkg.exe", false},
             {"Pkg.exe.download.txt", false},
             {"Pkg.exe-1.download", false},
             {"Other.exe.1-1.download", false},
             {".download", false}}) {
        EXPECT_EQ(Downloader::IsTemporaryOf(name, "Pkg.exe"), of) << name;
    }
}

TEST_F(DownloaderTest, ProgressWithoutAKnownSizeIsIgnored) {
    Begin();
    AsyncProperty step = Notification(5, 100, 0);
    EXPECT_TRUE(reads.Progress(url, step));
    step.BytesMax = 400;
    EXPECT_TRUE(reads.Progress(url, step));
    step.StatusCode = 0; // the size decides, not the status
    step.BytesRead = 400;
    EXPECT_TRUE(reads.Progress(url, step));
    EXPECT_EQ(events, (std::vector<std::string>{"progress 100/400 " + target,
                                                "progress 400/400 " + target}));
}

TEST_F(DownloaderTest, AWholeDownloadReplacesTheDestinationByAMove) {
    files.Put(target, Bytes("MZ old program"), old);
    downloader->RequireExecutable = true;
    Begin();
    Arrive("MZ new program!", 15);
    EXPECT_EQ(events, (std::vector<std::string>{"complete 15 " + target}));
    EXPECT_EQ(files.Content(target), Bytes("MZ new program!"));
    EXPECT_FALSE(files.Exists(temporary));
    EXPECT_EQ(files.log, (std::vector<std::string>{"move " + temporary + " -> " + target}));

    // Without the option any body is taken; a destination that did not exist is created.
    events.clear();
    files.files.clear();
    Downloader plain(reads, files, processes, dialogs);
    plain.DownloadComplete = downloader->DownloadComplete;
    Begin(plain);
    Arrive("PK\x03\x04 zip", 8);
    EXPECT_EQ(events, (std::vector<std::string>{"complete 8 " + target}));
    EXPECT_EQ(files.Content(target), Bytes("PK\x03\x04 zip"));
}

TEST_F(DownloaderTest, AnythingButAWholeValidDownloadLeavesTheDestinationAsItWas) {
    struct Case {
        const char* what;
        std::string body;
        std::int32_t announced;
        std::int32_t status;
        bool moveSucceeds;
    };
    const std::string good = "MZ0123456789";
    const Case cases[] = {
        {"cut transfer", "MZ01234", 12, 6, true},
        {"longer than announced", good + "xx", 12, 6, true},
        {"not a program", "<html>error</html>", 18, 6, true},
        {"lower-case mz", "mz0123456789", 12, 6, true},
        {"one byte", "M", 1, 6, true},
        {"failed read", good, 12, 0, true},
        {"no size", good, 0, 6, true},
        {"move failed", good, 12, 6, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        events.clear();
        files.deleted.clear();
        files.Put(target, Bytes("MZ good"), old);
        files.moveSucceeds = c.moveSucceeds;
        downloader->RequireExecutable = true;
        Begin();
        Arrive(c.body, c.announced, c.status);
        EXPECT_EQ(files.Content(target), Bytes("MZ good"));
        EXPECT_EQ(files.DateCreated(target), old);
        EXPECT_FALSE(files.Exists(temporary));
        EXPECT_EQ(files.deleted, (std::vector<std::string>{temporary}));
        EXPECT_EQ(events, (std::vector<std::string>{"error " + target, "complete 0 " + target}));
    }

    // The temporary file missing altogether is a failure too.
    events.clear();
    Begin();
    ASSERT_TRUE(reads.Complete(url, Notification(6, 0, 12)));
    EXPECT_EQ(events, (std::vector<std::string>{"error " + target, "complete 0 " + target}));
    EXPECT_EQ(files.Content(target), Bytes("MZ good"));
}

TEST_F(DownloaderTest, ADownloadThatCannotStartIsShownInAMessageBox) {
    reads.startError = AsyncReadError(5, "Access is denied.");
    downloader->BeginDownload(url, target);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              "5:Error in call to BeginDownload().\r\n\r\nError Description: Access is denied.");
    EXPECT_EQ(dialogs.shown[0].style, 16u);
    EXPECT_EQ(dialogs.shown[0].title, std::optional<std::string>("Warning"));
    EXPECT_TRUE(events.empty());

    reads.startError = AsyncReadError(-2147012889, "The server name could not be resolved");
    downloader->BeginDownload(url, target);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, "-2147012889:Error in call to BeginDownload().\r\n\r\n"
                                     "Error Description: The server name could not be resolved");
    EXPECT_TRUE(events.empty());

    // Nothing was started, so destroying the component removes nothing.
    downloader.reset();
    EXPECT_TRUE(files.deleted.empty());
}

TEST_F(DownloaderTest, AComponentThatIsGoneGetsNothingAndLeavesNoTemporaryFile) {
    files.Put(target, Bytes("MZ good"), old);
    Begin();
    files.Put(temporary, Bytes("MZ half"), clock.now); // part of the data is written
    downloader.reset();
    EXPECT_EQ(reads.log.back(), "forget");
    EXPECT_FALSE(files.Exists(temporary));
    EXPECT_EQ(files.deleted, (std::vector<std::string>{temporary}));
    EXPECT_FALSE(reads.Complete(url, Notification(6, 0, 7)));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(files.Content(target), Bytes("MZ good"));
}

TEST_F(DownloaderTest, ACheckOfTheWholeFileDecidesBeforeTheDestinationIsTouched) {
    std::vector<std::string> reasons;
    downloader->DownloadFailed = [&](const std::string& file, const std::string& reason) {
        reasons.push_back(file + ": " + reason);
    };
    std::vector<std::string> found;
    downloader->Checked = [&](const std::string& file, const FileVerdict& verdict) {
        found.push_back(file + " " + std::to_string(verdict.lasting) + " " + verdict.refusal +
                        " [" + (verdict.notes.empty() ? "" : verdict.notes[0]) + "]");
    };
    std::vector<std::string> checked;
    FileVerdict verdict{"refused: signed by someone else", true, {"signed by someone else"}};
    downloader->Accept = [&](const std::string& file) {
        checked.push_back(file + " " + std::to_string(files.Content(file) == Bytes("MZ new")));
        return verdict;
    };
    files.Put(target, Bytes("MZ good"), old);
    Begin();
    Arrive("MZ new", 6);
    EXPECT_EQ(checked, (std::vector<std::string>{temporary + " 1"}));
    EXPECT_EQ(found, (std::vector<std::string>{target + " 1 refused: signed by someone else "
                                                        "[signed by someone else]"}));
    EXPECT_EQ(reasons, (std::vector<std::string>{target + ": refused: signed by someone else"}));
    EXPECT_EQ(events, (std::vector<std::string>{"error " + target, "complete 0 " + target}));
    EXPECT_EQ(files.Content(target), Bytes("MZ good"));
    EXPECT_FALSE(files.Exists(temporary));

    // A cut file never reaches the check.
    checked.clear();
    reasons.clear();
    Begin();
    Arrive("MZ ne", 6);
    EXPECT_TRUE(checked.empty());
    EXPECT_EQ(reasons, (std::vector<std::string>{target + ": the file is not whole"}));

    // Passed, the file takes its place. Where a program runs from the destination, its file
    // cannot be replaced: the download fails and it stays, unless the component may rename it
    // aside first (it runs on from there, and the new file takes its name).
    verdict = {};
    files.inUse.insert(target);
    for (const bool aside : {false, true}) {
        events.clear();
        downloader->MoveAsideWhenHeld = aside;
        Begin();
        // "<target>.<tag>.download" -> "<target>.<tag>.old"
        const std::string copy = temporary.substr(0, temporary.size() - 9) + ".old";
        Arrive("MZ new", 6);
        EXPECT_EQ(files.Content(target), Bytes(aside ? "MZ new" : "MZ good"));
        EXPECT_EQ(files.Content(copy), aside ? std::optional(Bytes("MZ good")) : std::nullopt);
        EXPECT_EQ(events.back(), aside ? "complete 6 " + target : "complete 0 " + target);
        EXPECT_FALSE(files.Exists(temporary));
    }
}

TEST_F(DownloaderTest, ASecondStartOrAStopEndsTheDownloadAndRemovesItsFile) {
    files.Put(target, Bytes("MZ good"), old);
    Begin();
    const std::string first = temporary;
    files.Put(first, Bytes("MZ ha"), clock.now);
    // The same destination again: the first download ends, its file goes, the second goes on.
    Begin();
    EXPECT_NE(temporary, first);
    EXPECT_FALSE(files.Exists(first));
    EXPECT_EQ(reads.log,
              (std::vector<std::string>{"read " + url, "cancel " + target, "read " + url}));
    ASSERT_EQ(reads.active.size(), 1u);
    // Stopped: no event, no file, the destination as it was.
    files.Put(temporary, Bytes("MZ ha"), clock.now);
    downloader->Stop();
    EXPECT_FALSE(files.Exists(temporary));
    EXPECT_TRUE(reads.active.empty());
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(files.Content(target), Bytes("MZ good"));
    EXPECT_EQ(downloader->TemporaryFileOf(target), "");
}

TEST_F(DownloaderTest, LeftoversOfEarlierRunsAreRemovedAndNothingElse) {
    const std::string folder = "C:\\Program Files\\Varnek";
    for (const char* name : {"Pkg.exe.download", "Pkg.exe.9c-3.download", "New.exe.1-1.download",
                             "Pkg.exe", "New.exe", "Other.exe.1-1.download", "notes.txt"}) {
        files.Put(folder + "\\" + name, Bytes("x"), old);
    }
    files.Put(folder + "\\sub\\Pkg.exe.1-1.download", Bytes("x"), old);
    RemoveLeftoverDownloads(files, folder, {"Pkg.exe", "New.exe"});
    EXPECT_EQ(files.files,
              (std::set<std::string>{folder + "\\New.exe", folder + "\\Other.exe.1-1.download",
                                     folder + "\\Pkg.exe", folder + "\\notes.txt",
                                     folder + "\\sub\\Pkg.exe.1-1.download"}));
}
