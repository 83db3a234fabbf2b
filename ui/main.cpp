// SPDX-License-Identifier: MIT
// The main sequence: the windows, each created once, then the message loop
// until the main window closes. A terminate, interrupt or hang-up signal
// closes the main window without the unsaved-profile question (nobody is
// there to answer it), so the port is closed, the tick stopped and
// quorlin.ini written.
#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

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

// Takes "--values FILE" (or "--values=FILE") out of the arguments: the
// register values file to import once the profile is loaded. Missing is
// set when the option names no file.
QString takeValuesOption(int &argc, char **argv, bool &Missing)
{
    QString path;
    Missing = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--values") {
            if (i + 1 >= argc) {
                Missing = true;
                continue;
            }
            path = QString::fromLocal8Bit(argv[++i]);
        } else if (arg.rfind("--values=", 0) == 0) {
            path = QString::fromLocal8Bit(arg.substr(9).c_str());
            Missing = path.isEmpty();
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return path;
}

} // namespace

int main(int argc, char **argv)
{
    bool valuesMissing = false;
    const QString valuesFile = takeValuesOption(argc, argv, valuesMissing);
    if (valuesMissing) {
        std::fprintf(stderr, "quorlin: --values needs a file name\n");
        return 2;
    }

    chooseHeadlessWhenNoDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorlin 1.0"));
    app.setProperty("HelpFile", QStringLiteral("Quorlin.hlp"));

    // Installed before the start-up opens the port: a signal that arrives
    // meanwhile waits in the pipe and closes the window once the loop runs.
    const bool signalsCaught = installSignalPipe();

    app.setProperty(quorlin::TMainForm::StartValuesProperty, valuesFile);
    quorlin::TMainForm mainForm;
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
    return app.exec();
}
