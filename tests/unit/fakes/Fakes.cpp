#include "fakes/Fakes.h"

#include <algorithm>

namespace varnek::fakes {

std::string MemorySettingsStore::GetSetting(std::string_view app, std::string_view section,
                                            std::string_view key, std::string_view defaultValue) {
    log.push_back("get " + std::string(key));
    const auto found = values.find({std::string(app), std::string(section), std::string(key)});
    return found == values.end() ? std::string(defaultValue) : found->second;
}

bool MemorySettingsStore::SaveSetting(std::string_view app, std::string_view section,
                                      std::string_view key, std::string_view value) {
    log.push_back("save " + std::string(key) + "=" + std::string(value));
    if (saveSucceeds) {
        values[{std::string(app), std::string(section), std::string(key)}] = std::string(value);
    }
    return saveSucceeds;
}

void MemorySettingsStore::DeleteSetting(std::string_view app, std::string_view section,
                                        std::string_view key) {
    log.push_back("delete " + std::string(key));
    values.erase({std::string(app), std::string(section), std::string(key)});
}

std::optional<std::string> MemorySettingsStore::Get(std::string_view key) const {
    const auto found = values.find({"VarnekIT", "Support", std::string(key)});
    if (found == values.end()) {
        return std::nullopt;
    }
    return found->second;
}

void MemorySettingsStore::Set(std::string_view key, std::string_view value) {
    values[{"VarnekIT", "Support", std::string(key)}] = std::string(value);
}

std::intptr_t FakeShell::Execute(WindowHandle owner, std::string_view verb, std::string_view file,
                                 std::optional<std::string_view> parameters,
                                 std::optional<std::string_view> directory, int show) {
    ShellCall call{owner, std::string(verb), std::string(file), std::nullopt, std::nullopt, show};
    if (parameters) {
        call.parameters = std::string(*parameters);
    }
    if (directory) {
        call.directory = std::string(*directory);
    }
    calls.push_back(call);
    return result;
}

FakeFiles& FakeFiles::operator=(const FakeFiles& other) {
    files = other.files;
    deleted = other.deleted;
    inUse = other.inUse;
    contents = other.contents;
    created = other.created;
    versions = other.versions;
    writeSucceeds = other.writeSucceeds;
    moveSucceeds = other.moveSucceeds;
    age = other.age;
    held = other.held;
    versionHeld = other.versionHeld;
    log = other.log;
    return *this;
}

void FakeFiles::Put(const std::string& path, std::vector<std::uint8_t> bytes, DateTime when) {
    files.insert(path);
    contents[path] = std::move(bytes);
    created[path] = when;
}

std::optional<std::vector<std::uint8_t>> FakeFiles::Content(std::string_view path) const {
    const auto found = contents.find(std::string(path));
    if (!Exists(path) || found == contents.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<DateTime> FakeFiles::DateCreated(std::string_view path) {
    const auto found = created.find(std::string(path));
    if (!Exists(path) || found == created.end()) {
        return std::nullopt;
    }
    return found->second;
}

namespace {

std::string Text(const DateTime& t) {
    return std::to_string(t.day) + "/" + std::to_string(t.month) + "/" + std::to_string(t.year) +
           " " + std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" +
           std::to_string(t.second);
}

} // namespace

bool FakeFiles::SetDateCreated(std::string_view path, const DateTime& when) {
    log.push_back("created " + std::string(path) + " " + Text(when));
    if (!Exists(path)) {
        return false;
    }
    created[std::string(path)] = when;
    return true;
}

bool FakeFiles::WriteFile(std::string_view path, const std::vector<std::uint8_t>& bytes) {
    log.push_back("write " + std::string(path) + " (" + std::to_string(bytes.size()) + " bytes)");
    if (!writeSucceeds) {
        return false;
    }
    const std::string name(path);
    if (!Exists(name)) {
        created[name] = clock_->now;
    }
    files.insert(name);
    contents[name] = bytes;
    return true;
}

std::optional<std::int64_t> FakeFiles::FileSize(std::string_view path) {
    const auto content = Content(path);
    if (!content) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(content->size());
}

std::optional<std::int64_t> FakeFiles::SecondsSinceWritten(std::string_view path) {
    if (!Exists(path)) {
        return std::nullopt;
    }
    const auto found = age.find(std::string(path));
    return found == age.end() ? 86400 : found->second;
}

FileBytes FakeFiles::ReadStart(std::string_view path, std::size_t count) {
    if (const auto found = held.find(std::string(path)); found != held.end()) {
        return {{}, found->second};
    }
    if (!Exists(path)) {
        return {{}, 2}; // ERROR_FILE_NOT_FOUND
    }
    auto content = Content(path).value_or(std::vector<std::uint8_t>{});
    content.resize(std::min(count, content.size()));
    return {content, 0};
}

bool FakeFiles::MoveReplace(std::string_view from, std::string_view to) {
    log.push_back("move " + std::string(from) + " -> " + std::string(to));
    if (!moveSucceeds || !Exists(from) || (inUse.contains(std::string(to)) && Exists(to))) {
        return false;
    }
    const std::string source(from), target(to);
    // A moved file keeps its content, creation time and version resource.
    contents[target] = contents[source];
    contents.erase(source);
    created.erase(target);
    if (const auto found = created.find(source); found != created.end()) {
        created[target] = found->second;
        created.erase(source);
    }
    versions.erase(target);
    if (const auto found = versions.find(source); found != versions.end()) {
        versions[target] = found->second;
        versions.erase(source);
    }
    // A running program's file may be renamed; it goes on running from the new name.
    if (inUse.erase(source)) {
        inUse.insert(target);
    }
    files.erase(source);
    files.insert(target);
    return true;
}

FileVersionInfo FakeFiles::FileVersion(std::string_view path) {
    for (const auto* unreadable : {&held, &versionHeld}) {
        if (const auto found = unreadable->find(std::string(path)); found != unreadable->end()) {
            return {std::nullopt, found->second};
        }
    }
    const auto found = versions.find(std::string(path));
    if (!Exists(path)) {
        return {std::nullopt, 2};
    }
    if (found == versions.end()) {
        return {};
    }
    return {found->second, 0};
}

bool FakeProcesses::StartScript(std::string_view script, std::string_view folder) {
    scripts.push_back(std::string(script) + " in " + std::string(folder));
    return startSucceeds;
}

bool FakeFiles::RemoveFile(std::string_view path) {
    deleted.push_back(std::string(path));
    if (inUse.contains(std::string(path))) {
        return false;
    }
    files.erase(std::string(path));
    return true;
}

void FakeReadService::AsyncRead(IAsyncReadOwner& owner, const ReadRequest& request) {
    log.push_back("read " + request.url);
    if (startError) {
        throw *startError;
    }
    requests.push_back(request);
    active.push_back({&owner, request});
}

void FakeReadService::CancelAsyncRead(IAsyncReadOwner& owner, std::string_view propertyName) {
    log.push_back("cancel " + std::string(propertyName));
    std::erase_if(active, [&](const Read& read) {
        return read.owner == &owner && read.request.propertyName == propertyName;
    });
    if (cancelError) {
        throw *cancelError;
    }
}

void FakeReadService::ForgetOwner(IAsyncReadOwner& owner) {
    log.push_back("forget");
    std::erase_if(active, [&](const Read& read) { return read.owner == &owner; });
}

const FakeReadService::Read* FakeReadService::Active(std::string_view url) const {
    for (const Read& read : active) {
        if (read.request.url == url) {
            return &read;
        }
    }
    return nullptr;
}

namespace {

void Fill(AsyncProperty& property, const ReadRequest& request) {
    property.PropertyName = request.propertyName;
    property.AsyncType = request.asyncType;
    if (request.asyncType == vbAsyncTypeFile) {
        property.FileName = request.targetFile;
    }
}

// What the check makes of the completion, as the worker puts it in.
void Checked(AsyncProperty& property, const ReadRequest& request) {
    FileVerdict verdict = request.check(request.targetFile);
    property.Checked = true;
    property.CheckNotes = std::move(verdict.notes);
    if (!verdict.refusal.empty()) {
        property.StatusCode = vbAsyncStatusCodeError;
        property.Status = verdict.refusal;
        property.RefusedForGood = verdict.lasting;
    }
}

} // namespace

bool FakeReadService::Progress(std::string_view url, AsyncProperty property) {
    const Read* read = Active(url);
    if (!read) {
        return false;
    }
    Fill(property, read->request);
    read->owner->AsyncReadProgress(property);
    return true;
}

bool FakeReadService::Complete(std::string_view url, AsyncProperty property) {
    const Read* read = Active(url);
    if (!read) {
        return false;
    }
    IAsyncReadOwner* owner = read->owner;
    const ReadRequest request = read->request;
    Fill(property, request);
    active.erase(active.begin() + (read - active.data()));
    // The worker checks only a file that arrived whole.
    if (request.check && property.StatusCode == vbAsyncStatusCodeEndDownloadData &&
        property.BytesRead == property.BytesMax) {
        Checked(property, request);
    }
    owner->AsyncReadComplete(property);
    return true;
}

bool FakeReadService::CompleteWith(std::string_view url, std::string_view bytes) {
    AsyncProperty property;
    property.Value.assign(bytes.begin(), bytes.end());
    property.BytesRead = property.BytesMax = static_cast<std::int32_t>(bytes.size());
    property.StatusCode = vbAsyncStatusCodeEndDownloadData;
    return Complete(url, property);
}

int FakeProcesses::TerminateProcessesNamed(std::string_view name, IProcessOwner& owner) {
    int count = 0;
    for (auto it = running.begin(); it != running.end();) {
        std::string lower = *it, wanted(name);
        for (auto& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (auto& c : wanted)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower == wanted) {
            terminated.push_back(*it);
            if (journal) {
                journal->push_back("terminate " + *it);
            }
            it = running.erase(it);
            ++count;
        } else {
            ++it;
        }
    }
    ending.push_back(&owner);
    return count;
}

void FakeProcesses::RunHidden(IProcessOwner& owner, RunRequest request) {
    started.push_back(request.program + " " + request.arguments + " in " + request.folder + " (" +
                      std::to_string(request.timeoutMs) + " ms)");
    runs.push_back({&owner, std::move(request)});
}

void FakeProcesses::ForgetOwner(IProcessOwner& owner) {
    std::erase_if(runs, [&](const Run& run) { return run.owner == &owner; });
    std::erase(ending, &owner);
}

bool FakeProcesses::TakeMachineLock(std::string_view name) {
    const std::string lock(name);
    if (locks.contains(lock) || lockedElsewhere.contains(lock)) {
        return false;
    }
    locks.insert(lock);
    return true;
}

void FakeProcesses::ReleaseMachineLock(std::string_view name) {
    locks.erase(std::string(name));
}

int FakeProcesses::FinishRuns() {
    int count = 0;
    while (!ending.empty()) {
        IProcessOwner* const owner = ending.front();
        ending.erase(ending.begin());
        owner->ProcessesEnded();
        ++count;
    }
    while (!runs.empty()) {
        const Run run = runs.front();
        runs.erase(runs.begin());
        RunResult result = runResult;
        if (run.request.check) {
            FileVerdict verdict = run.request.check(run.request.program);
            if (!verdict.refusal.empty()) {
                result = {RunResult::Outcome::Refused, 0, std::move(verdict)};
            }
        }
        run.owner->RunComplete(result);
        ++count;
    }
    return count;
}

int FakeDialogs::MsgBox(std::string_view text, std::uint32_t style,
                        std::optional<std::string_view> title) {
    Box box{std::string(text), style, std::nullopt};
    if (title) {
        box.title = std::string(*title);
    }
    shown.push_back(box);
    return answer;
}

long FakeRegistry::OpenKey(Key root, std::string_view subKey, std::uint32_t options,
                           std::uint32_t access, Key& result) {
    log.push_back("open " + std::to_string(root) + " " + std::string(subKey) + " " +
                  std::to_string(options) + " " + std::to_string(access));
    result = openResult == 0 ? 0x4242 : 0;
    return openResult;
}

long FakeRegistry::SetValue(Key key, std::string_view valueName, std::uint32_t type,
                            const std::vector<std::uint8_t>& data) {
    log.push_back("set " + std::to_string(key) + " " + std::string(valueName));
    if (key == 0) {
        return 6; // ERROR_INVALID_HANDLE
    }
    if (setResult == 0) {
        values[std::string(valueName)] = {type, data};
    }
    return setResult;
}

long FakeRegistry::DeleteValue(Key key, std::string_view valueName) {
    log.push_back("delete " + std::to_string(key) + " " + std::string(valueName));
    if (key == 0) {
        return 6;
    }
    return values.erase(std::string(valueName)) ? 0 : 2;
}

long FakeRegistry::CloseKey(Key key) {
    log.push_back("close " + std::to_string(key));
    return key == 0 ? 6 : 0;
}

long FakeRegistry::SetUserText(std::string_view subKey, std::string_view valueName,
                               std::string_view text) {
    userValues[std::string(subKey) + "\\" + std::string(valueName)] = std::string(text);
    return 0;
}

long FakeRegistry::DeleteUserValue(std::string_view subKey, std::string_view valueName) {
    return userValues.erase(std::string(subKey) + "\\" + std::string(valueName)) ? 0 : 2;
}

std::unique_ptr<IMainWindowView> FakeViews::CreateMainView(VarnekIT&) {
    auto view = std::make_unique<FakeMainView>();
    main = view.get();
    return view;
}

std::vector<std::string> FakeFiles::FilesIn(std::string_view folder) {
    std::string prefix(folder);
    if (prefix.empty() || prefix.back() != '\\') {
        prefix += '\\';
    }
    std::vector<std::string> names;
    for (const std::string& path : files) {
        if (path.starts_with(prefix) && path.find('\\', prefix.size()) == std::string::npos) {
            names.push_back(path.substr(prefix.size()));
        }
    }
    return names;
}

} // namespace varnek::fakes
