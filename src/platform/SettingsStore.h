// The per-user settings store: text values addressed by application, section and key.
#pragma once

#include <string>
#include <string_view>

namespace varnek {

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // The stored text, or `defaultValue` when the key is absent. Never fails.
    virtual std::string GetSetting(std::string_view appName, std::string_view section,
                                   std::string_view key, std::string_view defaultValue) = 0;
    // Creates or overwrites the value; application and section are created when missing.
    // False when it could not be written (the stored value, if any, is then unchanged).
    virtual bool SaveSetting(std::string_view appName, std::string_view section,
                             std::string_view key, std::string_view value) = 0;
    // Removes the value; an absent key is not an error.
    virtual void DeleteSetting(std::string_view appName, std::string_view section,
                               std::string_view key) = 0;
};

} // namespace varnek
