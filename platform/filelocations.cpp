// SPDX-License-Identifier: MIT
#include "platform/filelocations.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin
{

namespace
{

std::string join(const std::string &Dir, const std::string &Name)
{
    if (Dir.empty() || Dir.back() == '/')
        return Dir + Name;
    return Dir + "/" + Name;
}

// "/usr/bin" -> "/usr"; "/bin" and "/" -> "/".
std::string parentOf(const std::string &Dir)
{
    const size_t slash = Dir.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return Dir.substr(0, slash);
}

bool isDir(const std::string &Path)
{
    struct stat st {
    };
    return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string &Path)
{
    struct stat st {
    };
    return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The XDG rules ignore a relative value as if it were unset.
bool usable(const std::string &Dir)
{
    return !Dir.empty() && Dir[0] == '/';
}

std::string env(const char *Name)
{
    const char *v = std::getenv(Name);
    return v ? std::string(v) : std::string();
}

std::string passwordHome()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? size_t(size) : 16384, '\0');
    struct passwd pw {
    };
    struct passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir)
        return {};
    return found->pw_dir;
}

TFileLocations portable(const TPlaceFacts &Facts, std::string Why)
{
    TFileLocations l;
    l.Mode = TFileLocations::TMode::Portable;
    l.Why = std::move(Why);
    l.SettingsFile = join(Facts.ProgramDir, "quorlin.ini");
    l.DataDir = Facts.ProgramDir;
    l.UntitledProfile = join(Facts.ProgramDir, "UNTITLED.QRL");
    l.ScriptDirs = {Facts.ProgramDir};
    l.ManualDir = Facts.ProgramDir;
    // An installation made portable by a quorlin.ini beside the program still
    // has its library and manual where they were installed.
    if (Facts.InstalledLayout) {
        const std::string prefix = parentOf(Facts.ProgramDir);
        l.ScriptDirs.push_back(join(prefix, InstalledLibraryDir));
        l.ManualDir = join(prefix, InstalledDataDir);
    }
    return l;
}

// mkdir -p, each new folder 0700.
bool makePath(const std::string &Dir)
{
    if (Dir.empty() || isDir(Dir))
        return true;
    const std::string parent = parentOf(Dir);
    if (parent != Dir && !makePath(parent))
        return false;
    if (::mkdir(Dir.c_str(), 0700) == 0 || (errno == EEXIST && isDir(Dir)))
        return true;
    return false;
}

} // namespace

TFileLocations ChooseFileLocations(const TPlaceFacts &Facts)
{
    // A quorlin.ini beside the program settles it: whoever put it there wants
    // the program to live in that folder.
    if (Facts.ProgramDirHasSettings)
        return portable(Facts, "the program folder holds quorlin.ini");
    // An installation is never written into, not even by root or when it was
    // installed into the user's own ~/.local.
    if (!Facts.InstalledLayout && Facts.ProgramDirWritable)
        return portable(Facts, "the program folder is writable");

    const std::string home = usable(Facts.Home) ? Facts.Home : std::string();
    const std::string config = usable(Facts.XdgConfigHome) ? Facts.XdgConfigHome
                               : home.empty()              ? std::string()
                                                           : join(home, ".config");
    const std::string data = usable(Facts.XdgDataHome) ? Facts.XdgDataHome
                             : home.empty()            ? std::string()
                                                       : join(home, ".local/share");
    // Nowhere of the user's own to go: the program folder, as before, where a
    // write that fails says so.
    if (config.empty() || data.empty())
        return portable(Facts, "no home folder is known");

    TFileLocations l;
    l.Mode = TFileLocations::TMode::PerUser;
    l.Why = Facts.InstalledLayout ? "installed program" : "the program folder is not writable";
    l.SettingsFile = join(join(config, "quorlin"), "quorlin.ini");
    l.DataDir = join(data, "quorlin");
    l.UntitledProfile = join(l.DataDir, "UNTITLED.QRL");
    const std::string prefix = parentOf(Facts.ProgramDir);
    const std::string installedLib =
        Facts.InstalledLayout ? join(prefix, InstalledLibraryDir) : Facts.ProgramDir;
    l.ScriptDirs = {l.DataDir, installedLib};
    l.ManualDir = Facts.InstalledLayout ? join(prefix, InstalledDataDir) : Facts.ProgramDir;
    return l;
}

TPlaceFacts ProbePlaces(const std::string &ProgramDir)
{
    TPlaceFacts f;
    f.ProgramDir = ProgramDir;
    f.ProgramDirHasSettings = isFile(join(ProgramDir, "quorlin.ini"));
    f.ProgramDirWritable = ::access(ProgramDir.c_str(), W_OK) == 0;
    f.InstalledLayout = isDir(join(parentOf(ProgramDir), InstalledLibraryDir));
    f.XdgConfigHome = env("XDG_CONFIG_HOME");
    f.XdgDataHome = env("XDG_DATA_HOME");
    f.Home = env("HOME");
    if (!usable(f.Home))
        f.Home = passwordHome();
    return f;
}

std::string ScriptLibraryDir(const TFileLocations &Locations)
{
    for (const std::string &dir : Locations.ScriptDirs)
        if (isFile(join(dir, "scripts.dll")))
            return dir;
    return Locations.ScriptDirs.empty() ? std::string() : Locations.ScriptDirs.back();
}

bool MakeUserFolders(const TFileLocations &Locations)
{
    if (Locations.Portable())
        return true;
    return makePath(parentOf(Locations.SettingsFile)) && makePath(Locations.DataDir);
}

std::string LocationsText(const TFileLocations &Locations)
{
    std::string dirs;
    for (const std::string &dir : Locations.ScriptDirs)
        dirs += (dirs.empty() ? "" : ", ") + dir;
    const std::string library = join(ScriptLibraryDir(Locations), "scripts.dll");
    return std::string("mode: ") + (Locations.Portable() ? "portable" : "per-user") + " (" +
           Locations.Why + ")\n" + "settings: " + Locations.SettingsFile + "\n" +
           "profiles: " + Locations.DataDir + "\n" +
           "untitled profile: " + Locations.UntitledProfile + "\n" + "script library: " + library +
           (isFile(library) ? "" : " (missing)") + "\n" + "script folders: " + dirs + "\n" +
           "manual: " + join(Locations.ManualDir, "Quorlin.hlp") + "\n";
}

} // namespace quorlin
