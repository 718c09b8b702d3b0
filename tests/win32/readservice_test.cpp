// The read service with Wine's WinINet against the tests' HTTP server on 127.0.0.1, which runs
// inside the test, with the faults a support server can have.
#include "Config.h"
#include "TestServer.h"
#include "Win32TestSupport.h"
#include "win32/ReadService.h"
#include "win32/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <regex>
#include <string>
#include <vector>

using namespace varnek;
using varnek::testing::Answer;
using varnek::testing::ClosedPort;
using varnek::testing::PumpUntil;
using varnek::testing::TempPath;
using varnek::testing::TestServer;
using varnek::win32::ReadService;
using varnek::win32::Utf8;

namespace {

// Bytes that differ from position to position (not a repeating short pattern).
std::string Pattern(std::size_t size, std::uint32_t start) {
    std::string bytes(size, '\0');
    std::uint32_t x = start;
    for (auto& byte : bytes) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

struct Event {
    bool complete = false;
    AsyncProperty property;
    DWORD thread = 0;
};

// Records every notification with the thread it arrived on.
class Recorder : public IAsyncReadOwner {
public:
    void AsyncReadProgress(const AsyncProperty& property) override {
        events.push_back({false, property, GetCurrentThreadId()});
    }
    void AsyncReadComplete(const AsyncProperty& property) override {
        events.push_back({true, property, GetCurrentThreadId()});
    }

    std::vector<Event> Of(const std::string& name) const {
        std::vector<Event> found;
        for (const auto& event : events) {
            if (event.property.PropertyName == name) {
                found.push_back(event);
            }
        }
        return found;
    }
    const AsyncProperty* Completion(const std::string& name) const {
        for (const auto& event : events) {
            if (event.complete && event.property.PropertyName == name) {
                return &event.property;
            }
        }
        return nullptr;
    }
    // Progress codes, then the completion's code, of one read.
    std::vector<int> Codes(const std::string& name) const {
        std::vector<int> codes;
        for (const auto& event : Of(name)) {
            codes.push_back(event.property.StatusCode);
        }
        return codes;
    }

    std::vector<Event> events;
};

// Stands where a destroyed owner was and counts what still reaches that address.
class Tripwire : public IAsyncReadOwner {
public:
    explicit Tripwire(int& calls) : calls_(calls) {}
    void AsyncReadProgress(const AsyncProperty&) override { ++calls_; }
    void AsyncReadComplete(const AsyncProperty&) override { ++calls_; }

private:
    int& calls_;
};

ReadRequest Bytes(const std::string& url, const std::string& name, std::int64_t maxBytes = 0) {
    ReadRequest request;
    request.url = url;
    request.propertyName = name;
    request.asyncType = vbAsyncTypeByteArray;
    request.maxBytes = maxBytes;
    return request;
}

ReadRequest ToFile(const std::string& url, const std::string& name, const std::string& target) {
    ReadRequest request;
    request.url = url;
    request.propertyName = name;
    request.asyncType = vbAsyncTypeFile;
    request.targetFile = target;
    return request;
}

std::string ReadWholeFile(const std::string& path) {
    return varnek::testing::ReadBytes(win32::Wide(path)).value_or("");
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(win32::Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct ReadServiceTest : ::testing::Test {
    // Starts a read and waits for its completion.
    const AsyncProperty* ReadToEnd(const ReadRequest& request, DWORD timeoutMs = 20000) {
        service->AsyncRead(owner, request);
        PumpUntil([&] { return owner.Completion(request.propertyName) != nullptr; }, timeoutMs);
        return owner.Completion(request.propertyName);
    }

    TestServer server;
    win32::UiTasks tasks;
    std::unique_ptr<ReadService> service = std::make_unique<ReadService>(tasks);
    Recorder owner;
};

} // namespace

TEST_F(ReadServiceTest, AGoodReadReportsEveryStageInOrderOnTheUiThread) {
    const std::string body = Pattern(300000, 1);
    server.Serve("/VarnekITApp/Package.bin", {Answer::Whole, body});
    const AsyncProperty* done = ReadToEnd(Bytes(server.Url("/VarnekITApp/Package.bin"), "package"));
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->StatusCode, vbAsyncStatusCodeEndDownloadData) << done->Status;
    EXPECT_EQ(done->PropertyName, "package");
    EXPECT_EQ(done->AsyncType, vbAsyncTypeByteArray);
    EXPECT_TRUE(Text(done->Value) == body) << done->Value.size() << " bytes";
    EXPECT_EQ(done->BytesRead, 300000);
    EXPECT_EQ(done->BytesMax, 300000);

    const std::vector<Event> events = owner.Of("package");
    ASSERT_GE(events.size(), 7u);
    const std::vector<int> codes = owner.Codes("package");
    const std::vector<int> start(codes.begin(), codes.begin() + 4);
    EXPECT_EQ(start, (std::vector<int>{1, 2, 11, 4}));
    // Then progress 5 with growing counts, progress 6 and the completion, nothing else.
    std::int32_t before = 0;
    std::size_t downloading = 0;
    for (std::size_t i = 4; i + 2 < events.size(); ++i) {
        const AsyncProperty& progress = events[i].property;
        EXPECT_EQ(progress.StatusCode, 5) << "event " << i;
        EXPECT_GT(progress.BytesRead, before);
        EXPECT_EQ(progress.BytesMax, 300000);
        before = progress.BytesRead;
        ++downloading;
    }
    // 300000 bytes come in blocks; progress that the window has not yet taken is not
    // queued twice, so a fast read may show fewer than its blocks.
    EXPECT_GE(downloading, 1u);
    EXPECT_EQ(events[events.size() - 2].property.StatusCode, 6);
    EXPECT_EQ(events[events.size() - 2].property.BytesRead, 300000);
    EXPECT_FALSE(events[events.size() - 2].complete);
    EXPECT_TRUE(events.back().complete);
    EXPECT_EQ(events[3].property.BytesMax, 300000);
    for (const auto& event : events) {
        EXPECT_EQ(event.thread, GetCurrentThreadId());
        EXPECT_EQ(event.property.PropertyName, "package");
    }
    EXPECT_EQ(server.Requests("/VarnekITApp/Package.bin"), 1);
}

TEST_F(ReadServiceTest, EveryAnswerThatIsNotWholeAndGoodFailsWithCodeZero) {
    const std::string body = Pattern(200000, 2);
    server.Serve("/missing", {Answer::Whole, "gone", 404});
    server.Serve("/broken", {Answer::Whole, "oops", 500});
    server.Serve("/reset", {Answer::Reset, body, 200, 100000});
    server.Serve("/short", {Answer::Short, body, 200, 150000});
    server.Serve("/big", {Answer::Whole, body});
    server.Serve("/bigchunked", {Answer::Chunked, body});
    const struct {
        ReadRequest request;
        const char* reason;
    } cases[] = {
        {Bytes(server.Url("/missing"), "404"), "404"},
        {Bytes(server.Url("/broken"), "500"), "500"},
        {Bytes("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x", "refused"), ""},
        {Bytes(server.Url("/reset"), "reset"), ""},
        {Bytes(server.Url("/short"), "short"), "shorter"},
        {Bytes(server.Url("/big"), "over limit", 199999), "larger"},
        {Bytes(server.Url("/bigchunked"), "over limit, no length", 150000), "larger"},
        // An https address whose server does not speak TLS.
        {Bytes("https://127.0.0.1:" + std::to_string(server.port()) + "/big", "https"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.propertyName);
        const AsyncProperty* done = ReadToEnd(c.request);
        ASSERT_NE(done, nullptr);
        EXPECT_EQ(done->StatusCode, vbAsyncStatusCodeError);
        EXPECT_FALSE(done->Status.empty());
        EXPECT_NE(done->Status.find(c.reason), std::string::npos) << done->Status;
        EXPECT_TRUE(done->Value.empty());
        const std::vector<int> codes = owner.Codes(c.request.propertyName);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 6), 0);
        EXPECT_EQ(codes.front(), 1);
        for (const auto& event : owner.Of(c.request.propertyName)) {
            EXPECT_EQ(event.thread, GetCurrentThreadId());
        }
    }
    EXPECT_EQ(server.Requests("/missing"), 1);
    EXPECT_EQ(server.Requests("/reset"), 1);
    // At the limit exactly is still good.
    const AsyncProperty* exact = ReadToEnd(Bytes(server.Url("/big"), "at limit", 200000));
    ASSERT_NE(exact, nullptr);
    EXPECT_EQ(exact->StatusCode, 6) << exact->Status;
    EXPECT_TRUE(Text(exact->Value) == body);
}

TEST_F(ReadServiceTest, ASilentServerFailsTheReadAfterTheStallTimeout) {
    service = std::make_unique<ReadService>(tasks, std::chrono::milliseconds(1500));
    const std::size_t block = ReadService::BlockSize;
    server.Serve("/stall", {Answer::Stall, Pattern(4 * block, 3), 200, 5 * block / 2, 20000});
    server.Serve("/stallheaders", {Answer::StallHeaders, "late", 200, 0, 20000});
    for (const char* path : {"/stall", "/stallheaders"}) {
        SCOPED_TRACE(path);
        const ULONGLONG start = GetTickCount64();
        const AsyncProperty* done = ReadToEnd(Bytes(server.Url(path), path), 15000);
        const ULONGLONG took = GetTickCount64() - start;
        ASSERT_NE(done, nullptr);
        EXPECT_EQ(done->StatusCode, vbAsyncStatusCodeError);
        EXPECT_EQ(done->Status, "timed out");
        EXPECT_GE(took, 1400u);
        EXPECT_LT(took, 6000u);
    }
    // Two and a half blocks had arrived before the silence: the whole blocks among them are
    // told before the failure, and no more.
    const std::vector<Event> events = owner.Of("/stall");
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].property.StatusCode, vbAsyncStatusCodeDownloadingData);
    EXPECT_GE(events[events.size() - 2].property.BytesRead, static_cast<std::int32_t>(block));
    EXPECT_LE(events[events.size() - 2].property.BytesRead,
              static_cast<std::int32_t>(5 * block / 2));
    // A pause shorter than the timeout is no stall.
    server.Serve("/pause", {Answer::Pause, Pattern(100000, 4), 200, 30000, 700});
    const AsyncProperty* paused = ReadToEnd(Bytes(server.Url("/pause"), "pause"));
    ASSERT_NE(paused, nullptr);
    EXPECT_EQ(paused->StatusCode, 6) << paused->Status;
    EXPECT_TRUE(Text(paused->Value) == Pattern(100000, 4));
}

