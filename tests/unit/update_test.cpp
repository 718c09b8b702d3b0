// The update chain of the settings window on fake services: the client's date check, the
// program's version check, both package downloads, the replacement script and the end of the
// program that it waits for.
#include "AppFixture.h"
#include "Config.h"
#include "update/ClientDate.h"
#include "update/PackageChecks.h"
#include "update/ReplacementScript.h"
#include "update/Rollout.h"
#include "update/UpdateChain.h"
#include "update/VersionText.h"

using namespace varnek;
using varnek::fakes::Bytes;
using varnek::fakes::Notification;
using varnek::testing::AppFixture;

namespace {

const std::string server(SupportServerUrl);
const std::string clientDateUrl = server + "/VarnekITApp/VersionTeamViewer.txt";
const std::string programVersionUrl = server + "/VarnekITApp/VersionVarnekIT.txt";
const std::string clientPackageUrl = server + "/VarnekITApp/Varnek_TeamViewer.zip";
const std::string programPackageUrl = server + "/VarnekITApp/New_VarnekIT.zip";

struct UpdateTest : AppFixture {
    const std::string client = "C:\\Program Files\\Varnek\\Varnek_TeamViewer.exe";
    const std::string newProgram = "C:\\Program Files\\Varnek\\New_VarnekIT.exe";
    const std::string script = "C:\\Program Files\\Varnek\\DeleteOLD.bat";
    const std::vector<std::uint8_t> programBody = Program();
    const std::string aside = "C:\\Program Files\\Varnek\\VarnekIT.exe.old";

    // A program's first bytes: the DOS header pointing at a PE header for that machine.
    static std::vector<std::uint8_t> Program(std::uint16_t machine = ProgramMachine()) {
        std::vector<std::uint8_t> bytes(0x40, 0);
        bytes[0] = 'M', bytes[1] = 'Z', bytes[0x3C] = 0x40;
        for (const char c : std::string_view("PE\0\0", 4)) {
            bytes.push_back(static_cast<std::uint8_t>(c));
        }
        bytes.push_back(static_cast<std::uint8_t>(machine & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(machine >> 8));
        const std::string_view rest = " the new program";
        bytes.insert(bytes.end(), rest.begin(), rest.end());
        return bytes;
    }

    void LocalClient(const DateTime& created) { p.files.Put(client, Bytes("MZ old"), created); }
    // The whole chain starts as the button (or the timer) starts it.
    void Check(std::string_view clientDate) {
        Settings().bUpdateCheck_Click();
        ASSERT_TRUE(p.reads.CompleteWith(clientDateUrl, clientDate));
    }
    void CheckProgram(std::string_view version) {
        Settings().StartVarnekITUpdateCheck();
        ASSERT_TRUE(p.reads.CompleteWith(programVersionUrl, version));
    }
    // The service streamed the body to the file the read asked for and reports the end.
    void DeliverFile(const std::string& url, const std::vector<std::uint8_t>& body) {
        const auto* read = p.reads.Active(url);
        ASSERT_NE(read, nullptr) << url;
        p.files.Put(read->request.targetFile, body, p.clock.now);
        const auto size = static_cast<std::int32_t>(body.size());
        ASSERT_TRUE(
            p.reads.Complete(url, Notification(vbAsyncStatusCodeEndDownloadData, size, size)));
    }
    // The program package arrives, passes its checks and, in its place, its self-test.
    void DeliverProgram(const std::vector<std::uint8_t>& body) {
        DeliverFile(programPackageUrl, body);
        p.processes.FinishRuns();
    }
    void FailFile(const std::string& url) {
        ASSERT_TRUE(p.reads.Complete(url, Notification(vbAsyncStatusCodeError, 0, 0, "HTTP 500")));
    }
    bool Reading(const std::string& url) { return p.reads.Active(url) != nullptr; }
    // The temporary file the active download of that URL writes.
    std::string Temporary(const std::string& url) {
        const auto* read = p.reads.Active(url);
        return read ? read->request.targetFile : std::string();
    }
    // A temporary file of this process beside `file`: "<file>.<process>-<n>.download".
    static void ExpectTemporaryOf(const std::string& temporary, const std::string& file) {
        EXPECT_TRUE(temporary.starts_with(file + ".1a2b-")) << temporary;
        EXPECT_TRUE(temporary.ends_with(".download")) << temporary;
    }
    std::vector<std::string> Urls() {
        std::vector<std::string> urls;
        for (const auto& request : p.reads.requests) {
            urls.push_back(request.url);
        }
        return urls;
    }
    bool IconRemoved() {
        for (const auto& call : p.notifyShell.calls) {
            if (call.message == NotifyMessage::Delete) {
                return true;
            }
        }
        return false;
    }
};

// A case of a test that runs once for each case, on a fresh fixture: its name, as googletest
// shows it, and its data.
template <class Data> struct Named {
    const char* name;
    Data data;
};
template <class Data> void PrintTo(const Named<Data>& named, std::ostream* out) {
    *out << named.name;
}
const auto CaseName = [](const auto& info) { return std::string(info.param.name); };

template <class Data> struct UpdateCase : UpdateTest, ::testing::WithParamInterface<Named<Data>> {
    const Data& Case() const { return this->GetParam().data; }
};

const std::string Publisher = "C=DK, O=Varnek IT ApS, CN=Varnek IT";
// The same common name, another organisation: another signer.
const std::string Impostor = "C=DK, O=Someone Else, CN=Varnek IT";
const Signature Unsigned{Signature::Verdict::Unsigned, static_cast<std::int32_t>(0x800B0100), {}};
const Signature Altered{Signature::Verdict::Invalid, static_cast<std::int32_t>(0x80096010), {}};
const Signature CannotCheck{Signature::Verdict::CannotCheck, 0, {}};
const Signature ByPublisher = fakes::FakeSignatureCheck::Valid(Publisher);
const Signature ByImpostor = fakes::FakeSignatureCheck::Valid(Impostor);

bool Logged(const fakes::MemoryLogFile& log, std::string_view part) {
    return std::any_of(log.lines.begin(), log.lines.end(),
                       [&](const std::string& line) { return line.find(part) != line.npos; });
}

} // namespace

TEST(RolloutTest, TheShareHoldsBackOnlyTheAutomaticCheckOfMachinesNotBelowIt) {
    const std::string id = "8f3c2a7e-1b4d-4c6e-9a0f-5d2e7b1c3a94"; // number 62 for 1.0.3
    const std::string bom = "\xEF\xBB\xBF";                        // a text saved by hand
    // The file's bytes and the share they give: a whole number to 100, else every machine.
    const std::pair<std::string, int> files[] = {
        {"0", 0},  {"62", 62},   {"63", 63},  {"100", 100}, {" 7\r\n", 7}, {bom + "25", 25},
        {"", 100}, {"101", 100}, {"-5", 100}, {"50%", 100}, {"1 0", 100},  {"99999999999", 100}};
    for (const auto& [text, share] : files) {
        EXPECT_EQ(RolloutShare(Bytes(text)), share) << text;
        EXPECT_EQ(DecideRollout(RolloutShare(Bytes(text)), id, "1.0.3", false).takes, share > 62)
            << text;
        EXPECT_TRUE(DecideRollout(RolloutShare(Bytes(text)), id, "1.0.3", true).takes) << text;
    }
    EXPECT_EQ(RolloutShare(std::nullopt), 100); // no file, or a failed read
    EXPECT_EQ(DecideRollout(10, id, "1.0.3", false).WaitText("1.0.3"),
              "1.0.3 is offered to 10 % of machines; this one is number 62");
    // Without a machine id there is no place: only every machine, or a person, takes it.
    EXPECT_FALSE(DecideRollout(99, std::nullopt, "1.0.3", false).takes);
    EXPECT_TRUE(DecideRollout(100, std::nullopt, "1.0.3", false).takes);
}

TEST(RolloutTest, AMachinesNumberIsStableAndSpreadEvenlyAndNewForEachVersion) {
    // The first 32 bits of SHA-256("<id> <version>") modulo 100, as Python's hashlib gives it.
    EXPECT_EQ(MachineNumber("8f3c2a7e-1b4d-4c6e-9a0f-5d2e7b1c3a94", "1.0.3"), 62);
    EXPECT_EQ(MachineNumber("8f3c2a7e-1b4d-4c6e-9a0f-5d2e7b1c3a94", "1.0.4"), 86);
    std::array<int, 10> tenths{};
    int moved = 0;
    std::uint64_t x = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 1000; ++i) {
        std::string id; // 1000 made-up machine ids in the registry's form
        for (const char c : std::string("xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx")) {
            x = x * 6364136223846793005u + 1442695040888963407u;
            id += c == '-' ? '-' : "0123456789abcdef"[x >> 60];
        }
        const int number = MachineNumber(id, "1.0.3");
        ASSERT_TRUE(number >= 0 && number < 100) << number;
        EXPECT_EQ(MachineNumber(id, "1.0.3"), number);
        ++tenths[number / 10];
        moved += MachineNumber(id, "1.0.4") != number;
    }
    for (const int count : tenths) {
        EXPECT_TRUE(count >= 70 && count <= 130) << ::testing::PrintToString(tenths);
    }
    // The next release picks its first machines afresh (1 in 100 keeps its number by chance).
    EXPECT_GT(moved, 950);
}

