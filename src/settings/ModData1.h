// The registry routines behind the autostart buttons.
#pragma once

#include "platform/Services.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace varnek::ModData1 {

// KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY |
// KEY_CREATE_LINK
inline constexpr std::uint32_t KeyAccess = 0x3F;

inline constexpr std::string_view RunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view AutostartValueName = "VarnekIT";
inline constexpr std::string_view AutostartValueData = "C:\\Varnek\\VarnekIT.exe";

// Opens the key, writes the value and closes the key; an open or write failure is shown in a
// message box with the result code.
void WriteRegistryValue(IRegistry& registry, IDialogs& dialogs, IRegistry::Key root,
                        std::string_view keyPath, std::string_view valueName, std::string_view data,
                        std::uint32_t valueType);
// A string value: the text and one NUL; a DWORD value: the text as a 32-bit integer; other types
// write nothing and give 0. Returns the registry's result code.
long SetRegistryData(IRegistry& registry, IRegistry::Key key, std::string_view valueName,
                     std::uint32_t valueType, std::string_view data);
// Opens the key, deletes the value and closes the key; nothing is checked or shown.
void DeleteRegistryValue(IRegistry& registry, IRegistry::Key root, std::string_view keyPath,
                         std::string_view valueName);

} // namespace varnek::ModData1