TEST_F(ReadServiceTest, EmptyAndChunkedAnswersAreGoodReads) {
    server.Serve("/empty", {Answer::Whole, ""});
    const AsyncProperty* empty = ReadToEnd(Bytes(server.Url("/empty"), "empty"));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->StatusCode, 6) << empty->Status;
    EXPECT_TRUE(empty->Value.empty());
    EXPECT_EQ(empty->BytesRead, 0);
    EXPECT_EQ(empty->BytesMax, 0);
    EXPECT_EQ(owner.Codes("empty"), (std::vector<int>{1, 2, 11, 4, 6, 6}));

    const std::string body = Pattern(123457, 5);
    server.Serve("/chunked", {Answer::Chunked, body});
    const AsyncProperty* chunked = ReadToEnd(Bytes(server.Url("/chunked"), "chunked"));
    ASSERT_NE(chunked, nullptr);
    EXPECT_EQ(chunked->StatusCode, 6) << chunked->Status;
    EXPECT_TRUE(Text(chunked->Value) == body);
    // No length is known until the end; then it is the size read.
    EXPECT_EQ(chunked->BytesRead, 123457);
    EXPECT_EQ(chunked->BytesMax, 123457);
    const std::vector<Event> events = owner.Of("chunked");
    ASSERT_GE(events.size(), 7u);
    for (std::size_t i = 3; i + 2 < events.size(); ++i) {
        EXPECT_EQ(events[i].property.BytesMax, 0) << "event " << i;
    }
    EXPECT_EQ(events[events.size() - 2].property.StatusCode, 6);
    EXPECT_EQ(events[events.size() - 2].property.BytesMax, 123457);
}