TEST_F(UpdateTest, TheCheckAsksForTheClientDateAsText) {
    Start();
    Settings().bUpdateCheck_Click();
    ASSERT_EQ(p.reads.requests.size(), 1u);
    EXPECT_EQ(p.reads.requests[0].url, clientDateUrl);
    EXPECT_EQ(p.reads.requests[0].propertyName, "txt");
    EXPECT_EQ(p.reads.requests[0].asyncType, vbAsyncTypeByteArray);
    EXPECT_EQ(p.reads.requests[0].readOptions, 16);
    EXPECT_EQ(p.reads.requests[0].maxBytes, 64 * 1024);

    // A check that cannot start passes silently.
    p.reads.startError = AsyncReadError(12029, "Cannot connect");
    EXPECT_NO_THROW(Settings().bUpdateCheck_Click());
    EXPECT_NO_THROW(Settings().StartVarnekITUpdateCheck());
    EXPECT_TRUE(p.dialogs.shown.empty());
    EXPECT_EQ(p.reads.requests.size(), 1u);
}

TEST_F(UpdateTest, WithoutALocalClientTheClientIsDownloadedAtOnce) {
    Start();
    Check("1/3/2026");
    const auto* read = p.reads.Active(clientPackageUrl);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->request.asyncType, vbAsyncTypeFile);
    EXPECT_EQ(read->request.propertyName, client);
    ExpectTemporaryOf(read->request.targetFile, client);
    EXPECT_FALSE(Reading(programVersionUrl));
    for (Ctl label : {Ctl::t_TeamViewerMinVer, Ctl::t_TeamViewerNyVer, Ctl::t_TeamViewerDateStat}) {
        EXPECT_EQ(Caption(label), "");
    }
}

TEST_F(UpdateTest, AClientOfTheSameDayOrLaterIsUpToDateAndTheProgramIsCheckedNext) {
    LocalClient({2026, 3, 14, 23, 59, 59});
    Start();
    Check("14/3/2026");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerMinVer), "14/3/2026");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerNyVer), "14/3/2026");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerDateStat), "Up to Date");
    EXPECT_EQ(Urls(), (std::vector<std::string>{clientDateUrl, programVersionUrl}));
    EXPECT_EQ(p.reads.requests[1].propertyName, "txt");

    Check("13/3/2026 23:59:59"); // the time of day does not count
    EXPECT_EQ(Caption(Ctl::t_TeamViewerNyVer), "13/3/2026");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerDateStat), "Up to Date");
    EXPECT_FALSE(Reading(clientPackageUrl));
}

TEST_F(UpdateTest, AnOlderClientIsReplaced) {
    LocalClient({2026, 3, 13, 23, 59, 59});
    Start();
    Check("14-3-2026");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerMinVer), "13/3/2026");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerNyVer), "14/3/2026");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerDateStat), "Update Avalible");
    EXPECT_EQ(Urls(), (std::vector<std::string>{clientDateUrl, clientPackageUrl}));
    ExpectTemporaryOf(p.reads.requests[1].targetFile, client);
}

TEST_F(UpdateTest, TheClientDateIsReadByFixedRules) {
    LocalClient({2026, 2, 7, 8, 0, 0});
    p.clock.now = {2026, 12, 7, 10, 30, 0};
    Start();
    const std::pair<const char*, const char*> valid[] = {
        {"7/12/2026", "7/12/2026"},           {"07/12/2026", "7/12/2026"},
        {"7-12-2026", "7/12/2026"},           {"7.12.2026", "7/12/2026"},
        {"2026-12-07", "7/12/2026"},          {"2026-1-2", "2/1/2026"},
        {"  7/12/2026\r\n", "7/12/2026"},     {"7/12/2026 ", "7/12/2026"},
        {"\t7.12.2026 13:45\n", "7/12/2026"}, {"2026-12-07 08:05:09", "7/12/2026"},
        {"29/2/2024", "29/2/2024"},           {"31/12/1999", "31/12/1999"},
    };
    for (const auto& [text, shown] : valid) {
        Settings().SetCaption(Ctl::t_TeamViewerNyVer, "before");
        Check(text);
        EXPECT_EQ(Caption(Ctl::t_TeamViewerNyVer), shown) << text;
        EXPECT_EQ(Caption(Ctl::t_TeamViewerMinVer), "7/2/2026");
    }

    const char* invalid[] = {"31/2/2026",
                             "29/2/2025",
                             "29/2/1900",
                             "0/1/2026",
                             "32/1/2026",
                             "7/13/2026",
                             "7/0/2026",
                             "12/31/2026",
                             "2026-13-01",
                             "2026-02-30",
                             "2026/12/07",
                             "7/12-2026",
                             "7-12.2026",
                             "7/12/26",
                             "7/12/20261",
                             "123/1/2026",
                             "7/12/2026x",
                             "7/12/2026 x",
                             "7/12/2026 25:00",
                             "7/12/2026 1:5",
                             "7/12/2026 12:60",
                             "7/12/2026 12:00:61",
                             "7/12/2026\t\t12:00x",
                             "",
                             "   ",
                             "garbage",
                             "+7/12/2026",
                             "7 / 12 / 2026",
                             "Dec 7, 2026",
                             "7/12/2026 13:45 PM"};
    for (const char* text : invalid) {
        Settings().SetCaption(Ctl::t_TeamViewerNyVer, "before");
        Settings().SetCaption(Ctl::t_TeamViewerDateStat, "before");
        Settings().SetCaption(Ctl::t_TeamViewerMinVer, "");
        const std::size_t reads = p.reads.requests.size();
        Check(text);
        EXPECT_EQ(Caption(Ctl::t_TeamViewerNyVer), "before") << text;
        EXPECT_EQ(Caption(Ctl::t_TeamViewerDateStat), "before") << text;
        EXPECT_EQ(Caption(Ctl::t_TeamViewerMinVer), "7/2/2026") << text; // shown before the text
        // No client is fetched for it; the program's check follows.
        EXPECT_EQ(Urls().back(), programVersionUrl) << text;
        EXPECT_EQ(p.reads.requests.size(), reads + 2) << text;
    }
}

