// Where the program keeps its per-user values, and their names.
#pragma once

#include <string_view>

namespace varnek::settings {

inline constexpr std::string_view AppName = "VarnekIT";
inline constexpr std::string_view Section = "Support";

inline constexpr std::string_view Brugernavn = "Brugernavn"; // support-system user name
inline constexpr std::string_view Kodeord = "Kodeord";       // salted password digest
inline constexpr std::string_view Teamviewer = "Teamviewer"; // "1": end a running client first
inline constexpr std::string_view Language = "Language";     // "0" English, "1" Danish

inline constexpr std::string_view PasswordSalt = "8OurOddPepper42";

} // namespace varnek::settings
