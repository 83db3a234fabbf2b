// SPDX-License-Identifier: MIT
#include "ui/commandline.h"

namespace quorlin
{

namespace
{

TCommandLine failure(std::string Why)
{
    TCommandLine c;
    c.Action = TCommandLine::TAction::Error;
    c.Error = std::move(Why);
    return c;
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string> &Args)
{
    TCommandLine c;
    bool traceGiven = false;
    bool profileGiven = false;
    bool optionsEnd = false;
    bool valuesGiven = false;
    bool mapGiven = false;
    // An option that takes a file: once, and with a name.
    auto setFile = [](bool &Given, std::string &Into, const std::string &File) -> bool {
        if (Given || File.empty())
            return false;
        Given = true;
        Into = File;
        return true;
    };
    auto setTrace = [&](const std::string &File) { return setFile(traceGiven, c.Trace, File); };
    auto setValues = [&](const std::string &File) { return setFile(valuesGiven, c.Values, File); };
    auto setMap = [&](const std::string &File) { return setFile(mapGiven, c.Map, File); };
    for (size_t i = 0; i < Args.size(); ++i) {
        const std::string &a = Args[i];
        if (!optionsEnd && a == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && (a == "--help" || a == "-h")) {
            // Asking for help wins over everything else on the line.
            c.Action = TCommandLine::TAction::Help;
        } else if (!optionsEnd && a == "--version") {
            if (c.Action != TCommandLine::TAction::Help)
                c.Action = TCommandLine::TAction::Version;
        } else if (!optionsEnd && a == "--monitor") {
            c.Monitor = true;
        } else if (!optionsEnd && a == "--trace") {
            if (i + 1 >= Args.size())
                return failure("option '--trace' needs a file name");
            if (!setTrace(Args[++i]))
                return failure("option '--trace' given twice or with an empty name");
        } else if (!optionsEnd && a.rfind("--trace=", 0) == 0) {
            if (!setTrace(a.substr(8)))
                return failure("option '--trace' given twice or with an empty name");
        } else if (!optionsEnd && a == "--values") {
            if (i + 1 >= Args.size())
                return failure("option '--values' needs a file name");
            if (!setValues(Args[++i]))
                return failure("option '--values' given twice or with an empty name");
        } else if (!optionsEnd && a.rfind("--values=", 0) == 0) {
            if (!setValues(a.substr(9)))
                return failure("option '--values' given twice or with an empty name");
        } else if (!optionsEnd && a == "--map") {
            if (i + 1 >= Args.size())
                return failure("option '--map' needs a file name");
            if (!setMap(Args[++i]))
                return failure("option '--map' given twice or with an empty name");
        } else if (!optionsEnd && a.rfind("--map=", 0) == 0) {
            if (!setMap(a.substr(6)))
                return failure("option '--map' given twice or with an empty name");
        } else if (!optionsEnd && a.size() > 1 && a[0] == '-') {
            return failure("unknown option '" + a + "'");
        } else {
            if (profileGiven)
                return failure("more than one profile given ('" + c.Profile + "', '" + a + "')");
            if (a.empty())
                return failure("empty profile name");
            profileGiven = true;
            c.Profile = a;
        }
    }
    return c;
}

std::string UsageText(const std::string &Program)
{
    return "Usage: " + Program +
           " [options] [PROFILE]\n"
           "Emulates a Modbus RTU slave on a serial port.\n"
           "\n"
           "  PROFILE         the profile (.QRL) to open instead of the last one used;\n"
           "                  it becomes the last one used when the program closes\n"
           "  --trace FILE    write every frame of the line to FILE as CSV while running\n"
           "                  ('-' for standard output), flushed every 100 ms\n"
           "  --map FILE      load a register map (CSV) once the profile is loaded\n"
           "  --values FILE   import register values from FILE (CSV) once the profile is\n"
           "                  loaded; a bad file ends the program with status 2\n"
           "  --monitor       open the traffic monitor at start\n"
           "  --help          print this help and exit\n"
           "  --version       print the version and exit\n";
}

std::string VersionText()
{
    return "Quorlin 1.0\n";
}

} // namespace quorlin