TEST_F(ReadServiceTest, AFileReadStreamsIntoTheTargetAndLeavesTheFileToItsOwner) {
    const std::string body = Pattern(5 * 1024 * 1024, 6);
    server.Serve("/VarnekITApp/VarnekIT.exe", {Answer::Whole, body});
    const std::string folder = Utf8(TempPath(L"læs"));
    ASSERT_TRUE(CreateDirectoryW(win32::Wide(folder).c_str(), nullptr));
    const std::string target = folder + "\\VarnekIT_ny.exe";
    const AsyncProperty* done =
        ReadToEnd(ToFile(server.Url("/VarnekITApp/VarnekIT.exe"), "file", target), 60000);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->StatusCode, 6) << done->Status;
    EXPECT_EQ(done->AsyncType, vbAsyncTypeFile);
    EXPECT_EQ(done->FileName, target);
    EXPECT_TRUE(done->Value.empty());
    EXPECT_EQ(done->BytesMax, 5 * 1024 * 1024);
    // The file is closed by the time the owner hears of it: it can be opened exclusively.
    HANDLE exclusive = CreateFileW(win32::Wide(target).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
    CloseHandle(exclusive);
    EXPECT_TRUE(ReadWholeFile(target) == body);
    // Progress as it was written, growing, then the whole count at the end.
    std::int32_t before = 0;
    std::size_t progress = 0;
    for (const auto& event : owner.Of("file")) {
        if (!event.complete && event.property.StatusCode == 5) {
            EXPECT_GT(event.property.BytesRead, before);
            before = event.property.BytesRead;
            ++progress;
        }
    }
    EXPECT_GE(progress, 1u);
    EXPECT_LE(before, 5 * 1024 * 1024);
    const auto& events = owner.Of("file");
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].property.StatusCode, 6);
    EXPECT_EQ(events[events.size() - 2].property.BytesRead, 5 * 1024 * 1024);

    // Failures: a target that cannot be created, a 404 and a reset mid-body. The read never
    // removes a file: one it began is closed and left to the owner that named it.
    server.Serve("/reset", {Answer::Reset, body, 200, 1000000});
    const AsyncProperty* unwritable = ReadToEnd(ToFile(server.Url("/VarnekITApp/VarnekIT.exe"),
                                                       "unwritable", folder + "\\no\\such\\x.exe"));
    ASSERT_NE(unwritable, nullptr);
    EXPECT_EQ(unwritable->StatusCode, 0);
    EXPECT_NE(unwritable->Status.find("cannot write"), std::string::npos) << unwritable->Status;
    const AsyncProperty* missing =
        ReadToEnd(ToFile(server.Url("/nothing"), "404", folder + "\\a.exe"));
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->StatusCode, 0);
    EXPECT_FALSE(Exists(folder + "\\a.exe"));
    const AsyncProperty* reset =
        ReadToEnd(ToFile(server.Url("/reset"), "reset", folder + "\\b.exe"));
    ASSERT_NE(reset, nullptr);
    EXPECT_EQ(reset->StatusCode, 0);
    EXPECT_GT(owner.Of("reset").size(), 4u); // it had begun writing
    EXPECT_TRUE(DeleteFileW(win32::Wide(folder + "\\b.exe").c_str())) << GetLastError();

    DeleteFileW(win32::Wide(target).c_str());
    EXPECT_TRUE(RemoveDirectoryW(win32::Wide(folder).c_str()));
}

