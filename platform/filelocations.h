// SPDX-License-Identifier: MIT
// Where the program keeps its files. A portable copy (a build folder, a copied
// folder, any program folder that holds quorlin.ini) keeps everything next to
// the program, as it always has. An installed program (make install, the
// Debian package) or one in a folder the user may not write keeps the settings
// in $XDG_CONFIG_HOME/quorlin, the untitled profile and the profiles' folder in
// $XDG_DATA_HOME/quorlin, and looks for scripts.dll in that user folder before
// the installed one.
//
// The choice itself is a pure function of what the system says, so every
// combination is tested without touching a real home folder.
#pragma once

#include <string>
#include <vector>

namespace quorlin
{

// Below an installation's prefix (the folder above the program's bin/): where
// make install puts scripts.dll and the manual. packaging/CMakeLists.txt uses
// the same two paths.
inline constexpr const char *InstalledLibraryDir = "lib/quorlin";
inline constexpr const char *InstalledDataDir = "share/quorlin";

// What the system says about the program's folder and the user.
struct TPlaceFacts {
    std::string ProgramDir;             // absolute, no trailing slash
    bool ProgramDirHasSettings = false; // quorlin.ini lies there
    bool ProgramDirWritable = false;
    bool InstalledLayout = false; // ProgramDir/../lib/quorlin is a folder
    // The environment as it stands; empty when unset.
    std::string XdgConfigHome;
    std::string XdgDataHome;
    std::string Home; // $HOME, or the password database's home when that is unset
};

struct TFileLocations {
    enum class TMode { Portable, PerUser };
    TMode Mode = TMode::Portable;
    std::string Why;             // one line: why this mode was chosen
    std::string SettingsFile;    // quorlin.ini
    std::string DataDir;         // the untitled profile; where the dialogs start
    std::string UntitledProfile; // DataDir/UNTITLED.QRL
    // Folders scripts.dll is looked for in, first match wins.
    std::vector<std::string> ScriptDirs;
    std::string ManualDir; // the folder of Quorlin.hlp
    bool Portable() const { return Mode == TMode::Portable; }
};

TFileLocations ChooseFileLocations(const TPlaceFacts &Facts);

// Asks the file system and the environment about ProgramDir.
TPlaceFacts ProbePlaces(const std::string &ProgramDir);

// The first of ScriptDirs that holds scripts.dll, else the last of them (where
// a missing library is then reported).
std::string ScriptLibraryDir(const TFileLocations &Locations);

// Creates the per-user folders (mode 0700 for the ones it makes, as the XDG
// rules ask); nothing for a portable copy. False, with errno set, when a
// folder cannot be made.
bool MakeUserFolders(const TFileLocations &Locations);

// What --paths prints: one "name: path" line each.
std::string LocationsText(const TFileLocations &Locations);

} // namespace quorlin
