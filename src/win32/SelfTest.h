// VarnekIT.exe /selftest: the start a new version of the program must pass before it may take
// the running one's place. It loads what every start needs (the icon at the sizes the windows
// use, the launcher picture decoded as the launcher decodes it), registers the window classes,
// creates the hidden main window and destroys it, and answers with its exit code. It takes no
// single-instance mutex, shows nothing, adds no icon, reads and writes no settings, touches no
// network and writes no log.
// It passes only with its own exit code (SelfTestPassed): a start that never got to it, or a
// release that misreads its command line, ends otherwise.
#pragma once

#include "update/PackageChecks.h"

#include <string_view>

namespace varnek::win32 {

// The self-test's exit codes. The pass is one no other way through the program ends with.
enum SelfTestResult : int {
    SelfTestPass = static_cast<int>(SelfTestPassed),
    SelfTestNoIcon = 1,        // the program's icon cannot be loaded at a size the windows use
    SelfTestNoPicture = 2,     // the launcher picture is missing or cannot be decoded
    SelfTestNoWindowClass = 3, // a window class, or the read service's window, cannot be made
    SelfTestNoMainWindow = 4,  // the hidden main window or its picture box cannot be created
    SelfTestError = 5,         // a program error (an exception) on the way
};

// Whether the command line asks for the self-test: "/selftest" in any mix of case, alone (blanks
// around it aside). Every other command line starts the program as always.
bool IsSelfTestCommandLine(std::wstring_view commandLine);

// Runs the self-test; one of the codes above.
int RunSelfTest();

} // namespace varnek::win32
