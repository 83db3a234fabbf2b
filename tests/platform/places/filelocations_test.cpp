// SPDX-License-Identifier: MIT
// The choice between a portable folder and per-user files as a table of what
// the system says, then the same facts read from a real file system.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdlib>
#include <grp.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/filelocations.h"
#include "platform/portaccess.h"

namespace quorlin
{
namespace
{

using M = TFileLocations::TMode;

struct PlaceRow {
    const char *Name;
    TPlaceFacts Facts;
    M Mode;
    std::string Settings;
    std::string Data;
    std::vector<std::string> Scripts;
    std::string Manual;
};

TPlaceFacts facts(std::string Dir, bool Ini, bool Writable, bool Layout, std::string Config,
                  std::string Data, std::string Home)
{
    return {std::move(Dir), Ini, Writable, Layout, std::move(Config), std::move(Data),
            std::move(Home)};
}

class PlaceChoice : public ::testing::TestWithParam<PlaceRow>
{
};

TEST_P(PlaceChoice, FilesGoWhereTheFactsSay)
{
    const PlaceRow &row = GetParam();
    const TFileLocations l = ChooseFileLocations(row.Facts);
    EXPECT_EQ(l.Mode, row.Mode) << l.Why;
    EXPECT_EQ(l.SettingsFile, row.Settings);
    EXPECT_EQ(l.DataDir, row.Data);
    EXPECT_EQ(l.UntitledProfile, row.Data + "/UNTITLED.QRL");
    EXPECT_EQ(l.ScriptDirs, row.Scripts);
    EXPECT_EQ(l.ManualDir, row.Manual);
    EXPECT_FALSE(l.Why.empty());
}

// clang-format off
const PlaceRow placeRows[] = {
    // The build folder and a copied folder: everything beside the program.
    {"WritableFolder", facts("/b", false, true, false, "/c", "/d", "/h"),
     M::Portable, "/b/quorlin.ini", "/b", {"/b"}, "/b"},
    // quorlin.ini beside the program wins over everything, even a read-only
    // folder that looks installed.
    {"FolderHoldingIni", facts("/usr/bin", true, false, true, "/c", "/d", "/h"),
     M::Portable, "/usr/bin/quorlin.ini", "/usr/bin", {"/usr/bin", "/usr/lib/quorlin"},
     "/usr/share/quorlin"},
    {"Installed", facts("/usr/bin", false, false, true, "", "", "/home/u"),
     M::PerUser, "/home/u/.config/quorlin/quorlin.ini", "/home/u/.local/share/quorlin",
     {"/home/u/.local/share/quorlin", "/usr/lib/quorlin"}, "/usr/share/quorlin"},
    // Root may write /usr/bin, and ~/.local/bin is the user's own: neither
    // installation becomes portable for that.
    {"InstalledButWritable", facts("/home/u/.local/bin", false, true, true, "", "", "/home/u"),
     M::PerUser, "/home/u/.config/quorlin/quorlin.ini", "/home/u/.local/share/quorlin",
     {"/home/u/.local/share/quorlin", "/home/u/.local/lib/quorlin"}, "/home/u/.local/share/quorlin"},
    {"XdgFoldersWin", facts("/usr/bin", false, false, true, "/x/cfg", "/x/dat", "/home/u"),
     M::PerUser, "/x/cfg/quorlin/quorlin.ini", "/x/dat/quorlin",
     {"/x/dat/quorlin", "/usr/lib/quorlin"}, "/usr/share/quorlin"},
    {"XdgWithTrailingSlash", facts("/usr/bin", false, false, true, "/x/cfg/", "/x/dat/", ""),
     M::PerUser, "/x/cfg/quorlin/quorlin.ini", "/x/dat/quorlin",
     {"/x/dat/quorlin", "/usr/lib/quorlin"}, "/usr/share/quorlin"},
    // A relative XDG value counts as unset.
    {"RelativeXdgIgnored", facts("/usr/bin", false, false, true, "cfg", "dat", "/home/u"),
     M::PerUser, "/home/u/.config/quorlin/quorlin.ini", "/home/u/.local/share/quorlin",
     {"/home/u/.local/share/quorlin", "/usr/lib/quorlin"}, "/usr/share/quorlin"},
    // A read-only copy of the build folder: per-user files, its own
    // scripts.dll and manual after the user's.
    {"ReadOnlyCopiedFolder", facts("/opt/quorlin", false, false, false, "", "", "/home/u"),
     M::PerUser, "/home/u/.config/quorlin/quorlin.ini", "/home/u/.local/share/quorlin",
     {"/home/u/.local/share/quorlin", "/opt/quorlin"}, "/opt/quorlin"},
    {"InstalledAtTheRoot", facts("/bin", false, false, true, "/c", "/d", ""),
     M::PerUser, "/c/quorlin/quorlin.ini", "/d/quorlin", {"/d/quorlin", "/lib/quorlin"},
     "/share/quorlin"},
    // No home and no XDG folder: the program folder as before, where a
    // write that fails is reported.
    {"NoHomeAtAll", facts("/usr/bin", false, false, true, "", "", ""),
     M::Portable, "/usr/bin/quorlin.ini", "/usr/bin", {"/usr/bin", "/usr/lib/quorlin"}, "/usr/share/quorlin"},
    {"RelativeHomeIsNoHome", facts("/usr/bin", false, false, true, "", "", "home/u"),
     M::Portable, "/usr/bin/quorlin.ini", "/usr/bin", {"/usr/bin", "/usr/lib/quorlin"}, "/usr/share/quorlin"},
    {"ConfigButNoDataFolder", facts("/usr/bin", false, false, true, "/c", "", ""),
     M::Portable, "/usr/bin/quorlin.ini", "/usr/bin", {"/usr/bin", "/usr/lib/quorlin"}, "/usr/share/quorlin"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Places, PlaceChoice, ::testing::ValuesIn(placeRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// Sets an environment variable for one scope (nullptr: unset), then puts it back.
class EnvVar
{
  public:
    EnvVar(const char *Name, const char *Value) : m_name(Name)
    {
        if (const char *old = std::getenv(Name))
            m_old = old;
        Value ? ::setenv(Name, Value, 1) : ::unsetenv(Name);
    }
    ~EnvVar() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }

  private:
    const char *m_name;
    std::optional<std::string> m_old;
};

bool touch(const QString &Path)
{
    QFile f(Path);
    return f.open(QIODevice::WriteOnly);
}

// An installation tree in a temporary folder: prefix/bin and prefix/lib/quorlin.
TEST(PlaceProbe, ReadsTheFoldersAndTheEnvironment)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    QDir root(tmp.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("usr/bin")));
    const std::string bin = root.filePath(QStringLiteral("usr/bin")).toStdString();
    const EnvVar config("XDG_CONFIG_HOME", "/x/cfg");
    const EnvVar data("XDG_DATA_HOME", nullptr);
    const EnvVar home("HOME", "/home/someone");

    TPlaceFacts f = ProbePlaces(bin);
    EXPECT_EQ(f.ProgramDir, bin);
    EXPECT_FALSE(f.ProgramDirHasSettings);
    EXPECT_FALSE(f.InstalledLayout);
    EXPECT_TRUE(f.ProgramDirWritable);
    EXPECT_EQ(f.XdgConfigHome, "/x/cfg");
    EXPECT_EQ(f.XdgDataHome, "");
    EXPECT_EQ(f.Home, "/home/someone");

    ASSERT_TRUE(root.mkpath(QStringLiteral("usr/lib/quorlin")));
    EXPECT_TRUE(ProbePlaces(bin).InstalledLayout);
    // A file of that name is no installation.
    ASSERT_TRUE(root.mkpath(QStringLiteral("opt/bin")));
    ASSERT_TRUE(root.mkpath(QStringLiteral("opt/lib")));
    ASSERT_TRUE(touch(root.filePath(QStringLiteral("opt/lib/quorlin"))));
    EXPECT_FALSE(
        ProbePlaces(root.filePath(QStringLiteral("opt/bin")).toStdString()).InstalledLayout);

    // A folder named quorlin.ini is no settings file.
    ASSERT_TRUE(root.mkpath(QStringLiteral("usr/bin/quorlin.ini")));
    EXPECT_FALSE(ProbePlaces(bin).ProgramDirHasSettings);
    ASSERT_TRUE(root.rmdir(QStringLiteral("usr/bin/quorlin.ini")));
    ASSERT_TRUE(touch(root.filePath(QStringLiteral("usr/bin/quorlin.ini"))));
    EXPECT_TRUE(ProbePlaces(bin).ProgramDirHasSettings);

    // Root may write anywhere; for anyone else a folder without write
    // permission is read-only.
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(bin.c_str(), 0555), 0);
        EXPECT_FALSE(ProbePlaces(bin).ProgramDirWritable);
        ::chmod(bin.c_str(), 0755);
    }
}

