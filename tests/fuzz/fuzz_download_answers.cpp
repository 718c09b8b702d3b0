// The read service's notifications in any order and with any values, fed to a Download (text)
// and a Downloader (file) over the unit tests' fake read service and file store. Each
// notification must raise just the events it stands for: any number of progress events, then
// one outcome per read and nothing after it; and the Downloader replaces its destination only
// with a whole transfer (of a program, when it asks for one).
#include "Check.h"
#include "download/Download.h"
#include "download/Downloader.h"
#include "fakes/Fakes.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using namespace varnek;

namespace {

struct Event {
    std::string kind; // "progress", "error", "complete"
    std::string key;
    std::int32_t a = 0, b = 0, c = 0; // the event's numbers, in their order
    std::string text;
    std::vector<std::uint8_t> value;
};

// Two text reads (a byte array and a file read) and two file downloads.
struct Slot {
    std::string url;
    std::string key; // the Download key, or the Downloader's destination
    std::int32_t fileType = vbAsyncTypeByteArray;
    bool active = false;
    std::string temporary; // the Downloader's temporary file of the last download started
};

std::int32_t StatusCode(FuzzedDataProvider& in) {
    static constexpr std::int32_t known[] = {0, 1, 2, 3, 4, 5, 6, 10, 11, 13, 14, 15, 16};
    return in.ConsumeBool() ? in.PickValueInArray(known) : in.ConsumeIntegral<std::int32_t>();
}

AsyncProperty Notification(FuzzedDataProvider& in) {
    AsyncProperty property;
    property.StatusCode = StatusCode(in);
    property.BytesRead = in.ConsumeIntegral<std::int32_t>();
    property.BytesMax = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int32_t>(-2, 40)
                                         : in.ConsumeIntegral<std::int32_t>();
    property.Status = in.ConsumeRandomLengthString(16);
    property.Value = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 40));
    return property;
}

class Run {
public:
    explicit Run(FuzzedDataProvider& in) : in_(in) {
        downloader_->RequireExecutable = in.ConsumeBool();
        download_->DownloadProgress = [this](const std::string& key, std::int32_t progress,
                                             std::int32_t max, std::int32_t status,
                                             const std::string& text) {
            events_.push_back({"progress", key, progress, max, status, text, {}});
        };
        download_->DownloadError = [this](const std::string& key, std::int32_t code,
                                          const std::string& description) {
            events_.push_back({"error", key, code, 0, 0, description, {}});
        };
        download_->DownloadComplete = [this](const std::string& key,
                                             const std::vector<std::uint8_t>& value,
                                             std::int32_t type) {
            events_.push_back({"complete", key, type, 0, 0, "", value});
        };
        downloader_->DownloadProgress = [this](std::int32_t cur, std::int32_t max,
                                               const std::string& file) {
            events_.push_back({"progress", file, cur, max, 0, "", {}});
        };
        downloader_->DownloadError = [this](const std::string& file) {
            events_.push_back({"error", file, 0, 0, 0, "", {}});
        };
        downloader_->DownloadComplete = [this](std::int32_t max, const std::string& file) {
            events_.push_back({"complete", file, max, 0, 0, "", {}});
        };
        for (int i = 2; i < 4; ++i) {
            store_.Put(slots_[i].key, Old(i), {2025, 1, 2, 3, 4, 5});
        }
    }

    void Step() {
        Slot& slot = slots_[in_.ConsumeIntegralInRange(0, 3)];
        const bool file = &slot >= &slots_[2];
        events_.clear();
        switch (in_.ConsumeIntegralInRange(0, 3)) {
        case 0:
            Begin(slot, file);
            break;
        case 1:
            Progress(slot, file);
            break;
        case 2:
            Complete(slot, file);
            break;
        default:
            if (!file) {
                download_->Cancel(slot.key);
                slot.active = false;
                FUZZ_CHECK(events_.empty());
            }
        }
        for (int i = 2; i < 4; ++i) {
            CheckDestination(i);
        }
    }

