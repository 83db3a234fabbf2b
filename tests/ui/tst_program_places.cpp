// SPDX-License-Identifier: MIT
// The real program in three folders: a portable copy keeps quorlin.ini beside
// itself exactly as before, an installation keeps it in XDG_CONFIG_HOME and
// writes nothing into its own folders, and a quorlin.ini beside an installed
// program makes it portable again.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>

#include "tests/ui/installedprogram.h"

namespace quorlin::testing
{
namespace
{

struct PlacesRow {
    const char *Name;
    const char *BinDir; // below the temporary root
    bool Layout;        // scripts.dll in ../lib/quorlin instead of beside the program
    bool PerUser;       // settings expected in XDG_CONFIG_HOME
    // The settings file where it is expected exists beforehand and maps COM2
    // (to a missing device); beside the program, it makes the folder portable.
    bool Mapped;
};

class ProgramPlaces : public ::testing::TestWithParam<PlacesRow>
{
};

QProcessEnvironment environmentFor(const QDir &Root)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), Root.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), Root.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), Root.filePath(QStringLiteral("data")));
    return env;
}

TEST_P(ProgramPlaces, SettingsAndUntitledProfileGoWhereTheyBelong)
{
    const PlacesRow &row = GetParam();
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    QDir root(tmp.path());
    const QDir build(qEnvironmentVariable("QUORLIN_BUILD_DIR"));
    const QString bin = root.filePath(QLatin1String(row.BinDir));
    const QString lib = row.Layout ? root.filePath(QStringLiteral("usr/lib/quorlin")) : bin;
    ASSERT_TRUE(root.mkpath(bin) && root.mkpath(lib));
    ASSERT_TRUE(QFile::copy(build.filePath(QStringLiteral("quorlin")), bin + "/quorlin"));
    ASSERT_TRUE(QFile::copy(build.filePath(QStringLiteral("scripts.dll")), lib + "/scripts.dll"));
    const QString configDir = root.filePath(QStringLiteral("config/quorlin"));
    const QString dataDir = root.filePath(QStringLiteral("data/quorlin"));
    const QString settings = row.PerUser ? configDir + "/quorlin.ini" : bin + "/quorlin.ini";
    const QByteArray ports = "[Ports]\nCOM2=/dev/quorlin-no-such-port\n";
    if (row.Mapped)
        ASSERT_TRUE(root.mkpath(QFileInfo(settings).path()) && writeAll(settings, ports));
    else if (QFile::exists(QStringLiteral("/dev/ttyS1")))
        GTEST_SKIP() << "COM2 is a real port here: its failure cannot tell the start-up is done";

    QProcess program;
    program.setProcessEnvironment(environmentFor(root));
    program.start(bin + "/quorlin", {});
    ASSERT_TRUE(program.waitForStarted(10000));
    // The start-up has reached the port once the program says it cannot open it.
    QByteArray err;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const QByteArray device = row.Mapped ? "/dev/quorlin-no-such-port" : "/dev/ttyS1";
    while (!err.contains(device) && std::chrono::steady_clock::now() < deadline &&
           program.state() == QProcess::Running) {
        program.waitForReadyRead(200);
        err += program.readAllStandardError();
    }
    // The port named by the settings file it was meant to read.
    ASSERT_TRUE(err.contains(device)) << err.constData();
    ::kill(pid_t(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitCode(), 0);
    err += program.readAllStandardError();
    EXPECT_FALSE(err.contains("no scripts are offered")) << err.constData();

    const QString untitled = (row.PerUser ? dataDir : bin) + "/UNTITLED.QRL";
    // What a portable folder has always had written at a close.
    EXPECT_EQ(readAll(settings),
              (row.Mapped ? ports : QByteArray()) +
                  ("[General]\nStayOnTop=0\nCurrentProfile=" + untitled + "\n").toUtf8());
    if (row.PerUser) {
        EXPECT_FALSE(QFile::exists(bin + "/quorlin.ini"));
        EXPECT_EQ(QDir(bin).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                  QStringList{QStringLiteral("quorlin")});
    } else {
        EXPECT_FALSE(QDir(root.filePath(QStringLiteral("config"))).exists());
        EXPECT_FALSE(QDir(root.filePath(QStringLiteral("data"))).exists());
    }
}

// clang-format off
const PlacesRow placesRows[] = {
    {"PortableFolder", "portable", false, false, false},
    {"Installed", "usr/bin", true, true, true},
    {"InstalledWithIniBeside", "usr/bin", true, false, true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Program, ProgramPlaces, ::testing::ValuesIn(placesRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// --paths of an installed program: the user's own scripts.dll is taken
// before the installed one.
TEST(ProgramPaths, UserScriptLibraryComesFirst)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    QDir root(tmp.path());
    const QDir build(qEnvironmentVariable("QUORLIN_BUILD_DIR"));
    ASSERT_TRUE(root.mkpath(QStringLiteral("usr/bin")) &&
                root.mkpath(QStringLiteral("usr/lib/quorlin")) &&
                root.mkpath(QStringLiteral("data/quorlin")));
    const QString program = root.filePath(QStringLiteral("usr/bin/quorlin"));
    ASSERT_TRUE(QFile::copy(build.filePath(QStringLiteral("quorlin")), program));
    for (const char *dir : {"usr/lib/quorlin", "data/quorlin"})
        ASSERT_TRUE(QFile::copy(build.filePath(QStringLiteral("scripts.dll")),
                                root.filePath(QLatin1String(dir) + "/scripts.dll")));
    QProcess paths;
    paths.setProcessEnvironment(environmentFor(root));
    paths.start(program, {QStringLiteral("--paths")});
    ASSERT_TRUE(paths.waitForFinished(20000));
    const QString out = QString::fromUtf8(paths.readAllStandardOutput());
    EXPECT_TRUE(out.contains("mode: per-user (installed program)\n")) << out.toStdString();
    EXPECT_TRUE(out.contains(
        "script library: " + root.filePath(QStringLiteral("data/quorlin/scripts.dll")) + "\n"))
        << out.toStdString();
    EXPECT_TRUE(out.contains(
        "manual: " + root.filePath(QStringLiteral("usr/share/quorlin/Quorlin.hlp")) + "\n"))
        << out.toStdString();
    // --paths asks nothing of the folders: none is made.
    EXPECT_FALSE(root.exists(QStringLiteral("config")));
}

} // namespace
} // namespace quorlin::testing