TEST(PlaceProbe, MissingHomeFallsBackToThePasswordDatabase)
{
    const EnvVar home("HOME", nullptr);
    const TPlaceFacts f = ProbePlaces("/usr/bin");
    ASSERT_FALSE(f.Home.empty());
    EXPECT_EQ(f.Home[0], '/');
}

TEST(PlaceProbe, UserScriptLibraryComesBeforeTheInstalledOne)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    QDir root(tmp.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("user")) && root.mkpath(QStringLiteral("lib")));
    TFileLocations l;
    l.ScriptDirs = {root.filePath(QStringLiteral("user")).toStdString(),
                    root.filePath(QStringLiteral("lib")).toStdString()};
    // Neither has one: the installed folder, where the missing file is reported.
    EXPECT_EQ(ScriptLibraryDir(l), l.ScriptDirs[1]);
    ASSERT_TRUE(touch(root.filePath(QStringLiteral("lib/scripts.dll"))));
    EXPECT_EQ(ScriptLibraryDir(l), l.ScriptDirs[1]);
    // A folder of that name in the user's folder is not a library.
    ASSERT_TRUE(root.mkpath(QStringLiteral("user/scripts.dll")));
    EXPECT_EQ(ScriptLibraryDir(l), l.ScriptDirs[1]);
    ASSERT_TRUE(root.rmdir(QStringLiteral("user/scripts.dll")));
    ASSERT_TRUE(touch(root.filePath(QStringLiteral("user/scripts.dll"))));
    EXPECT_EQ(ScriptLibraryDir(l), l.ScriptDirs[0]);
    EXPECT_NE(LocationsText(l).find("script library: " + l.ScriptDirs[0] + "/scripts.dll\n"),
              std::string::npos)
        << LocationsText(l);
}