TEST_F(UpdateTest, TheClientTextIsReadByteForByte) {
    // A byte that is no blank (here Latin-1 no-break space) makes the text no date.
    LocalClient({2026, 2, 7, 8, 0, 0});
    Start();
    Check("7/12/2026\xA0");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerNyVer), "");
    EXPECT_EQ(AnsiToUtf8(Bytes("\xE6\xF8\xE5 A")), "æøå A");
}

TEST_F(UpdateTest, TheProgramVersionIsComparedAsNumbers) {
    Start();
    CheckProgram("1.0.2\r\n");
    EXPECT_EQ(Caption(Ctl::t_Version_Ny), "Ny Version : 1.0.2");
    EXPECT_EQ(Caption(Ctl::t_VarnekITNyVer), "1.0.2");
    EXPECT_EQ(Caption(Ctl::t_VarnekITMinVer), "1.0.2");
    EXPECT_FALSE(Reading(programPackageUrl));

    for (const char* same :
         {"1.0.2.0", "1.0.02", " 1.0.2 ", "1.0", "1", "0.9", "1.0.1", "0.99.99"}) {
        CheckProgram(same);
        EXPECT_FALSE(Reading(programPackageUrl)) << same;
    }
    EXPECT_EQ(Caption(Ctl::t_Version_Ny), "Ny Version : 0.99.99");
    CheckProgram("0.9");
    EXPECT_EQ(Caption(Ctl::t_Version_Ny), "Ny Version : 0.9");
    EXPECT_EQ(Caption(Ctl::t_VarnekITNyVer), "0.9");
    EXPECT_FALSE(Reading(programPackageUrl));

    EXPECT_GT(ParseVersion("1.0.10"), ParseVersion("1.0.9"));
    EXPECT_EQ(ParseVersion("1.0"), ParseVersion("1.0.0"));
    EXPECT_EQ(ParseVersion("999999999.0"), (VersionNumber{999999999, 0, 0, 0}));
}

namespace {

// A version above the running one, in the forms the version file may hold.
struct NewerProgramVersion : UpdateCase<const char*> {};
const Named<const char*> newerVersions[] = {
    {"TenthPatch", "1.0.10"}, {"NextPatch", "1.0.3"},    {"NextMinor", "1.1"},
    {"NextMajor", "2"},       {"FourthPart", "1.0.2.1"}, {"ZerosAndLineBreak", "01.000.0003\n"},
};

TEST_P(NewerProgramVersion, StartsTheProgramDownload) {
    const char* newer = Case();
    Start();
    CheckProgram(newer);
    EXPECT_TRUE(Reading(programPackageUrl)) << newer;
    EXPECT_EQ(Caption(Ctl::t_VarnekITNyVer), TrimBlanks(newer)) << newer;
}
INSTANTIATE_TEST_SUITE_P(UpdateTest, NewerProgramVersion, ::testing::ValuesIn(newerVersions),
                         CaseName);

} // namespace

TEST_F(UpdateTest, AProgramVersionThatIsNoNumberEndsTheCheckSilently) {
    Start();
    Settings().SetCaption(Ctl::t_Version_Ny, "Ny Version :");
    for (const char* text :
         {"", " ", "\r\n", "1.0.x", "1..2", ".1", "1.", "1.0.2.3.4", "-1.0", "+1.0", "1.0 .2",
          "v1.0.3", "1,0,3", "1.0.3a", "1234567890.0", "1.99999999999999999999", "<html>"}) {
        CheckProgram(text);
        EXPECT_EQ(Caption(Ctl::t_Version_Ny), "Ny Version :") << text;
        EXPECT_EQ(Caption(Ctl::t_VarnekITNyVer), "") << text;
        EXPECT_EQ(Caption(Ctl::t_VarnekITMinVer), "") << text;
    }
    EXPECT_FALSE(Reading(programPackageUrl));

    // Only the read started under "txt" counts.
    Settings().VersionCheckVarnekIT_DownloadComplete("other", Bytes("9.9.9"), 2);
    EXPECT_EQ(Caption(Ctl::t_Version_Ny), "Ny Version :");
    EXPECT_FALSE(Reading(programPackageUrl));
}

TEST_F(UpdateTest, TheProgramDownloadStartsWithTheBalloon) {
    Start();
    const std::size_t before = p.notifyShell.calls.size();
    CheckProgram("1.0.3");
    ASSERT_EQ(p.notifyShell.calls.size(), before + 1);
    EXPECT_EQ(p.notifyShell.calls.back().record.szInfo, u"Updating VarnekIT");
    const auto* read = p.reads.Active(programPackageUrl);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->request.propertyName, newProgram);
    ExpectTemporaryOf(read->request.targetFile, newProgram);
    EXPECT_EQ(read->request.asyncType, vbAsyncTypeFile);
}

TEST_F(UpdateTest, ClientDatesAreBelievedUpToADayAheadAndANewClientIsDatedToday) {
    // Today is 14/3/2026. A date a day ahead (another time zone) is taken; the client gets
    // today's date, never the server's: a date from the future would keep every later client
    // out.
    LocalClient({2026, 1, 1, 9, 0, 0});
    Start();
    Check("15/3/2026");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerDateStat), "Update Avalible");
    DeliverFile(clientPackageUrl, Bytes("MZ new client"));
    EXPECT_EQ(p.files.Content(client), Bytes("MZ new client"));
    EXPECT_EQ(p.files.DateCreated(client), p.clock.now);
    EXPECT_TRUE(Reading(programVersionUrl));
    Check("14/3/2026");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerDateStat), "Up to Date");

    // Further ahead, the date is no date: no client is fetched, the program is checked.
    for (const char* future : {"16/3/2026", "31/12/9999", "1/1/2027"}) {
        p.reads.requests.clear();
        Check(future);
        EXPECT_EQ(Urls(), (std::vector<std::string>{clientDateUrl, programVersionUrl})) << future;
        EXPECT_TRUE(Logged(p.updateLog, "more than a day after today")) << future;
    }
    // The day after the last of a month and of a year.
    EXPECT_EQ(NextDay({2026, 2, 28, 23, 0, 0}), (DateTime{2026, 3, 1, 0, 0, 0}));
    EXPECT_EQ(NextDay({2024, 2, 28, 0, 0, 0}), (DateTime{2024, 2, 29, 0, 0, 0}));
    EXPECT_EQ(NextDay({2026, 12, 31, 0, 0, 0}), (DateTime{2027, 1, 1, 0, 0, 0}));
}

TEST_F(UpdateTest, AFirstClientIsDatedNowAndFoundUpToDateNextTime) {
    Start();
    Check("1/3/2026");
    DeliverFile(clientPackageUrl, Bytes("MZ first client"));
    EXPECT_EQ(p.files.DateCreated(client), p.clock.now);
    Check("1/3/2026");
    EXPECT_EQ(Caption(Ctl::t_TeamViewerDateStat), "Up to Date");
}

