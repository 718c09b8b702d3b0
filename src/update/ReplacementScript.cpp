#include "update/ReplacementScript.h"

#include "app/Outside.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace varnek {

std::vector<std::uint8_t> ReplacementScript(std::string_view asideName, int tries, int asideTries) {
    const std::string program = Quoted(outside::ProgramFileName);
    const std::string aside = Quoted(asideName);
    const std::string fresh = Quoted(outside::NewProgramFileName);
    const std::string system = "\"%SystemRoot%\\System32\\";
    // Each wait is a second: ping's pause between its two echoes (timeout.exe would refuse to
    // run without console input).
    const std::string pause = system + "ping.exe\" -n 2 127.0.0.1 >nul";
    const auto bound = [](int count, std::string_view label) {
        return "If %n% GEQ " + std::to_string(count) + " Goto " + std::string(label);
    };
    const std::string lines[] = {
        "@Echo off",
        "set n=0",
        system + "attrib.exe\" -r " + program + " >nul 2>&1",
        // Nothing to put in place (removed since it was written): the old program stays.
        "If Not Exist " + fresh + " Goto B",
        // The pair: the old program aside, the new one into its place, or the old one back.
        ":S",
        "ren " + program + " " + aside + " 2>nul",
        "If Exist " + program + " Goto P",
        "ren " + fresh + " " + program + " 2>nul",
        "If Exist " + program + " Goto W",
        "ren " + aside + " " + program + " 2>nul",
        // Held (by the old program, a scanner, ...): a second, and the pair again.
        ":P",
        "set /a n+=1",
        bound(tries, "B"),
        pause,
        "If Exist " + fresh + " Goto S",
        "Goto B",
        // Replaced. The old program's file can be deleted once the old program has ended; the
        // new one starts after that, so it does not find the old one still holding its place.
        // Another session may still run it: then it stays, for a later start to remove.
        ":W",
        "set n=0",
        ":X",
        "Del " + aside + " 2>nul",
        "If Not Exist " + aside + " Goto R",
        "set /a n+=1",
        bound(asideTries, "R"),
        pause,
        "Goto X",
        // Nothing replaced: the old program under its name, and a moment for it to end before
        // it starts again.
        ":B",
        "If Not Exist " + program + " ren " + aside + " " + program + " 2>nul",
        system + "ping.exe\" -n 3 127.0.0.1 >nul",
        // Started without waiting for it, so no command processor stays behind.
        ":R",
        "start \"\" " + program,
        "Del DeleteOLD.bat",
    };
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return {text.begin(), text.end()};
}

std::string RestoreCommand(std::string_view cmd, std::string_view folder, std::string_view aside) {
    const std::string program = Quoted(PathInFolder(folder, outside::ProgramFileName));
    const std::string copy = Quoted(PathInFolder(folder, aside));
    return Quoted(cmd) + " /d /c If Not Exist " + program + " If Exist " + copy + " (ren " + copy +
           " " + Quoted(outside::ProgramFileName) + " & start \"\" " + program + ")";
}

} // namespace varnek