    // The components go away: nothing more is raised, no temporary file stays behind.
    void End() {
        events_.clear();
        download_.reset();
        downloader_.reset();
        FUZZ_CHECK(events_.empty());
        for (int i = 2; i < 4; ++i) {
            FUZZ_CHECK(slots_[i].temporary.empty() || !store_.Exists(slots_[i].temporary));
            CheckDestination(i);
        }
    }

private:
    static std::vector<std::uint8_t> Old(int slot) {
        const std::string text = "MZ good program " + std::to_string(slot);
        return {text.begin(), text.end()};
    }

    void Begin(Slot& slot, bool file) {
        if (slot.active) {
            return; // one read per key at a time
        }
        const bool fails = in_.ConsumeIntegral<std::uint8_t>() < 32;
        if (fails) {
            reads_.startError.emplace(in_.ConsumeIntegral<std::int32_t>(), "cannot start");
        }
        const std::size_t boxes = dialogs_.shown.size();
        if (file) {
            downloader_->BeginDownload(slot.url, slot.key);
            FUZZ_CHECK(events_.empty());
            FUZZ_CHECK(dialogs_.shown.size() == boxes + (fails ? 1 : 0));
            // A name of its own beside the destination, which the service is asked to write.
            slot.temporary = downloader_->TemporaryFileOf(slot.key);
            FUZZ_CHECK(fails == slot.temporary.empty());
            FUZZ_CHECK(fails || reads_.Active(slot.url)->request.targetFile == slot.temporary);
        } else {
            download_->BeginDownload(slot.url, slot.key, slot.fileType);
            if (fails) {
                FUZZ_CHECK(events_.size() == 1 && events_[0].kind == "error" &&
                           events_[0].key == slot.key &&
                           events_[0].a == reads_.startError->Number());
            } else {
                FUZZ_CHECK(events_.empty());
            }
        }
        reads_.startError.reset();
        slot.active = !fails;
        FUZZ_CHECK((reads_.Active(slot.url) != nullptr) == slot.active);
    }

    // What the service wrote to a temporary file: often as long as it announced, starting
    // like a program or almost.
    std::vector<std::uint8_t> Written(std::int32_t announced) {
        static constexpr std::string_view starts[] = {"", "MZ", "M", "MX", "ZM", "mz", "NZ"};
        const std::string_view start = in_.PickValueInArray(starts);
        std::vector<std::uint8_t> bytes(start.begin(), start.end());
        const bool whole = in_.ConsumeBool() &&
                           announced >= static_cast<std::int32_t>(start.size()) && announced <= 64;
        const std::size_t rest = whole ? static_cast<std::size_t>(announced) - start.size()
                                       : in_.ConsumeIntegralInRange<std::size_t>(0, 40);
        const auto tail = in_.ConsumeBytes<std::uint8_t>(rest);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        return bytes;
    }

    void Progress(Slot& slot, bool file) {
        const AsyncProperty property = Notification(in_);
        if (file && slot.active && in_.ConsumeBool()) {
            // Part of the data is written while the read goes on.
            store_.Put(slot.temporary, Written(property.BytesRead), clock_.now);
        }
        FUZZ_CHECK(reads_.Progress(slot.url, property) == slot.active);
        if (!slot.active) {
            FUZZ_CHECK(events_.empty());
            return;
        }
        if (file) {
            if (property.BytesMax == 0) {
                FUZZ_CHECK(events_.empty());
            } else {
                FUZZ_CHECK(events_.size() == 1 && events_[0].kind == "progress" &&
                           events_[0].key == slot.key && events_[0].a == property.BytesRead &&
                           events_[0].b == property.BytesMax);
            }
            return;
        }
        FUZZ_CHECK(events_.size() == 1 && events_[0].key == slot.key);
        CheckStatusText(events_[0].text, property);
        if (property.StatusCode == vbAsyncStatusCodeError) {
            FUZZ_CHECK(events_[0].kind == "error" && events_[0].a == 0);
        } else {
            FUZZ_CHECK(events_[0].kind == "progress" && events_[0].a == property.BytesRead &&
                       events_[0].b == property.BytesMax && events_[0].c == property.StatusCode);
        }
    }