TEST_F(UpdateTest, AFailedClientTransferKeepsTheOldClientAndStillChecksTheProgram) {
    LocalClient({2026, 1, 1, 9, 0, 0});
    Start();
    for (bool cut : {false, true}) {
        p.reads.requests.clear();
        Check("1/3/2026");
        const std::string temporary = Temporary(clientPackageUrl);
        if (cut) {
            p.files.Put(temporary, Bytes("MZ ne"), p.clock.now);
            ASSERT_TRUE(p.reads.Complete(clientPackageUrl,
                                         Notification(vbAsyncStatusCodeEndDownloadData, 5, 13)));
        } else {
            FailFile(clientPackageUrl);
        }
        EXPECT_EQ(p.files.Content(client), Bytes("MZ old")) << cut;
        EXPECT_EQ(p.files.DateCreated(client), (DateTime{2026, 1, 1, 9, 0, 0})) << cut;
        EXPECT_FALSE(p.files.Exists(temporary)) << cut;
        EXPECT_EQ(Urls(),
                  (std::vector<std::string>{clientDateUrl, clientPackageUrl, programVersionUrl}))
            << cut;
    }
    // A package that is no program is refused the same way.
    p.reads.requests.clear();
    Check("1/3/2026");
    DeliverFile(clientPackageUrl, Bytes("<html>Not found</html>"));
    EXPECT_EQ(p.files.Content(client), Bytes("MZ old"));
    EXPECT_EQ(Urls().back(), programVersionUrl);
}

TEST_F(UpdateTest, AClientDownloadThatCannotStartIsShownAndEndsTheChain) {
    Start();
    Settings().bUpdateCheck_Click();
    p.reads.startError = AsyncReadError(5, "Access is denied.");
    ASSERT_TRUE(p.reads.CompleteWith(clientDateUrl, "1/3/2026"));
    ASSERT_EQ(p.dialogs.shown.size(), 1u);
    EXPECT_EQ(p.dialogs.shown[0].text,
              "5:Error in call to BeginDownload().\r\n\r\nError Description: Access is denied.");
    EXPECT_EQ(p.dialogs.shown[0].title, std::optional<std::string>("Warning"));
    EXPECT_EQ(Urls(), (std::vector<std::string>{clientDateUrl}));
}

TEST_F(UpdateTest, ANewerProgramReplacesTheRunningOneThroughTheScriptOnceItShowedItStarts) {
    Start();
    CheckProgram("1.0.3");
    const std::string temporary = Temporary(programPackageUrl);
    p.files.versions[temporary] = {1, 0, 3, 0};
    EXPECT_EQ(p.reads.Active(programPackageUrl)->request.maxBytes, 512 * 1024 * 1024);
    // One update at a time on the machine: its lock is held from the download on.
    EXPECT_EQ(p.processes.locks, std::set<std::string>{"Global\\VarnekIT.Update"});
    DeliverFile(programPackageUrl, programBody);
    // In its place, the new program's self-test runs before anything is replaced.
    EXPECT_EQ(p.files.Content(newProgram), programBody);
    EXPECT_FALSE(p.files.Exists(script));
    const std::string folder = "C:\\Program Files\\Varnek";
    EXPECT_EQ(p.processes.started,
              std::vector<std::string>{newProgram + " /selftest in " + folder + " (15000 ms)"});
    EXPECT_THROW(p.processes.FinishRuns(), fakes::ProgramEnded);
    const auto script_ = ReplacementScript("VarnekIT.exe.1a2b-1.old");
    EXPECT_EQ(p.files.log,
              (std::vector<std::string>{"move " + temporary + " -> " + newProgram,
                                        "write " + script + " (" + std::to_string(script_.size()) +
                                            " bytes)"}));
    EXPECT_EQ(p.processes.scripts, std::vector<std::string>{"DeleteOLD.bat in " + folder});
    EXPECT_EQ(p.files.Content(script), script_);
    // The safety net for the next logon names the same aside copy.
    EXPECT_EQ(p.registry.userValues.at(std::string(RestoreKeyPath) + "\\VarnekIT restore"),
              RestoreCommand("C:\\Windows\\system32\\cmd.exe", folder, "VarnekIT.exe.1a2b-1.old"));
    // The icon left the tray before the program ended.
    EXPECT_TRUE(IconRemoved());
    EXPECT_EQ(Main().SysTray, nullptr);
}

TEST_F(UpdateTest, TheScriptIsAsciiLinesInTheirOrderAndBounded) {
    const std::string aside = "VarnekIT.exe.1a2b-1.old";
    const auto bytes = ReplacementScript(aside, 7, 4);
    const std::string text(bytes.begin(), bytes.end());
    // Printable ASCII, every line ended by CR LF and no other line break.
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n';
    }));
    std::string lines = text;
    std::erase(lines, '\r');
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'),
              std::count(text.begin(), text.end(), '\r'));
    EXPECT_TRUE(text.ends_with("\r\nDel DeleteOLD.bat\r\n"));
    // The old program moved aside under the update's own name, never deleted first; the new one
    // right after it, or the old one back at once; started; bounded.
    const auto at = [&](std::string_view part) { return text.find(part); };
    const std::string away = "ren \"VarnekIT.exe\" \"" + aside + "\" 2>nul\r\n";
    const std::string in = "ren \"New_VarnekIT.exe\" \"VarnekIT.exe\" 2>nul\r\n";
    const std::string back = "ren \"" + aside + "\" \"VarnekIT.exe\" 2>nul\r\n";
    EXPECT_EQ(at(away + "If Exist \"VarnekIT.exe\" Goto P\r\n" + in +
                 "If Exist \"VarnekIT.exe\" Goto W\r\n" + back),
              at(away));
    EXPECT_LT(at(in), at("start \"\" \"VarnekIT.exe\""));
    EXPECT_EQ(at("Del \"VarnekIT.exe\""), std::string::npos);
    EXPECT_EQ(at("VarnekIT.exe.old"), std::string::npos);
    EXPECT_NE(at("set /a n+=1\r\nIf %n% GEQ 7 Goto B\r\n"), std::string::npos);
    EXPECT_NE(at("set /a n+=1\r\nIf %n% GEQ 4 Goto R\r\n"), std::string::npos);
    // System programs by their full paths: none is looked for in the program folder.
    for (const char* program : {"ping", "attrib"}) {
        EXPECT_EQ(at(std::string("\n") + program), std::string::npos) << program;
        EXPECT_NE(at(std::string("\"%SystemRoot%\\System32\\") + program + ".exe\""),
                  std::string::npos)
            << program;
    }
    EXPECT_EQ(ReplacementScript(aside), ReplacementScript(aside, 60, 10));
}

TEST_F(UpdateTest, AnExistingScriptIsReplacedAndARootFolderGetsNoDoubleBackslash) {
    p.programFolder = "C:\\";
    Start();
    p.files.Put("C:\\DeleteOLD.bat", Bytes("echo something else entirely\r\n"), {});
    CheckProgram("1.1.0");
    const std::string temporary = Temporary(programPackageUrl);
    ExpectTemporaryOf(temporary, "C:\\New_VarnekIT.exe");
    p.files.versions[temporary] = {1, 1, 0, 0};
    EXPECT_THROW(DeliverProgram(programBody), fakes::ProgramEnded);
    EXPECT_EQ(p.files.Content("C:\\DeleteOLD.bat"), ReplacementScript("VarnekIT.exe.1a2b-1.old"));
    EXPECT_EQ(p.processes.scripts, std::vector<std::string>{"DeleteOLD.bat in C:\\"});
}

