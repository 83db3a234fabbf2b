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

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "monitor/traffic.h"
#include "ui/commandline.h"
#include "ui/mainunit.h"

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

    // A reader of the trace that goes away (a closed pipe) must not end the
    // emulator: the write fails and the trace stops instead.
    std::signal(SIGPIPE, SIG_IGN);
    std::unique_ptr<quorlin::TCsvTrace> trace;
    if (!line.Trace.empty()) {
        std::FILE *stream = line.Trace == "-" ? stdout : std::fopen(line.Trace.c_str(), "w");
        if (stream == nullptr) {
            std::fprintf(stderr, "%s: cannot write the trace file %s: %s\n", argv[0],
                         line.Trace.c_str(), std::strerror(errno));
            return 1;
        }
        trace = std::make_unique<quorlin::TCsvTrace>(stream, stream != stdout);
        trace->Flush();
    }

    QApplication::setApplicationName(QStringLiteral("Quorlin 1.0"));
    app.setProperty("HelpFile", QStringLiteral("Quorlin.hlp"));

    // Installed before the start-up opens the port: a signal that arrives
    // meanwhile waits in the pipe and closes the window once the loop runs.
    const bool signalsCaught = installSignalPipe();

    app.setProperty(quorlin::TMainForm::StartValuesProperty,
                    QString::fromLocal8Bit(line.Values.c_str()));
    app.setProperty(quorlin::TMainForm::StartMapProperty,
                    QString::fromLocal8Bit(line.Map.c_str()));
    quorlin::TMainForm mainForm(nullptr, QString(), nullptr, line);
    mainForm.SetTrace(trace.get());
    if (!mainForm.StartError().isEmpty()) {
        std::fprintf(stderr, "quorlin: %s\n", qPrintable(mainForm.StartError()));
        return 2;
    }
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
    return app.exec();
}
