// What the program binds of the support company's web server and of its remote-control client.
#pragma once

#include "Config.h"

#include <string_view>

namespace varnek::outside {

// Support server: files under SupportServerUrl.
inline constexpr std::string_view VersionTeamViewerPath = "/VarnekITApp/VersionTeamViewer.txt";
inline constexpr std::string_view VersionVarnekITPath = "/VarnekITApp/VersionVarnekIT.txt";
inline constexpr std::string_view TeamViewerPackagePath = "/VarnekITApp/Varnek_TeamViewer.zip";
inline constexpr std::string_view VarnekITPackagePath = "/VarnekITApp/New_VarnekIT.zip";
// Optional: the share of machines, in percent, that the automatic check offers a newer program
// to (none: all of them).
inline constexpr std::string_view RolloutVarnekITPath = "/VarnekITApp/RolloutVarnekIT.txt";
// The support system's login page: + user name + PasswordParameter + digest.
inline constexpr std::string_view LoginPath = "/AppLogin.asp?Username=";
inline constexpr std::string_view PasswordParameter = "&Password=";

// The remote-control client in the program folder, and how it is started.
inline constexpr std::string_view ClientFileName = "Varnek_TeamViewer.exe";
inline constexpr std::string_view ClientVerb = "Open";
inline constexpr std::string_view ClientParameters = "";
inline constexpr int ClientShowCommand = 5; // SW_SHOW
// Running clients that the launcher may end first.
inline constexpr std::string_view RunningClientProcessName = "TeamViewer.exe";

// Files of the update service in the program folder.
inline constexpr std::string_view ProgramFileName = "VarnekIT.exe";
inline constexpr std::string_view NewProgramFileName = "New_VarnekIT.exe";
// The old program's name while the new one takes its place; put back if that fails.
inline constexpr std::string_view AsideProgramFileName = "VarnekIT.exe.old";
inline constexpr std::string_view ReplacementScriptName = "DeleteOLD.bat";

} // namespace varnek::outside