TEST_F(ReadServiceTest, ACancelledReadDeliversNothingAndOthersGoOn) {
    // The pause comes after more than a block, so the first progress arrives before it.
    const std::string body = Pattern(3 * ReadService::BlockSize, 7);
    server.Serve("/slow", {Answer::Pause, body, 200, 3 * ReadService::BlockSize / 2, 1500});
    server.Serve("/quick", {Answer::Whole, "quick"});
    // Cancelled at once, before anything came.
    service->AsyncRead(owner, Bytes(server.Url("/slow"), "at once"));
    service->CancelAsyncRead(owner, "at once");
    // Cancelled after the download began.
    service->AsyncRead(owner, Bytes(server.Url("/slow"), "midway"));
    service->AsyncRead(owner, Bytes(server.Url("/quick"), "other"));
    ASSERT_TRUE(PumpUntil(
        [&] {
            const auto codes = owner.Codes("midway");
            return std::find(codes.begin(), codes.end(), 5) != codes.end();
        },
        10000));
    service->CancelAsyncRead(owner, "midway");
    const std::size_t seen = owner.Of("midway").size();
    service->CancelAsyncRead(owner, "never started"); // no such read: nothing happens
    // The server is done with the slow reads (the first may not have asked at all), and more
    // time passes for the workers to end.
    ASSERT_TRUE(PumpUntil(
        [&] {
            const int asked = server.Requests("/slow");
            return asked >= 1 && server.Finished("/slow") == asked;
        },
        10000));
    PumpFor(1000);
    EXPECT_TRUE(owner.Of("at once").empty());
    EXPECT_EQ(owner.Of("midway").size(), seen);
    EXPECT_EQ(owner.Completion("midway"), nullptr);
    ASSERT_NE(owner.Completion("other"), nullptr);
    EXPECT_EQ(Text(owner.Completion("other")->Value), "quick");
}

