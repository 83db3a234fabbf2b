// SPDX-License-Identifier: MIT
// The main sequence: the windows, each created once, then the message loop
// until the main window closes. A terminate, interrupt or hang-up signal
// closes the main window without the unsaved-profile question (nobody is
// there to answer it), so the port is closed, the tick stopped and
// quorlin.ini written.
//
// quorlin [options] [PROFILE]: see UsageText. --help, --version and a wrong
// option are answered before any window exists, so they work anywhere.
#include <QApplication>
#include <QSocketNotifier>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "monitor/traffic.h"
#include "platform/dynlib.h"
#include "platform/filelocations.h"
#include "platform/inifile.h"
#include "platform/streamwriter.h"
#include "profile/profilemanager.h"
#include "ui/commandline.h"
#include "ui/mainunit.h"
#include "ui/programicon.h"

namespace
{

int signalPipe[2] = {-1, -1};

extern "C" void onTerminate(int)
{
    const char byte = 1;
    // Nothing to do about a full pipe: one byte already waiting is enough.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

bool installSignalPipe()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGHUP, &action, nullptr) == 0;
}

// Started where no display exists (a test rig, an SSH session, a service),
// the emulator still serves its master instead of failing to start: it runs
// without a visible window, and says so.
void chooseHeadlessWhenNoDisplay()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
        qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::fprintf(stderr, "quorlin: no display; running without a visible window\n");
}