TEST(PlaceFolders, PerUserFoldersAreMadePrivateAndAPortableCopyMakesNone)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const std::string base = tmp.path().toStdString();
    const TFileLocations l = ChooseFileLocations(
        facts(base + "/usr/bin", false, false, true, base + "/cfg/deep", base + "/data", ""));
    ASSERT_TRUE(MakeUserFolders(l));
    for (const std::string &dir :
         {base + "/cfg/deep/quorlin", base + "/cfg/deep", base + "/data/quorlin"}) {
        struct stat st {
        };
        ASSERT_EQ(::stat(dir.c_str(), &st), 0) << dir;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << dir;
    }
    // Made once, a second call finds them.
    EXPECT_TRUE(MakeUserFolders(l));

    // A file where a folder must go.
    ASSERT_TRUE(touch(QString::fromStdString(base + "/blocked")));
    const TFileLocations blocked = ChooseFileLocations(
        facts(base + "/usr/bin", false, false, true, base + "/blocked", base + "/data", ""));
    EXPECT_FALSE(MakeUserFolders(blocked));

    const TFileLocations portable =
        ChooseFileLocations(facts(base + "/p", false, true, false, base + "/pc", base + "/pd", ""));
    EXPECT_TRUE(MakeUserFolders(portable));
    EXPECT_FALSE(QDir(QString::fromStdString(base + "/pc")).exists());
    EXPECT_FALSE(QDir(QString::fromStdString(base + "/p")).exists());
}

TEST(PortPermission, AdviceNamesTheGroupThatOwnsTheDevice)
{
    for (int code : {EACCES, EPERM})
        EXPECT_TRUE(IsPermissionError(code)) << code;
    for (int code : {0, ENOENT, EBUSY, ENOTTY, EIO})
        EXPECT_FALSE(IsPermissionError(code)) << code;

    const std::pair<std::string, std::string> advice[] = {
        {"dialout", "join the group dialout (sudo adduser $USER dialout), then log out and log in "
                    "again"},
        {"uucp", "join the group uucp (sudo adduser $USER uucp), then log out and log in again"},
        {"root", "join the group dialout (sudo adduser $USER dialout), then log out and log in "
                 "again"},
        {"", "join the group dialout (sudo adduser $USER dialout), then log out and log in again"},
    };
    for (const auto &[group, text] : advice)
        EXPECT_EQ(PermissionAdvice(group), text) << group;

    EXPECT_EQ(DeviceGroup("/dev/quorlin-no-such-device"), "dialout");
    // A node of group root has no group worth joining.
    EXPECT_EQ(DeviceGroup("/dev/null"), "dialout");
    struct stat st {
    };
    ASSERT_EQ(::stat("/dev/ptmx", &st), 0);
    if (st.st_gid != 0) {
        const struct group *g = ::getgrgid(st.st_gid);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(DeviceGroup("/dev/ptmx"), g->gr_name);
    }
}

} // namespace
} // namespace quorlin