TEST_F(ReadServiceTest, AForgottenOwnerIsNeverCalledAgainEvenWhenItsReadFinishes) {
    server.Serve("/answer", {Answer::Whole, Pattern(100000, 8)});
    server.Serve("/later", {Answer::Pause, "later", 200, 1, 500});
    // The owner lives in this storage; after ForgetOwner it is destroyed and a tripwire takes
    // its place, so whatever the service still sends to that address is counted.
    alignas(Recorder) unsigned char storage[std::max(sizeof(Recorder), sizeof(Tripwire))];
    auto* gone = new (storage) Recorder;
    service->AsyncRead(*gone, Bytes(server.Url("/answer"), "first"));
    service->AsyncRead(*gone, Bytes(server.Url("/answer"), "second"));
    ASSERT_TRUE(PumpUntil([&] { return !gone->events.empty(); }, 10000));
    service->ForgetOwner(*gone);
    gone->~Recorder();
    int calls = 0;
    new (storage) Tripwire(calls);

    // A read started after them, answered later, shows the queue has been run past them.
    service->AsyncRead(owner, Bytes(server.Url("/later"), "witness"));
    ASSERT_TRUE(PumpUntil([&] { return owner.Completion("witness") != nullptr; }, 10000));
    ASSERT_TRUE(
        PumpUntil([&] { return server.Finished("/answer") == server.Requests("/answer"); }, 10000));
    PumpFor(500);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(owner.Completion("witness")->StatusCode, 6);
    EXPECT_TRUE(owner.Of("first").empty());
    EXPECT_TRUE(owner.Of("second").empty());
}

TEST_F(ReadServiceTest, EveryReadAsksTheServerAgain) {
    // With a query, which reaches the server as it was written.
    const std::string path = "/VarnekITApp/VersionVarnekIT.txt?check=1&sprog=%C3%A6";
    server.Serve(path, {Answer::Counting, ""});
    const std::string url = server.Url(path);
    const AsyncProperty* first = ReadToEnd(Bytes(url, "first"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Text(first->Value), "answer 1");
    const AsyncProperty* second = ReadToEnd(Bytes(url, "second"));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Text(second->Value), "answer 2");
    // A new service (as after a restart of the program) does not see a cached copy either.
    service = std::make_unique<ReadService>(tasks);
    const AsyncProperty* third = ReadToEnd(Bytes(url, "third"));
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(Text(third->Value), "answer 3");
    EXPECT_EQ(server.Requests(path), 3);
    const std::string request = server.LastRequest(path);
    EXPECT_NE(request.find("no-cache"), std::string::npos) << request;
    EXPECT_EQ(request.find("Cookie:"), std::string::npos) << request;
    // The program, its version, the system and the build say who asks; nothing of the user.
    const std::string version =
        std::regex_replace(std::string(VersionText), std::regex("\\."), "\\.");
    const std::regex agent("\r\nUser-Agent: VarnekIT/" + version +
                           R"( \(Windows NT [1-9][0-9]*\.[0-9]+; (x64|x86|ARM64); )" +
                           (sizeof(void*) == 8 ? "x86_64" : "i686") + R"( build\)\r\n)");
    EXPECT_TRUE(std::regex_search(request, agent)) << request;
}