    void Complete(Slot& slot, bool file) {
        const AsyncProperty property = Notification(in_);
        const std::string temporary = slot.temporary;
        std::vector<std::uint8_t> written;
        bool arrived = false;
        if (file && slot.active) {
            if (in_.ConsumeBool()) {
                store_.Put(temporary, Written(property.BytesMax), clock_.now);
            }
            // What the service left in the temporary file, now or while the read went on.
            written = store_.Content(temporary).value_or(std::vector<std::uint8_t>{});
            const bool program = written.size() >= 2 && written[0] == 'M' && written[1] == 'Z';
            // The service checks only a file that arrived whole; nothing unchecked is taken.
            arrived = store_.Exists(temporary) &&
                      property.StatusCode == vbAsyncStatusCodeEndDownloadData &&
                      property.BytesRead == property.BytesMax && property.BytesMax > 0 &&
                      static_cast<std::int64_t>(written.size()) == property.BytesMax &&
                      (program || !downloader_->RequireExecutable);
        }
        const bool was = slot.active;
        FUZZ_CHECK(reads_.Complete(slot.url, property) == was);
        slot.active = false;
        if (!was) {
            FUZZ_CHECK(events_.empty());
            return;
        }
        FUZZ_CHECK(!reads_.Active(slot.url));
        if (file) {
            FUZZ_CHECK(!store_.Exists(temporary));
            if (arrived) {
                FUZZ_CHECK(events_.size() == 1 && events_[0].kind == "complete" &&
                           events_[0].key == slot.key && events_[0].a == property.BytesMax);
                FUZZ_CHECK(store_.Content(slot.key) == written);
                replaced_[slot.key == slots_[2].key ? 0 : 1] = written;
            } else {
                FUZZ_CHECK(events_.size() == 2 && events_[0].kind == "error" &&
                           events_[0].key == slot.key && events_[1].kind == "complete" &&
                           events_[1].key == slot.key && events_[1].a == 0);
            }
            return;
        }
        FUZZ_CHECK(events_.size() == 1 && events_[0].key == slot.key);
        if (property.StatusCode == vbAsyncStatusCodeError) {
            FUZZ_CHECK(events_[0].kind == "error" && events_[0].a == 0);
            CheckStatusText(events_[0].text, property);
        } else {
            FUZZ_CHECK(events_[0].kind == "complete" && events_[0].a == slot.fileType);
            if (slot.fileType == vbAsyncTypeByteArray) {
                FUZZ_CHECK(events_[0].value == property.Value);
            }
        }
    }

    // The service's own text when it gave one; some text always.
    static void CheckStatusText(const std::string& text, const AsyncProperty& property) {
        FUZZ_CHECK(!text.empty());
        if (!property.Status.empty()) {
            FUZZ_CHECK(text == property.Status);
        }
    }

    // A destination holds its old program or the last whole transfer, never anything else.
    void CheckDestination(int i) {
        const auto& expected = replaced_[i - 2];
        FUZZ_CHECK(store_.Content(slots_[i].key) == (expected.empty() ? Old(i) : expected));
    }

    FuzzedDataProvider& in_;
    fakes::FakeClock clock_;
    fakes::FakeFiles store_{clock_};
    fakes::FakeProcesses processes_;
    fakes::FakeReadService reads_;
    fakes::FakeDialogs dialogs_;
    std::unique_ptr<Download> download_ = std::make_unique<Download>(reads_);
    std::unique_ptr<Downloader> downloader_ =
        std::make_unique<Downloader>(reads_, store_, processes_, dialogs_);
    std::array<Slot, 4> slots_{{
        {"http://127.0.0.1:18080/a.txt", "a", vbAsyncTypeByteArray, false, {}},
        {"http://127.0.0.1:18080/b.txt", "b", vbAsyncTypeFile, false, {}},
        {"http://127.0.0.1:18080/A.zip", "C:\\Varnek\\A.exe", vbAsyncTypeFile, false, {}},
        {"http://127.0.0.1:18080/B.zip", "C:\\Varnek\\B.exe", vbAsyncTypeFile, false, {}},
    }};
    std::array<std::vector<std::uint8_t>, 2> replaced_;
    std::vector<Event> events_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Run run(in);
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        run.Step();
    }
    run.End();
    return 0;
}