namespace {

// Only a program whose version resource is newer than the running one is installed.
struct VersionResourceNotNewer : UpdateCase<std::optional<std::array<int, 4>>> {};
const Named<std::optional<std::array<int, 4>>> notNewer[] = {
    {"Equal", std::array<int, 4>{1, 0, 2, 0}},
    {"EqualButTheFourthNumber", std::array<int, 4>{1, 0, 2, 7}},
    {"Older", std::array<int, 4>{1, 0, 1, 9}},
    {"OlderMajor", std::array<int, 4>{0, 9, 99, 0}},
    {"NoVersionResource", std::nullopt},
};

TEST_P(VersionResourceNotNewer, TheProgramIsNotInstalled) {
    Start();
    CheckProgram("1.0.3"); // the server claims a newer one
    const std::string temporary = Temporary(programPackageUrl);
    if (Case()) {
        p.files.versions[temporary] = *Case();
    }
    DeliverProgram(programBody);
    EXPECT_FALSE(p.files.Exists(newProgram));
    EXPECT_FALSE(p.files.Exists(temporary));
    EXPECT_FALSE(p.files.Exists(script));
    EXPECT_FALSE(IconRemoved());
}
INSTANTIATE_TEST_SUITE_P(UpdateTest, VersionResourceNotNewer, ::testing::ValuesIn(notNewer),
                         CaseName);

} // namespace

TEST_F(UpdateTest, AProgramLeftFromAnEarlierRunIsNeverInstalled) {
    p.files.Put(newProgram, programBody, {2025, 5, 5, 5, 5, 5});
    p.files.versions[newProgram] = {9, 0, 0, 0};
    Start();
    CheckProgram("1.0.3");
    FailFile(programPackageUrl);
    EXPECT_FALSE(p.files.Exists(script));
    EXPECT_FALSE(IconRemoved());
    EXPECT_TRUE(app->services.files.FileExists(newProgram));
    // Even when its own completion is raised by hand with nothing written.
    Settings().Downloader1_DownloadComplete(0, newProgram);
    EXPECT_FALSE(p.files.Exists(script));
}

namespace {

// Whether the replacement script cannot be written (else it cannot be started).
struct ScriptFails : UpdateCase<bool> {};
const Named<bool> scriptFailures[] = {{"WriteFails", true}, {"StartFails", false}};

TEST_P(ScriptFails, TheProgramKeepsRunning) {
    const bool writeFails = Case();
    p.files.writeSucceeds = !writeFails;
    p.processes.startSucceeds = false;
    Start();
    CheckProgram("1.0.3");
    p.files.versions[Temporary(programPackageUrl)] = {1, 0, 3, 0};
    EXPECT_NO_THROW(DeliverProgram(programBody));
    EXPECT_FALSE(IconRemoved());
    EXPECT_NE(Main().SysTray, nullptr);
    EXPECT_EQ(p.processes.scripts.size(), writeFails ? 0u : 1u); // tried, and refused
}
INSTANTIATE_TEST_SUITE_P(UpdateTest, ScriptFails, ::testing::ValuesIn(scriptFailures), CaseName);

} // namespace

TEST_F(UpdateTest, DownloadProgressIsShownInWholePercentRoundedHalfToEven) {
    Start();
    const std::tuple<std::int32_t, std::int32_t, const char*> steps[] = {
        {1, 8, "12%"},
        {3, 8, "38%"},
        {8, 8, "100%"},
        {0, 8, "0%"},
        {1, 200, "0%"},
        {3, 200, "2%"},
        {5, 200, "2%"},
        {7, 200, "4%"},
        {2, 3, "67%"},
        {21474837, 21474837, "100%"},
        {30000000, 40000000, "75%"},
        {2000000000, INT32_MAX, "93%"},
        {INT32_MAX, INT32_MAX, "100%"},
    };
    LocalClient({2026, 1, 1, 0, 0, 0});
    Check("2/1/2026");
    CheckProgram("1.0.3");
    const std::pair<const std::string*, Ctl> downloads[] = {
        {&clientPackageUrl, Ctl::t_TeamViewer_Status},
        {&programPackageUrl, Ctl::t_VarnekIT_Status}};
    for (const auto& [url, label] : downloads) {
        for (const auto& [cur, max, shown] : steps) {
            ASSERT_TRUE(
                p.reads.Progress(*url, Notification(vbAsyncStatusCodeDownloadingData, cur, max)));
            EXPECT_EQ(Caption(label), shown) << cur << " of " << max;
        }
        // Of unknown size.
        ASSERT_TRUE(p.reads.Progress(*url, Notification(vbAsyncStatusCodeDownloadingData, 5)));
        EXPECT_EQ(Caption(label), "100%"); // unchanged
    }
    EXPECT_EQ(Caption(Ctl::t_TeamViewer_Status), "100%");
    EXPECT_EQ(PercentText(5, 0), "0%");
}

TEST_F(UpdateTest, ClosingTheWindowMidCheckDropsItsReads) {
    LocalClient({2026, 1, 1, 0, 0, 0});
    Start();
    Settings().bUpdateCheck_Click();
    CheckProgram("1.0.3"); // the program download is under way too
    const std::string temporary = Temporary(programPackageUrl);
    p.files.Put(temporary, Bytes("MZ par"), p.clock.now);
    Settings().bLuk_Click();
    app->ReleaseUnloaded();
    EXPECT_FALSE(app->IndstillingerLoaded());
    EXPECT_EQ(std::count(p.reads.log.begin(), p.reads.log.end(), "forget"), 5); // each component
    EXPECT_TRUE(p.reads.active.empty());
    EXPECT_FALSE(p.files.Exists(temporary));

    // The worker's late messages reach nobody, and nothing of the old window survives.
    EXPECT_FALSE(p.reads.CompleteWith(clientDateUrl, "20/3/2026"));
    EXPECT_FALSE(
        p.reads.Progress(programPackageUrl, Notification(vbAsyncStatusCodeDownloadingData, 1, 2)));
    EXPECT_EQ(Caption(Ctl::t_TeamViewerDateStat), ""); // a new window
    EXPECT_EQ(Caption(Ctl::t_VarnekIT_Status), "");
    EXPECT_FALSE(IconRemoved());
}