TEST_F(ReadServiceTest, ReadsRunSideBySide) {
    std::vector<std::string> bodies;
    for (int i = 0; i < 6; ++i) {
        bodies.push_back(Pattern(150000 + i * 7919, 100 + i));
        server.Serve("/part" + std::to_string(i), {Answer::Pause, bodies.back(), 200, 10000, 300});
    }
    const ULONGLONG start = GetTickCount64();
    for (int i = 0; i < 6; ++i) {
        service->AsyncRead(
            owner, Bytes(server.Url("/part" + std::to_string(i)), "part" + std::to_string(i)));
    }
    ASSERT_TRUE(PumpUntil(
        [&] {
            return std::count_if(owner.events.begin(), owner.events.end(),
                                 [](const Event& e) { return e.complete; }) == 6;
        },
        20000));
    // Six pauses of 300 ms overlap rather than add up.
    EXPECT_LT(GetTickCount64() - start, 1500u);
    for (int i = 0; i < 6; ++i) {
        const AsyncProperty* done = owner.Completion("part" + std::to_string(i));
        ASSERT_NE(done, nullptr);
        EXPECT_EQ(done->StatusCode, 6) << done->Status;
        EXPECT_TRUE(Text(done->Value) == bodies[i]) << i;
    }
}

TEST_F(ReadServiceTest, DestroyingTheServiceEndsItsReadsWithoutWaitingForTheServer) {
    // Windows ends a blocked read when its handles are closed; Wine's WinINet only when the
    // socket times out, so the wait is bounded by the stall timeout there.
    service = std::make_unique<ReadService>(tasks, std::chrono::milliseconds(2000));
    server.Serve("/stall", {Answer::Stall, Pattern(4 * ReadService::BlockSize, 9), 200,
                            5 * ReadService::BlockSize / 2, 20000});
    server.Serve("/stallheaders", {Answer::StallHeaders, "", 200, 0, 20000});
    service->AsyncRead(owner, Bytes(server.Url("/stall"), "body"));
    service->AsyncRead(owner, Bytes(server.Url("/stallheaders"), "headers"));
    ASSERT_TRUE(PumpUntil(
        [&] {
            const auto codes = owner.Codes("body");
            return server.Requests("/stallheaders") == 1 &&
                   std::find(codes.begin(), codes.end(), 5) != codes.end();
        },
        10000));
    const std::size_t seen = owner.events.size();
    const ULONGLONG start = GetTickCount64();
    service.reset();
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_LT(took, 3500u); // not the 20 s of the stalls
    std::printf("destroying the service took %u ms\n", static_cast<unsigned>(took));
    PumpFor(500);
    EXPECT_EQ(owner.events.size(), seen);
    EXPECT_EQ(owner.Completion("body"), nullptr);
    EXPECT_EQ(owner.Completion("headers"), nullptr);
}

