// SPDX-License-Identifier: MIT
// quorlin [options] [PROFILE]: what the program was asked to do at start.
// Standard C++ only, so it is tested without starting the program.
#pragma once

#include <string>
#include <vector>

#include "engine/listenerconfig.h"

namespace quorlin
{

struct TCommandLine {
    enum class TAction { Run, Help, Version, Paths, Error };
    TAction Action = TAction::Run;
    std::string Profile;  // opened instead of CurrentProfile; empty: none given
    std::string Trace;    // file the traffic goes to; "-" standard output; empty: none
    std::string Values;   // register values (CSV) imported once the profile is loaded
    bool Monitor = false; // open the traffic monitor at start
    // --listen / --listen-rtu, in their order: run beside the profile's own.
    std::vector<TListenerConfig> Listeners;
    bool NoSerial = false; // --no-serial: the serial port neither opened nor retried
    std::string Api;          // "[ADDRESS:]PORT" of the HTTP API; empty: as quorlin.ini says
    std::string ApiTokenFile; // the API's token; empty: none (generated off loopback)
    std::string Error;    // what was wrong, for Action Error
};

// Args without the program name.
TCommandLine ParseCommandLine(const std::vector<std::string> &Args);

// Whether two names lead to one file (links followed). A name where no file
// is yet is compared by its absolute, normalised path.
bool SameFile(const std::string &A, const std::string &B);

// The file arguments checked against each other before anything is opened:
// the trace must not overwrite the profile or the values file it is started
// with. Empty when they are fine, else the reason.
std::string CheckFileArguments(const TCommandLine &Line);

// The text of --help (also shown, on standard error, after a wrong option).
std::string UsageText(const std::string &Program);
std::string VersionText();

} // namespace quorlin
