// The script that replaces the program by the downloaded one: it waits until the running
// program is gone, renames the new one into its place, starts it and deletes itself.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace varnek {

// ASCII, every line ended by CR LF.
inline constexpr std::string_view ReplacementScriptText =
    "@Echo off\r\n"
    ":S\r\n"
    "Del \"VarnekIT.exe\"\r\n"
    "If Exist \"VarnekIT.exe\" Goto S\r\n"
    ":D\r\n"
    "ren \"New_VarnekIT.exe\" \"VarnekIT.exe\"\r\n"
    "If Exist \"New_VarnekIT.exe\" Goto D\r\n"
    "\"VarnekIT.exe\"\r\n"
    "Del DeleteOLD.bat\r\n";

inline std::vector<std::uint8_t> ReplacementScript() {
    return {ReplacementScriptText.begin(), ReplacementScriptText.end()};
}

} // namespace varnek