namespace {

// A signed program installs only what its own signer signed: the running program's signature,
// the download's, and the new program's when the script is about to start.
struct ProgramSignatures {
    Signature self, download, atScript;
    bool installed;
};
struct SignedProgram : UpdateCase<ProgramSignatures> {};
const Named<ProgramSignatures> programSignatures[] = {
    // The certificate renewed: the same subject under the same root.
    {"Renewed", {ByPublisher, ByPublisher, ByPublisher, true}},
    {"AnotherOrganisation", {ByPublisher, ByImpostor, ByImpostor, false}},
    {"Unsigned", {ByPublisher, Unsigned, Unsigned, false}},
    {"AlteredAfterSigning", {ByPublisher, Altered, Altered, false}},
    {"SwappedBeforeTheScript", {ByPublisher, ByPublisher, ByImpostor, false}},
    {"OwnSignatureUnconfirmed", {Altered, ByPublisher, ByPublisher, false}},
    {"NoCheckPossible", {CannotCheck, ByPublisher, ByPublisher, false}},
    {"AnUnsignedProgramTakesAny", {Unsigned, Unsigned, Unsigned, true}},
};

TEST_P(SignedProgram, InstallsOnlyWhatItsOwnSignerSigned) {
    const ProgramSignatures& c = Case();
    p.signatures.self = c.self;
    Start();
    CheckProgram("1.0.3");
    const std::string temporary = Temporary(programPackageUrl);
    p.files.versions[temporary] = {1, 0, 3, 0};
    p.signatures.signatures[temporary] = c.download;
    p.signatures.signatures[newProgram] = c.atScript;
    if (c.installed) {
        EXPECT_THROW(DeliverProgram(programBody), fakes::ProgramEnded);
        EXPECT_TRUE(p.files.Exists(script));
        EXPECT_TRUE(Logged(p.updateLog, "replacement started"));
        return;
    }
    EXPECT_NO_THROW(DeliverProgram(programBody));
    // Refused: no file stays, nothing is replaced, the program runs on, nobody is asked.
    EXPECT_FALSE(p.files.Exists(newProgram));
    EXPECT_FALSE(p.files.Exists(temporary));
    EXPECT_FALSE(p.files.Exists(script));
    EXPECT_FALSE(IconRemoved());
    EXPECT_TRUE(p.dialogs.shown.empty());
    // The log says why, and names the signers.
    EXPECT_TRUE(Logged(p.updateLog, "refused")) << ::testing::PrintToString(p.updateLog.lines);
    if (c.self.verdict == Signature::Verdict::Valid) {
        EXPECT_TRUE(Logged(p.updateLog, "\"" + Publisher + "\""));
    }
    if (c.download.verdict == Signature::Verdict::Valid && c.download.subject == Impostor) {
        EXPECT_TRUE(Logged(p.updateLog, "signed by \"" + Impostor + "\""));
    }
}
INSTANTIATE_TEST_SUITE_P(UpdateTest, SignedProgram, ::testing::ValuesIn(programSignatures),
                         CaseName);

// A new client must be signed as the present one is.
struct ClientSignatures {
    std::optional<Signature> present; // no client at all when absent
    Signature download;
    bool replaced;
};
struct SignedClient : UpdateCase<ClientSignatures> {};
const Named<ClientSignatures> clientSignatures[] = {
    {"SameSignerNewKey", {ByPublisher, ByPublisher, true}},
    {"AnotherSigner", {ByPublisher, ByImpostor, false}},
    {"Unsigned", {ByPublisher, Unsigned, false}},
    {"PresentOneUnsigned", {Unsigned, Unsigned, true}},
    {"PresentOneUnchecked", {CannotCheck, ByPublisher, false}},
    // Not valid is not unsigned: it keeps its place.
    {"PresentOneAltered", {Altered, Unsigned, false}},
    {"NoClientYet", {std::nullopt, Unsigned, true}},
};

TEST_P(SignedClient, ReplacesThePresentOneOnlyWhenSignedAsItIs) {
    const ClientSignatures& c = Case();
    if (c.present) {
        LocalClient({2026, 1, 1, 9, 0, 0});
        p.signatures.signatures[client] = *c.present;
    }
    Start();
    Check("1/3/2026");
    p.signatures.signatures[Temporary(clientPackageUrl)] = c.download;
    DeliverFile(clientPackageUrl, Bytes("MZ new client"));
    EXPECT_EQ(p.files.Content(client), c.replaced ? Bytes("MZ new client") : Bytes("MZ old"));
    EXPECT_EQ(Logged(p.updateLog, "client replaced"), c.replaced);
    EXPECT_EQ(Logged(p.updateLog, "refused"), !c.replaced);
    // Either way the program's check follows.
    EXPECT_TRUE(Reading(programVersionUrl));
}
INSTANTIATE_TEST_SUITE_P(UpdateTest, SignedClient, ::testing::ValuesIn(clientSignatures), CaseName);

// The chain on its own, with what it needs passed in.
struct ChainHost final : IUpdateHost {
    void SetLabel(UpdateLabel label, std::string_view text) override {
        labels[label] = std::string(text);
    }
    std::string Label(UpdateLabel label) const override {
        const auto found = labels.find(label);
        return found == labels.end() ? std::string() : found->second;
    }
    void ShowUpdatingBalloon() override { ++balloons; }
    [[noreturn]] void EndForReplacement() override { throw fakes::ProgramEnded{}; }
    std::map<UpdateLabel, std::string> labels;
    int balloons = 0;
};

} // namespace

TEST_F(UpdateTest, AConfiguredPublisherDecidesForTheClient) {
    ChainHost host;
    UpdateChain chain(UpdateServices{p.reads,
                                     p.files,
                                     p.clock,
                                     p.dialogs,
                                     p.signatures,
                                     p.updateLog,
                                     p.processes,
                                     p.registry,
                                     p.policies,
                                     p.machine,
                                     p.programFolder,
                                     Publisher,
                                     {},
                                     {}},
                      host);
    // The present client's signer does not count then, and neither does its absence.
    for (const auto& [download, replaced] :
         {std::pair{fakes::FakeSignatureCheck::Valid(Publisher), true},
          std::pair{fakes::FakeSignatureCheck::Valid(Impostor), false},
          std::pair{Signature{Signature::Verdict::Unsigned, 0, {}}, false}}) {
        p.files.files.erase(client);
        chain.DownloadTeamViewer();
        p.signatures.signatures[Temporary(clientPackageUrl)] = download;
        DeliverFile(clientPackageUrl, Bytes("MZ client"));
        EXPECT_EQ(p.files.Exists(client), replaced) << download.subject;
    }
    EXPECT_TRUE(Logged(p.updateLog, "not by the configured publisher \"" + Publisher + "\""));
}

TEST_F(UpdateTest, EveryDecisionOfTheChainIsLoggedWithTheLocalTime) {
    LocalClient({2026, 1, 1, 9, 0, 0});
    Start();
    Check("1/3/2026");
    FailFile(clientPackageUrl);
    ASSERT_TRUE(p.reads.CompleteWith(programVersionUrl, "1.0.3"));
    p.files.versions[Temporary(programPackageUrl)] = {1, 0, 3, 0};
    EXPECT_THROW(DeliverProgram(programBody), fakes::ProgramEnded);
    const std::vector<std::string> expected = {
        "update check started by hand",
        "client's date on the server: \"1/3/2026\"",
        "the present client is of 1/1/2026: a newer one is downloaded",
        "download started: " + clientPackageUrl,
        "download of Varnek_TeamViewer.exe failed: HTTP 500",
        "program 1.0.3 on the server, 1.0.2 running: it is newer",
        "download started: " + programPackageUrl,
        "the running program is not signed: no signature required",
        "download finished: " + newProgram,
        "the program's self-test passed",
        "replacement started: the program ends for DeleteOLD.bat (the old program is kept as "
        "VarnekIT.exe.1a2b-1.old until the new one is in place)",
    };
    std::vector<std::string> lines;
    for (const std::string& line : p.updateLog.lines) {
        EXPECT_TRUE(line.starts_with("2026-03-14 10:30:00 ")) << line;
        lines.push_back(line.substr(20));
    }
    EXPECT_EQ(lines, expected);
}

TEST_F(UpdateTest, AnUnreadableVersionFileIsLoggedAndWhatTheServerSaysStaysData) {
    // A version file that cannot be read is logged too; the chain stops there.
    Start();
    Settings().bUpdateCheck_Click();
    ASSERT_TRUE(
        p.reads.Complete(clientDateUrl, Notification(vbAsyncStatusCodeError, 0, 0, "timed out")));
    EXPECT_EQ(p.updateLog.lines.back().substr(20), "reading the client's date failed: timed out");

    // What the server says is data: no line of its own, and no screenful.
    p.reads.requests.clear();
    CheckProgram("1.0.9\r\n2026-03-14 10:30:00 forged line");
    CheckProgram(std::string(5000, '7'));
    for (const std::string& line : p.updateLog.lines) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        EXPECT_LT(line.size(), 200u) << line;
    }
    EXPECT_TRUE(Logged(p.updateLog, "no version: \"1.0.9\\x0D\\x0A2026-03-14"));
    EXPECT_TRUE(Logged(p.updateLog, "... (5000 bytes)"));
}

