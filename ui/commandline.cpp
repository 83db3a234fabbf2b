// SPDX-License-Identifier: MIT
#include "ui/commandline.h"

#include <filesystem>
#include <functional>
#include <system_error>

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
    bool apiGiven = false, tokenGiven = false;
    auto setApi = [&](const std::string &Endpoint) { return setFile(apiGiven, c.Api, Endpoint); };
    auto setToken = [&](const std::string &File) {
        return setFile(tokenGiven, c.ApiTokenFile, File);
    };
    // "--name VALUE" or "--name=VALUE"; false when the argument is not that option.
    std::string problem;
    auto valued = [&](const char *Name, size_t &i,
                      const std::function<bool(const std::string &)> &Set) {
        const std::string &a = Args[i];
        const std::string name = Name, eq = name + "=";
        std::string value;
        if (a == name) {
            if (i + 1 >= Args.size()) {
                problem = "option '" + name + "' needs a value";
                return true;
            }
            value = Args[++i];
        } else if (a.rfind(eq, 0) == 0) {
            value = a.substr(eq.size());
        } else {
            return false;
        }
        if (!Set(value))
            problem = "option '" + name + "' given twice or with an empty value";
        return true;
    };
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
        } else if (!optionsEnd && a == "--paths") {
            if (c.Action != TCommandLine::TAction::Help)
                c.Action = TCommandLine::TAction::Paths;
        } else if (!optionsEnd && a == "--monitor") {
            c.Monitor = true;
        } else if (!optionsEnd && a == "--no-serial") {
            c.NoSerial = true;
        } else if (!optionsEnd && (a == "--listen" || a == "--listen-rtu" ||
                                   a.rfind("--listen=", 0) == 0 ||
                                   a.rfind("--listen-rtu=", 0) == 0)) {
            const bool rtu = a.rfind("--listen-rtu", 0) == 0;
            const std::string option = rtu ? "--listen-rtu" : "--listen";
            std::string where;
            if (a.size() > option.size()) {
                where = a.substr(option.size() + 1);
            } else {
                if (i + 1 >= Args.size())
                    return failure("option '" + option + "' needs [ADDRESS:]PORT");
                where = Args[++i];
            }
            TListenerConfig l;
            l.Kind = rtu ? TStreamKind::RtuOverTcp : TStreamKind::ModbusTcp;
            if (!ParseListenSpec(where, l.Address, l.Port))
                return failure("option '" + option + "': '" + where +
                               "' is not [ADDRESS:]PORT (an IPv6 address in brackets)");
            c.Listeners.push_back(l);
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
        } else if (!optionsEnd &&
                   (valued("--api", i, setApi) || valued("--api-token-file", i, setToken))) {
            if (!problem.empty())
                return failure(problem);
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
    if (!c.ApiTokenFile.empty() && c.Api.empty())
        return failure("option '--api-token-file' needs '--api'");
    return c;
}

bool SameFile(const std::string &A, const std::string &B)
{
    namespace fs = std::filesystem;
    if (A.empty() || B.empty())
        return false;
    std::error_code ea, eb, eq;
    const bool aThere = fs::exists(A, ea);
    const bool bThere = fs::exists(B, eb);
    if (aThere && bThere) {
        const bool same = fs::equivalent(A, B, eq);
        return !eq && same;
    }
    const fs::path a = fs::weakly_canonical(fs::absolute(A, ea), ea);
    const fs::path b = fs::weakly_canonical(fs::absolute(B, eb), eb);
    return !ea && !eb && a.lexically_normal() == b.lexically_normal();
}

std::string CheckFileArguments(const TCommandLine &Line)
{
    if (Line.Trace.empty() || Line.Trace == "-")
        return {};
    if (SameFile(Line.Trace, Line.Profile))
        return "the trace file '" + Line.Trace + "' is the profile '" + Line.Profile + "'";
    if (SameFile(Line.Trace, Line.Values))
        return "the trace file '" + Line.Trace + "' is the values file '" + Line.Values + "'";
    return {};
}

std::string UsageText(const std::string &Program)
{
    return "Usage: " + Program +
           " [options] [PROFILE]\n"
           "Emulates Modbus slaves on a serial port and, when asked, over TCP.\n"
           "\n"
           "  PROFILE         the profile (.QRL) to open instead of the last one used;\n"
           "                  it becomes the last one used when the program closes\n"
           "  --trace FILE    write every frame of the line to FILE as CSV while running\n"
           "                  ('-' for standard output), flushed every 100 ms\n"
           "  --map FILE      load a register map (CSV) once the profile is loaded\n"
           "  --values FILE   import register values from FILE (CSV) once the profile is\n"
           "                  loaded; a bad file ends the program with status 2\n"
           "  --monitor       open the traffic monitor at start\n"
           "  --listen [ADDRESS:]PORT\n"
           "                  also serve the slaves over Modbus TCP (repeatable); ADDRESS\n"
           "                  defaults to 127.0.0.1, 0.0.0.0 or [::] for every interface\n"
           "  --listen-rtu [ADDRESS:]PORT\n"
           "                  also serve RTU frames over TCP (repeatable)\n"
           "  --no-serial     leave the serial port alone: the network serves the slaves\n"
           "  --api [ADDRESS:]PORT\n"
           "                  serve the HTTP API on ADDRESS (default 127.0.0.1) and PORT\n"
           "  --api-token-file FILE\n"
           "                  the token API requests must carry; on an address other\n"
           "                  than loopback one is generated when none is given\n"
           "  --help          print this help and exit\n"
           "  --version       print the version and exit\n"
           "  --paths         print where the settings, profiles, scripts.dll and the\n"
           "                  manual are, and exit\n";
}

std::string VersionText()
{
    return "Quorlin 1.0\n";
}

} // namespace quorlin