TEST_F(ReadServiceTest, AFileReadIsCheckedOnItsWorkerOnceWholeOnTheDiskAndClosed) {
    const std::string body = Pattern(300000, 12);
    server.Serve("/package", {Answer::Whole, body});
    server.Serve("/chunked", {Answer::Chunked, body});
    const std::string folder = Utf8(TempPath(L"prøv"));
    ASSERT_TRUE(CreateDirectoryW(win32::Wide(folder).c_str(), nullptr));
    const std::string target = folder + "\\New_VarnekIT.exe";
    DWORD checkThread = 0;
    std::string seen;
    ReadRequest request = ToFile(server.Url("/package"), "checked", target);
    request.check = [&](const std::string& file) {
        checkThread = GetCurrentThreadId();
        HANDLE exclusive = CreateFileW(win32::Wide(file).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
        seen = exclusive != INVALID_HANDLE_VALUE ? "closed " : "open ";
        CloseHandle(exclusive);
        seen += std::to_string(ReadWholeFile(file) == body);
        return FileVerdict{"refused: not by us", true, {"looked at it"}};
    };
    const AsyncProperty* refused = ReadToEnd(request);
    ASSERT_NE(refused, nullptr);
    EXPECT_NE(checkThread, 0u);
    EXPECT_NE(checkThread, GetCurrentThreadId());
    EXPECT_EQ(seen, "closed 1");
    EXPECT_EQ(refused->StatusCode, 0);
    EXPECT_EQ(refused->Status, "refused: not by us");
    EXPECT_TRUE(refused->RefusedForGood);
    EXPECT_EQ(refused->CheckNotes, std::vector<std::string>{"looked at it"});
    EXPECT_TRUE(Exists(target)); // the owner's to remove

    // No byte past the limit, whether the answer announces its size or not; nothing to check.
    for (const char* path : {"/package", "/chunked"}) {
        SCOPED_TRACE(path);
        seen.clear();
        DeleteFileW(win32::Wide(target).c_str());
        request = ToFile(server.Url(path), path, target);
        request.maxBytes = 100000;
        request.check = [&](const std::string&) {
            seen = "checked";
            return FileVerdict{};
        };
        const AsyncProperty* large = ReadToEnd(request);
        ASSERT_NE(large, nullptr);
        EXPECT_EQ(large->StatusCode, 0);
        EXPECT_EQ(large->Status, "answer larger than 100000 bytes");
        EXPECT_LE(ReadWholeFile(target).size(), 100000u);
        EXPECT_EQ(seen, "");
    }

    EXPECT_TRUE(DeleteFileW(win32::Wide(target).c_str()));
    EXPECT_TRUE(RemoveDirectoryW(win32::Wide(folder).c_str()));
}

TEST_F(ReadServiceTest, ADroppedReadFreesItsFileAtOnceForTheNextDownload) {
    // The server sends part of the body, then nothing for far longer than the test lasts; the
    // dropped read's worker, whose handles nobody else closes, ends by itself at its stall
    // timeout.
    service = std::make_unique<ReadService>(tasks, std::chrono::milliseconds(2000));
    const std::string body = Pattern(300000, 11);
    server.Serve("/stall", {Answer::Stall, body, 200, 1000, 20000});
    server.Serve("/whole", {Answer::Whole, body});
    const std::string folder = Utf8(TempPath(L"frit"));
    ASSERT_TRUE(CreateDirectoryW(win32::Wide(folder).c_str(), nullptr));
    const std::string target = folder + "\\New_VarnekIT.exe.1.download";
    for (const bool forget : {false, true}) {
        SCOPED_TRACE(forget ? "forgotten owner" : "cancelled read");
        service->AsyncRead(owner, ToFile(server.Url("/stall"), "dropped", target));
        // The part the server sends is less than the block the worker asks for: once the
        // download began (the file is open), the worker waits in that call.
        ASSERT_TRUE(PumpUntil(
            [&] {
                const auto codes = owner.Codes("dropped");
                return std::find(codes.begin(), codes.end(), 4) != codes.end();
            },
            10000));
        PumpFor(300);
        // While the read writes, nobody else can remove or open its file.
        EXPECT_FALSE(DeleteFileW(win32::Wide(target).c_str()));
        if (forget) {
            service->ForgetOwner(owner);
        } else {
            service->CancelAsyncRead(owner, "dropped");
        }
        // Dropped, its file is free at once (the worker may still wait for the silent server).
        EXPECT_TRUE(DeleteFileW(win32::Wide(target).c_str())) << GetLastError();
        // Its worker closes its connection when its call returns, by the stall timeout.
        const ULONGLONG dropped = GetTickCount64();
        EXPECT_TRUE(PumpUntil(
            [&] { return server.Finished("/stall") == server.Requests("/stall"); }, 6000));
        const ULONGLONG closed = GetTickCount64() - dropped;
        std::printf("the dropped read's connection closed after %u ms\n",
                    static_cast<unsigned>(closed));
        EXPECT_GE(closed, 1000u); // not under the call, by another thread
        owner.events.clear();
        // A new download to the same file goes through.
        const AsyncProperty* again = ReadToEnd(ToFile(server.Url("/whole"), "again", target));
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->StatusCode, 6) << again->Status;
        EXPECT_TRUE(ReadWholeFile(target) == body);
        EXPECT_TRUE(DeleteFileW(win32::Wide(target).c_str()));
        owner.events.clear();
    }
    EXPECT_EQ(owner.Completion("dropped"), nullptr);
    EXPECT_TRUE(RemoveDirectoryW(win32::Wide(folder).c_str()));
}

