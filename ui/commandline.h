// SPDX-License-Identifier: MIT
// quorlin [options] [PROFILE]: what the program was asked to do at start.
// Standard C++ only, so it is tested without starting the program.
#pragma once

#include <string>
#include <vector>

namespace quorlin
{

struct TCommandLine {
    enum class TAction { Run, Help, Version, Error };
    TAction Action = TAction::Run;
    std::string Profile;  // opened instead of CurrentProfile; empty: none given
    std::string Trace;    // file the traffic goes to; "-" standard output; empty: none
    std::string Values;   // register values (CSV) imported once the profile is loaded
    std::string Map;      // register map (CSV) loaded once the profile is loaded
    bool Monitor = false; // open the traffic monitor at start
    std::string Error;    // what was wrong, for Action Error
};

// Args without the program name.
TCommandLine ParseCommandLine(const std::vector<std::string> &Args);

// The text of --help (also shown, on standard error, after a wrong option).
std::string UsageText(const std::string &Program);
std::string VersionText();

} // namespace quorlin