TEST_F(UpdateTest, WhileTheAdministratorManagesProgramUpdatesOnlyTheClientIsUpdated) {
    // A newer client and a newer program on the server: the client is fetched, the program
    // not, and nothing of it is written.
    LocalClient({2026, 1, 1, 9, 0, 0});
    Start();
    p.policies.programUpdatesManaged = true;
    Check("1/3/2026");
    EXPECT_TRUE(Reading(clientPackageUrl));
    FailFile(clientPackageUrl);
    ASSERT_TRUE(p.reads.CompleteWith(programVersionUrl, "1.0.3"));
    EXPECT_EQ(Urls(),
              (std::vector<std::string>{clientDateUrl, clientPackageUrl, programVersionUrl}));
    EXPECT_EQ(p.updateLog.lines.back().substr(20),
              "program updates are managed by the administrator");
    EXPECT_EQ(Caption(Ctl::t_Version_Ny), "Ny Version : 1.0.3");
    EXPECT_TRUE(p.files.log.empty());
    // The policy is asked at every check: withdrawn, the next check fetches the program.
    p.policies.programUpdatesManaged = false;
    CheckProgram("1.0.3");
    EXPECT_TRUE(Reading(programPackageUrl));
}

TEST_F(UpdateTest, ExitMidDownloadAndTheNextStartLeaveOnlyTheFilesThatWereThere) {
    LocalClient({2026, 1, 1, 9, 0, 0});
    Start();
    Check("1/3/2026");
    const std::string temporary = Temporary(clientPackageUrl);
    p.files.Put(temporary, Bytes("MZ ha"), p.clock.now);
    EXPECT_THROW(Main().Form_Unload(), fakes::ProgramEnded);
    EXPECT_FALSE(p.files.Exists(temporary));
    EXPECT_TRUE(p.reads.active.empty());
    EXPECT_EQ(p.files.Content(client), Bytes("MZ old"));

    // A run that could not clean up (it was killed, or the machine went down) left files,
    // some from versions that named them without a tag: the next start removes them.
    app.reset();
    const std::string folder = p.programFolder + "\\";
    const std::vector<std::string> left = {
        folder + "Varnek_TeamViewer.exe.download", folder + "New_VarnekIT.exe.download",
        folder + "Varnek_TeamViewer.exe.5c-2.download", folder + "New_VarnekIT.exe.5c-3.download"};
    for (const std::string& file : left) {
        p.files.Put(file, Bytes("MZ half"), p.clock.now);
    }
    p.files.Put(folder + "notes.download", Bytes("mine"), p.clock.now);
    // The old program an update moved aside goes too, but never when it is all there is.
    p.files.Put(aside, Bytes("MZ old program"), p.clock.now);
    p.files.Put(folder + "VarnekIT.exe", Bytes("MZ new program"), p.clock.now);
    Start();
    for (const std::string& file : left) {
        EXPECT_FALSE(p.files.Exists(file)) << file;
    }
    EXPECT_FALSE(p.files.Exists(aside));
    EXPECT_TRUE(p.files.Exists(folder + "notes.download"));
    EXPECT_EQ(p.files.Content(client), Bytes("MZ old"));
    app.reset();
    p.files.files.erase(folder + "VarnekIT.exe");
    p.files.Put(aside, Bytes("MZ old program"), p.clock.now);
    Start();
    EXPECT_TRUE(p.files.Exists(aside));
}

TEST_F(UpdateTest, ARefusedPackageIsNotFetchedAgainUntilTheServerAnnouncesAnother) {
    // Refused in its self-test: removed, remembered beside the log, not fetched again for the
    // same text; the log says why, with the code.
    p.processes.runResult = {RunResult::Outcome::Exited, 3, {}};
    Start();
    CheckProgram("1.0.3");
    p.files.versions[Temporary(programPackageUrl)] = {1, 0, 3, 0};
    EXPECT_NO_THROW(DeliverProgram(programBody));
    EXPECT_FALSE(p.files.Exists(newProgram));
    EXPECT_FALSE(p.files.Exists(script));
    EXPECT_TRUE(Logged(p.updateLog, "failed: refused: the program's self-test ended with code 3"));
    const std::string memory = p.updateLog.folder + "\\refused.txt";
    ASSERT_TRUE(p.files.Exists(memory));
    const std::size_t reads = p.reads.requests.size();
    CheckProgram("1.0.3\r\n");
    EXPECT_EQ(p.reads.requests.size(), reads + 1); // the version file only
    EXPECT_EQ(p.updateLog.lines.back().substr(20),
              "not downloaded again: \"1.0.3\" was refused on 2026-03-14: refused: the "
              "program's self-test ended with code 3 (0x00000003)");

    // The client likewise, by its date text; the program's check follows.
    LocalClient({2026, 1, 1, 9, 0, 0});
    p.signatures.signatures[client] = fakes::FakeSignatureCheck::Valid(Publisher);
    Check("1/3/2026");
    p.signatures.signatures[Temporary(clientPackageUrl)] =
        fakes::FakeSignatureCheck::Valid(Impostor);
    DeliverFile(clientPackageUrl, Bytes("MZ impostor"));
    CheckProgram("1.0.3");
    p.reads.requests.clear();
    Check("1/3/2026");
    EXPECT_EQ(Urls(), (std::vector<std::string>{clientDateUrl, programVersionUrl}));
    EXPECT_TRUE(Logged(p.updateLog, "not downloaded again: \"1/3/2026\""));

    // A new text clears the memory: the program is fetched, and this time it starts.
    p.processes.runResult = {RunResult::Outcome::Exited, SelfTestPassed, {}};
    CheckProgram("1.0.4");
    p.files.versions[Temporary(programPackageUrl)] = {1, 0, 4, 0};
    EXPECT_THROW(DeliverProgram(programBody), fakes::ProgramEnded);
    const auto left = p.files.Content(memory);
    ASSERT_TRUE(left);
    EXPECT_EQ(std::string(left->begin(), left->end()).find("program\t"), std::string::npos);
}

namespace {

// A self-test that did not run, and whether its refusal lasts.
struct SelfTestRun {
    RunResult run;
    bool lasting;
};
struct UnrunSelfTest : UpdateCase<SelfTestRun> {};
const Named<SelfTestRun> unrunSelfTests[] = {
    // A program that cannot start is refused for good; one that timed out only this time.
    {"CannotStart", {{RunResult::Outcome::NotStarted, 193, {}}, true}},
    {"TimedOut", {{RunResult::Outcome::TimedOut, 0, {}}, false}},
};

TEST_P(UnrunSelfTest, RefusesTheProgramForGoodOnlyWhenItCannotStart) {
    const auto& [run, lasting] = Case();
    p.processes.runResult = run;
    Start();
    CheckProgram("1.0.3");
    p.files.versions[Temporary(programPackageUrl)] = {1, 0, 3, 0};
    DeliverProgram(programBody);
    EXPECT_FALSE(p.files.Exists(newProgram));
    EXPECT_TRUE(
        Logged(p.updateLog, lasting ? "cannot be started (error 193)" : "did not end within 15 s"));
    const std::size_t before = p.reads.requests.size();
    CheckProgram("1.0.3");
    EXPECT_EQ(p.reads.requests.size(), before + (lasting ? 1 : 2));
}
INSTANTIATE_TEST_SUITE_P(UpdateTest, UnrunSelfTest, ::testing::ValuesIn(unrunSelfTests), CaseName);

} // namespace