// 0 when the trace file can be written (an existing file, or a new one in
// its folder), else the errno why not; nothing is created or emptied.
int traceUnwritable(const std::string &Path)
{
    struct stat st {
    };
    if (::stat(Path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return EISDIR;
        return ::access(Path.c_str(), W_OK) == 0 ? 0 : errno;
    }
    if (errno != ENOENT)
        return errno;
    const size_t slash = Path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0                ? "/"
                                                        : Path.substr(0, slash);
    return ::access(dir.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

std::vector<std::string> argsOf(int argc, char **argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

// Options QApplication takes for itself (either with one dash or two).
bool isToolkitOption(std::string Arg)
{
    if (Arg.rfind("--", 0) == 0)
        Arg.erase(0, 1);
    static const char *const options[] = {
        "-platform",        "-platformpluginpath", "-platformtheme", "-plugin",
        "-style",           "-stylesheet",         "-reverse",       "-session",
        "-qwindowgeometry", "-qwindowtitle",       "-qwindowicon",   "-widgetcount",
        "-display",         "-geometry",           "-qmljsdebugger"};
    const std::string name = Arg.substr(0, Arg.find('='));
    for (const char *o : options)
        if (name == o)
            return true;
    return false;
}

// Help, version and usage errors end the program with the code returned
// here; -1 means go on.
int answerWithoutRunning(const quorlin::TCommandLine &Line, const char *Program)
{
    using A = quorlin::TCommandLine::TAction;
    const std::string name = Program ? Program : "quorlin";
    switch (Line.Action) {
    case A::Help:
        std::fputs(quorlin::UsageText(name).c_str(), stdout);
        return 0;
    case A::Version:
        std::fputs(quorlin::VersionText().c_str(), stdout);
        return 0;
    case A::Paths:
        std::fputs(quorlin::LocationsText(quorlin::ChooseFileLocations(
                                              quorlin::ProbePlaces(quorlin::programDirectory())))
                       .c_str(),
                   stdout);
        return 0;
    case A::Error:
        std::fprintf(stderr, "%s: %s\n%s", name.c_str(), Line.Error.c_str(),
                     quorlin::UsageText(name).c_str());
        return 2;
    case A::Run:
        break;
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    quorlin::TCommandLine line = quorlin::ParseCommandLine(argsOf(argc, argv));
    // A wrong option may still be one of the toolkit's own (-platform,
    // -style ...): such a line is judged again once the toolkit has taken them.
    const std::vector<std::string> args = argsOf(argc, argv);
    if (line.Action != quorlin::TCommandLine::TAction::Error ||
        std::none_of(args.begin(), args.end(), isToolkitOption))
        if (const int code = answerWithoutRunning(line, argv[0]); code >= 0)
            return code;

    chooseHeadlessWhenNoDisplay();
    QApplication app(argc, argv);
    line = quorlin::ParseCommandLine(argsOf(argc, argv));
    if (const int code = answerWithoutRunning(line, argv[0]); code >= 0)
        return code;

    // Every argument is checked before anything is changed: a start that
    // fails on them leaves the trace file, the profile and quorlin.ini as
    // they were, and the port closed.
    if (!line.Profile.empty()) {
        const QString refusal = quorlin::TProfileManager::StartProfileRefusal(
            QFile::decodeName(QByteArray::fromStdString(line.Profile)));
        if (!refusal.isEmpty()) {
            std::fprintf(stderr, "quorlin: %s\n", refusal.toLocal8Bit().constData());
            return 2;
        }
    }
    if (const std::string clash = quorlin::CheckFileArguments(line); !clash.empty()) {
        std::fprintf(stderr, "quorlin: %s\n", clash.c_str());
        return 2;
    }
    const bool traceToFile = !line.Trace.empty() && line.Trace != "-";
    // The quorlin.ini this start will use: beside the program, or the user's.
    const std::string settings =
        quorlin::ChooseFileLocations(
            quorlin::ProbePlaces(
                QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString()))
            .SettingsFile;
    // Emptied, it would lose the port mappings.
    if (traceToFile && quorlin::SameFile(line.Trace, settings)) {
        std::fprintf(stderr, "quorlin: the trace file '%s' is the settings file\n",
                     line.Trace.c_str());
        return 2;
    }
    if (traceToFile && line.Profile.empty()) {
        // The last profile used, which the start-up is about to open.
        const std::string last = quorlin::TIniFile(settings).ReadString(
            quorlin::SettingsSection, "CurrentProfile", "");
        if (quorlin::SameFile(line.Trace, last)) {
            std::fprintf(stderr, "quorlin: the trace file '%s' is the profile '%s'\n",
                         line.Trace.c_str(), last.c_str());
            return 2;
        }
    }
    if (traceToFile) {
        if (const int err = traceUnwritable(line.Trace); err != 0) {
            std::fprintf(stderr, "%s: cannot write the trace file %s: %s\n", argv[0],
                         line.Trace.c_str(), std::strerror(err));
            return 1;
        }
    }

    // A reader of the trace that goes away (a closed pipe) must not end the
    // emulator: the write fails and the trace stops instead.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication::setApplicationName(QStringLiteral("Quorlin 1.0"));
    // The id of the desktop entry: Wayland compositors find the window's
    // icon and menu entry through it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quorlin.Quorlin"));
    QApplication::setWindowIcon(quorlin::ProgramIcon());
    app.setProperty("HelpFile", QStringLiteral("Quorlin.hlp"));

    // Installed before the start-up opens the port: a signal that arrives
    // meanwhile waits in the pipe and closes the window once the loop runs.
    const bool signalsCaught = installSignalPipe();

    app.setProperty(quorlin::TMainForm::StartValuesProperty,
                    QString::fromLocal8Bit(line.Values.c_str()));
    quorlin::TMainForm mainForm(nullptr, QString(), nullptr, line);
    if (!mainForm.StartError().isEmpty()) {
        mainForm.Profile().AbandonStart();
        std::fprintf(stderr, "quorlin: %s\n", qPrintable(mainForm.StartError()));
        return 2;
    }
    // The profile may have come from quorlin.ini rather than the command line.
    const std::string profile = QFile::encodeName(mainForm.Profile().ProfilePath).toStdString();
    if (traceToFile && quorlin::SameFile(line.Trace, profile)) {
        mainForm.Profile().AbandonStart();
        std::fprintf(stderr, "quorlin: the trace file '%s' is the profile '%s'\n",
                     line.Trace.c_str(), profile.c_str());
        return 2;
    }

    // Opened last, once nothing else can fail: only now is an old trace
    // file emptied. The rows of the start-up wait in the frame queue until
    // the first tick hands them over.
    std::unique_ptr<quorlin::TStreamWriter> traceWriter;
    std::unique_ptr<quorlin::TCsvTrace> trace;
    if (!line.Trace.empty()) {
        constexpr int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY;
        const int fd = traceToFile ? ::open(line.Trace.c_str(), flags, 0666) : STDOUT_FILENO;
        if (fd < 0) {
            const int err = errno;
            mainForm.Profile().AbandonStart();
            std::fprintf(stderr, "%s: cannot write the trace file %s: %s\n", argv[0],
                         line.Trace.c_str(), std::strerror(err));
            return 1;
        }
        traceWriter = std::make_unique<quorlin::TStreamWriter>(fd, traceToFile);
        trace = std::make_unique<quorlin::TCsvTrace>(*traceWriter);
    }
    mainForm.SetTrace(trace.get());
    mainForm.CreateDialogs();

    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (signalsCaught) {
        signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &mainForm, [&mainForm] {
            char buffer[16];
            while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
            }
            mainForm.CloseWithoutQuestion();
        });
    }

    mainForm.show();
    if (line.Monitor)
        mainForm.TrafficMonitor1Click();
    const int code = app.exec();
    // quorlin.ini is written by now. The trace gets a moment to reach a
    // slow reader and is then left, whatever the reader does.
    mainForm.SetTrace(nullptr);
    trace.reset();
    if (traceWriter) {
        traceWriter->Close(std::chrono::seconds(1));
        if (const uint64_t dropped = traceWriter->Dropped(); dropped > 0)
            quorlin::WriteWithoutBlocking(
                STDERR_FILENO, "quorlin: the trace's reader was too slow; " +
                                   std::to_string(dropped) + " rows were not written\n");
    }
    return code;
}