TEST_F(ReadServiceTest, ReadsThatCannotStartRaiseAnError) {
    const struct {
        ReadRequest request;
        std::int32_t number;
    } cases[] = {
        {Bytes("", "empty"), ReadService::ErrorInvalidUrl},
        {Bytes("not an address", "text"), ReadService::ErrorInvalidUrl},
        {Bytes("ftp://127.0.0.1/VarnekIT.exe", "ftp"), ReadService::ErrorUnrecognizedScheme},
        {Bytes("file:///C:/windows/win.ini", "file"), ReadService::ErrorUnrecognizedScheme},
        {ToFile(server.Url("/x"), "no target", ""), ReadService::ErrorInvalidParameter},
        {[&] {
             ReadRequest picture = Bytes(server.Url("/x"), "picture");
             picture.asyncType = vbAsyncTypePicture;
             return picture;
         }(),
         ReadService::ErrorInvalidParameter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.propertyName);
        try {
            service->AsyncRead(owner, c.request);
            ADD_FAILURE() << "no error";
        } catch (const AsyncReadError& error) {
            EXPECT_EQ(error.Number(), c.number);
            EXPECT_NE(std::string(error.what()), "");
        }
    }
    PumpFor(300);
    EXPECT_TRUE(owner.events.empty());
    EXPECT_EQ(server.Requests("/x"), 0);
}

namespace {

// The user's proxy where WinINet's preset configuration reads it, for one test; what was there
// before comes back afterwards.
class UserProxy {
public:
    explicit UserProxy(const std::string& server) {
        for (auto& old : saved_) {
            DWORD size = 4096;
            old.data.resize(size);
            old.present = RegGetValueW(HKEY_CURRENT_USER, Key, old.name, RRF_RT_ANY | RRF_NOEXPAND,
                                       &old.type, old.data.data(), &size) == ERROR_SUCCESS;
            old.data.resize(size);
        }
        const DWORD on = 1;
        const std::wstring wide = win32::Wide(server);
        Set(L"ProxyEnable", REG_DWORD, &on, sizeof on);
        Set(L"ProxyServer", REG_SZ, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
        RegDeleteKeyValueW(HKEY_CURRENT_USER, Key, L"ProxyOverride"); // nothing goes around it
    }
    ~UserProxy() {
        for (const auto& old : saved_) {
            if (old.present) {
                Set(old.name, old.type, old.data.data(), old.data.size());
            } else {
                RegDeleteKeyValueW(HKEY_CURRENT_USER, Key, old.name);
            }
        }
    }

private:
    static constexpr const wchar_t* Key =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    static void Set(const wchar_t* name, DWORD type, const void* data, std::size_t size) {
        RegSetKeyValueW(HKEY_CURRENT_USER, Key, name, type, data, static_cast<DWORD>(size));
    }
    struct Saved {
        const wchar_t* name;
        bool present = false;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    Saved saved_[3] = {{L"ProxyEnable", false, 0, {}},
                       {L"ProxyServer", false, 0, {}},
                       {L"ProxyOverride", false, 0, {}}};
};

// Run by tests/win32/behind_proxy.py, which starts a proxy that asks for a Basic login.
struct ReadServiceBehindAProxy : ReadServiceTest {};

} // namespace

TEST_F(ReadServiceBehindAProxy, ALoginTheProgramCannotGiveFailsTheReadNamingTheProxyAndScheme) {
    const char* proxy = std::getenv("VARNEK_TEST_PROXY");
    if (!proxy) {
        GTEST_SKIP() << "needs the proxy of tests/win32/behind_proxy.py (ctest -R win32_proxy)";
    }
    const UserProxy setting(proxy);
    const std::string path = "/VarnekITApp/New_VarnekIT.zip";
    server.Serve(path, {Answer::Whole, Pattern(100000, 14)});
    const std::string target = Utf8(TempPath(L"New_VarnekIT.exe"));
    const AsyncProperty* done = ReadToEnd(ToFile(server.Url(path), "package", target));
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->StatusCode, vbAsyncStatusCodeError);
    EXPECT_EQ(done->Status, "HTTP status 407: the proxy " + std::string(proxy) +
                                " asks for a login (Basic); the program cannot log in to it: "
                                "allow the support server's address without login, or use NTLM");
    std::printf("the read's status: %s\n", done->Status.c_str());
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(server.Requests(path), 0); // the proxy let nothing through
}
