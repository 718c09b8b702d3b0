#include "settings/ModData1.h"

#include <charconv>

namespace varnek::ModData1 {

void WriteRegistryValue(IRegistry& registry, IDialogs& dialogs, IRegistry::Key root,
                        std::string_view keyPath, std::string_view valueName, std::string_view data,
                        std::uint32_t valueType) {
    IRegistry::Key key = 0;
    const long opened = registry.OpenKey(root, keyPath, 0, KeyAccess, key);
    if (opened != 0) {
        dialogs.MsgBox("RegOpenKey error - " + std::to_string(opened), vbOKOnly, std::nullopt);
    }
    // With a failed open the handle is still 0, and the write fails with its own code.
    const long written = SetRegistryData(registry, key, valueName, valueType, data);
    if (written != 0) {
        dialogs.MsgBox("SetValue error - " + std::to_string(written), vbOKOnly, std::nullopt);
    }
    registry.CloseKey(key);
}

long SetRegistryData(IRegistry& registry, IRegistry::Key key, std::string_view valueName,
                     std::uint32_t valueType, std::string_view data) {
    std::vector<std::uint8_t> bytes;
    if (valueType == IRegistry::StringValue) {
        bytes.assign(data.begin(), data.end());
        bytes.push_back(0);
    } else if (valueType == IRegistry::DwordValue) {
        std::int32_t number = 0;
        std::from_chars(data.data(), data.data() + data.size(), number);
        const auto bits = static_cast<std::uint32_t>(number);
        bytes = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                 static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
    } else {
        return 0;
    }
    return registry.SetValue(key, valueName, valueType, bytes);
}

void DeleteRegistryValue(IRegistry& registry, IRegistry::Key root, std::string_view keyPath,
                         std::string_view valueName) {
    IRegistry::Key key = 0;
    registry.OpenKey(root, keyPath, 0, KeyAccess, key);
    registry.DeleteValue(key, valueName);
    registry.CloseKey(key);
}

} // namespace varnek::ModData1
