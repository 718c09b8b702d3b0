#include "fakes/Fakes.h"

namespace varnek::fakes {

std::string MemorySettingsStore::GetSetting(std::string_view app, std::string_view section,
                                            std::string_view key, std::string_view defaultValue) {
    log.push_back("get " + std::string(key));
    const auto found = values.find({std::string(app), std::string(section), std::string(key)});
    return found == values.end() ? std::string(defaultValue) : found->second;
}

void MemorySettingsStore::SaveSetting(std::string_view app, std::string_view section,
                                      std::string_view key, std::string_view value) {
    log.push_back("save " + std::string(key) + "=" + std::string(value));
    values[{std::string(app), std::string(section), std::string(key)}] = std::string(value);
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

int FakeProcesses::TerminateProcessesNamed(std::string_view name) {
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

std::unique_ptr<IMainWindowView> FakeViews::CreateMainView(VarnekIT&) {
    auto view = std::make_unique<FakeMainView>();
    main = view.get();
    return view;
}

} // namespace varnek::fakes