TEST_F(UpdateTest, AProgramIsCheckedByItsMachineTypeThenItsSignatureThenItsVersion) {
    p.signatures.self = fakes::FakeSignatureCheck::Valid(Publisher);
    const std::uint16_t other = ProgramMachine() == 0x14C ? 0x8664 : 0x14C;
    const std::pair<std::vector<std::uint8_t>, const char*> refused[] = {
        {Program(other), other == 0x14C
                             ? "made for another machine type (0x014C, this one is 0x8664)"
                             : "made for another machine type (0x8664, this one is 0x014C)"},
        {Bytes("MZ but no header of a program at all, long enough to hold one somewhere"),
         "no Windows program header"},
    };
    for (const auto& [body, why] : refused) {
        SCOPED_TRACE(why);
        p.signatures.checked.clear();
        Start();
        CheckProgram("1.0.3");
        DeliverProgram(body);
        EXPECT_TRUE(Logged(p.updateLog, why));
        EXPECT_FALSE(p.files.Exists(newProgram));
        // Refused before its signature was looked at.
        EXPECT_TRUE(p.signatures.checked.empty());
        CheckProgram("1.0.4"); // a new text: forgotten
    }
    // Signed by another: refused before its version resource counts (it has none).
    CheckProgram("1.0.5");
    p.signatures.signatures[Temporary(programPackageUrl)] =
        fakes::FakeSignatureCheck::Valid(Impostor);
    DeliverProgram(programBody);
    EXPECT_TRUE(Logged(p.updateLog, "the program is signed by \"" + Impostor + "\""));
    EXPECT_FALSE(Logged(p.updateLog, "version resource"));
}

TEST_F(UpdateTest, OnlyWhatTheFileItselfEarnedIsRefusedForGood) {
    const std::string file = newProgram;
    const Signature cannot{
        Signature::Verdict::CannotCheck, static_cast<std::int32_t>(0x80070020), {}};
    using Arrange = std::function<void(fakes::FakePlatform&)>;
    const auto body = [&](std::vector<std::uint8_t> bytes) {
        return [&, bytes](fakes::FakePlatform& q) { q.files.Put(file, bytes, {}); };
    };
    // Each row: what the machine or the file shows, and whether the refusal is lasting.
    const std::tuple<const char*, Arrange, bool> checks[] = {
        {"held by a scanner", [&](auto& q) { q.files.held[file] = 32; }, false},
        {"no program header", body(Bytes("MZ and then text, long enough for a header")), true},
        {"another machine type", body(Program(ProgramMachine() == 0x14C ? 0x8664 : 0x14C)), true},
        {"own signature unconfirmed", [&](auto& q) { q.signatures.self = cannot; }, false},
        {"signature check incomplete", [&](auto& q) { q.signatures.signatures[file] = cannot; },
         false},
        {"another signer",
         [&](auto& q) {
             q.signatures.signatures[file] = fakes::FakeSignatureCheck::Valid(Impostor);
         },
         true},
        {"not signed", [&](auto& q) { q.signatures.signatures.erase(file); }, true},
        {"version unreadable", [&](auto& q) { q.files.versionHeld[file] = 5; }, false},
        {"version not newer",
         [&](auto& q) {
             q.files.versions[file] = {1, 0, 2, 0};
         },
         true},
    };
    for (const auto& [what, arrange, lasting] : checks) {
        SCOPED_TRACE(what);
        fakes::FakePlatform q;
        q.files.Put(file, programBody, {});
        q.files.versions[file] = {1, 0, 3, 0};
        q.signatures.self = fakes::FakeSignatureCheck::Valid(Publisher);
        q.signatures.signatures[file] = fakes::FakeSignatureCheck::Valid(Publisher);
        EXPECT_EQ(varnek::CheckProgram(q.files, q.signatures, file).refusal, "");
        arrange(q);
        const FileVerdict verdict = varnek::CheckProgram(q.files, q.signatures, file);
        EXPECT_NE(verdict.refusal, "");
        EXPECT_EQ(verdict.lasting, lasting);
    }
    using Outcome = RunResult::Outcome;
    const std::tuple<RunResult, bool> runs[] = {
        {{Outcome::Exited, 0, {}}, true}, // a start that never got to the self-test
        {{Outcome::Exited, 3, {}}, true},
        {{Outcome::NotStarted, 193, {}}, true},
        {{Outcome::NotStarted, 216, {}}, true},
        {{Outcome::Exited, 0xC0000005, {}}, false}, // a crash
        {{Outcome::TimedOut, 0, {}}, false},
        {{Outcome::NotStarted, 32, {}}, false},   // held
        {{Outcome::NotStarted, 5, {}}, false},    // access denied
        {{Outcome::NotStarted, 225, {}}, false},  // a scanner's verdict
        {{Outcome::NotStarted, 1260, {}}, false}, // a policy
    };
    for (const auto& [run, lasting] : runs) {
        SCOPED_TRACE(run.code);
        const FileVerdict verdict = SelfTestVerdict(run);
        EXPECT_NE(verdict.refusal, "");
        EXPECT_EQ(verdict.lasting, lasting);
    }
    EXPECT_EQ(SelfTestVerdict({Outcome::Exited, SelfTestPassed, {}}).refusal, "");
}

TEST_F(UpdateTest, ASignatureCountsOnlyForCodeSigningUnderATrustedRoot) {
    using Check = fakes::FakeSignatureCheck;
    const std::string file = newProgram, present = client;
    const std::string other(64, 'b'), next(64, 'c');
    const auto program = [&](const Signature& signature, std::vector<std::string> roots = {}) {
        fakes::FakePlatform q;
        q.files.Put(file, programBody, {});
        q.files.versions[file] = {1, 0, 3, 0};
        q.signatures.self = Check::Valid(Publisher);
        q.signatures.signatures[file] = signature;
        return varnek::CheckProgram(q.files, q.signatures, file, roots).refusal;
    };
    EXPECT_EQ(program(Check::Valid(Publisher)), "");
    EXPECT_NE(program(Check::Valid(Publisher, other)), "");
    EXPECT_EQ(program(Check::Valid(Publisher, next), {next}), ""); // announced a release ahead
    EXPECT_NE(program(Check::Valid(Publisher, Check::SharedRoot, false)), "");
    EXPECT_NE(program(Check::Valid(Publisher, "")), "");

    // The client: for code signing, under a root the build names (where it names any), and
    // never an older one than the present client.
    using Version = std::optional<std::array<int, 4>>;
    const auto newClient = [&](const Signature& signature, Version now, Version fresh,
                               std::vector<std::string> roots = {}) {
        fakes::FakePlatform q;
        for (const auto& [path, version] : {std::pair{present, now}, std::pair{file, fresh}}) {
            q.files.Put(path, Bytes("MZ client"), {});
            if (version) {
                q.files.versions[path] = *version;
            }
        }
        q.signatures.signatures[present] = Check::Valid(Publisher);
        q.signatures.signatures[file] = signature;
        return varnek::CheckClient(q.files, q.signatures, file, present, "", roots);
    };
    const Version v15{{15, 2, 0, 1}}, v16{{16, 0, 0, 0}};
    EXPECT_EQ(newClient(Check::Valid(Publisher), v15, v16).refusal, "");
    EXPECT_EQ(newClient(Check::Valid(Publisher), v15, v15).refusal, "");
    EXPECT_EQ(newClient(Check::Valid(Publisher), std::nullopt, std::nullopt).refusal, "");
    for (const auto& [now, fresh] : {std::pair{v16, v15}, std::pair{v16, Version{}}}) {
        const FileVerdict backwards = newClient(Check::Valid(Publisher), now, fresh);
        EXPECT_TRUE(backwards.lasting) << backwards.refusal;
    }
    EXPECT_NE(newClient(Check::Valid(Publisher, Check::SharedRoot, false), v15, v16).refusal, "");
    EXPECT_NE(newClient(Check::Valid(Publisher), v15, v16, {other}).refusal, "");
    EXPECT_EQ(newClient(Check::Valid(Publisher, other), v15, v16, {other}).refusal, "");
}
