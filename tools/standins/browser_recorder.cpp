// Registered as the http and https handler of a test prefix: writes the arguments it was
// started with to <own name>.log beside itself and ends, so a test reads exactly the address
// that the program handed to the browser.
#include "toolio.h"

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    std::string line = "{\"args\":[";
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ",";
        line += toolio::jsonString(argv[i]);
    }
    line += "],\"cmdline\":" + toolio::jsonString(GetCommandLineW()) + "}";
    return toolio::appendLine(toolio::logPathBesideSelf(), line) ? 0 : 3;
}
