#include "update/ReplacementScript.h"

#include "app/Outside.h"

#include <string>

namespace varnek {

namespace {

std::string Quoted(std::string_view name) {
    std::string quoted(1, '"');
    quoted.append(name).append(1, '"');
    return quoted;
}

} // namespace

std::vector<std::uint8_t> ReplacementScript(int tries) {
    const std::string program = Quoted(outside::ProgramFileName);
    const std::string aside = Quoted(outside::AsideProgramFileName);
    const std::string fresh = Quoted(outside::NewProgramFileName);
    // Each wait is a second: ping's pause between its two echoes (timeout.exe would refuse to
    // run without console input). The tries of all the steps together are bounded.
    const std::string retry = "set /a n+=1\r\nIf %n% GEQ " + std::to_string(tries) + " Goto ";
    const std::string pause = "ping -n 2 127.0.0.1 >nul\r\n";
    const std::string text =
        "@Echo off\r\n"
        "set n=0\r\n"
        // An aside copy left by an earlier update, unless it is all there is.
        "If Exist " +
        program + " If Exist " + aside + " Del " + aside +
        "\r\n"
        "attrib -r " +
        program +
        " >nul 2>&1\r\n"
        // Nothing to put in place (removed since it was written): the old program stays.
        "If Not Exist " +
        fresh +
        " Goto B\r\n"
        // The old program out of the way: a running program's file can be renamed.
        ":S\r\n"
        "If Not Exist " +
        program +
        " Goto D\r\n"
        "ren " +
        program + " " + aside +
        " 2>nul\r\n"
        "If Not Exist " +
        program + " Goto D\r\n" + retry + "P\r\n" + pause +
        "Goto S\r\n"
        // The new one into its place, or the old one back.
        ":D\r\n"
        "If Not Exist " +
        fresh +
        " Goto B\r\n"
        "ren " +
        fresh + " " + program +
        " 2>nul\r\n"
        "If Exist " +
        program + " Goto W\r\n" + retry + "B\r\n" + pause +
        "Goto D\r\n"
        // The old program's file can be deleted once the old program has ended: the new one
        // starts after that, so it does not find the old one still holding its place.
        ":W\r\n"
        "If Not Exist " +
        aside +
        " Goto R\r\n"
        "Del " +
        aside +
        " 2>nul\r\n"
        "If Not Exist " +
        aside + " Goto R\r\n" + retry + "R\r\n" + pause +
        "Goto W\r\n"
        ":B\r\n"
        "ren " +
        aside + " " + program +
        " 2>nul\r\n"
        // Nothing replaced: a moment for the old program to end before it starts again.
        ":P\r\n"
        "ping -n 3 127.0.0.1 >nul\r\n"
        // Started without waiting for it, so no command processor stays behind.
        ":R\r\n"
        "start \"\" " +
        program +
        "\r\n"
        "Del DeleteOLD.bat\r\n";
    return {text.begin(), text.end()};
}

} // namespace varnek
