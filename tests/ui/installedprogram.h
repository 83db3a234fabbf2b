// SPDX-License-Identifier: MIT
// The real program installed as a user installs it: quorlin and scripts.dll
// copied into a fresh directory, COM2 mapped to a pty in its quorlin.ini, and
// a libmodbus master on the pty's other end.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <QStringList>
#include <chrono>
#include <csignal>
#include <modbus.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/serial/ptypair.h"

namespace quorlin::testing
{

inline QByteArray readAll(const QString &Path)
{
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString &Path, const QByteArray &Data)
{
    QFile f(Path);
    return f.open(QIODevice::WriteOnly) && f.write(Data) == Data.size();
}

// A profile binding scripts.dll's Ramp to holding register 5 and its Sine to
// input register 1: a ramp 100, 107, 114 ... and a sine around 30000, both
// moving every tick.
constexpr int RampFrom = 100, RampTo = 60000, RampStep = 7;
constexpr int SineAmplitude = 1000, SineOffset = 30000, SinePeriod = 10;

inline QByteArray plantProfile()
{
    return QStringLiteral("[Scripts]\nCount=2\n"
                          "[Script1]\nName=Ramp\nRegType=4\nRegAdr=5\n"
                          "Param1=%1\nParam2=%2\nParam3=%3\n"
                          "[Script2]\nName=Sine\nRegType=3\nRegAdr=1\n"
                          "Param1=%4\nParam2=%5\nParam3=%6\n")
        .arg(RampFrom)
        .arg(RampTo)
        .arg(RampStep)
        .arg(SineAmplitude)
        .arg(SineOffset)
        .arg(SinePeriod)
        .toUtf8();
}

class InstalledProgram
{
  public:
    InstalledProgram()
    {
        const QDir build(qEnvironmentVariable("QUORLIN_BUILD_DIR"));
        for (const char *file : {"quorlin", "scripts.dll"})
            if (!QFile::copy(build.filePath(QLatin1String(file)), path(QLatin1String(file))))
                return;
        m_copied = m_pty.ok();
    }
    // Whether the copy worked and quorlin.ini (when given) could be written.
    bool ok() const { return m_copied && m_iniWritten; }
    bool writeIni(const QByteArray &Contents)
    {
        m_iniWritten = writeAll(iniPath(), Contents);
        return m_iniWritten;
    }
    // quorlin.ini mapping COM2 to the pty, naming Profile as the last one
    // used when it is given.
    bool writePortIni(const QString &Profile = QString())
    {
        QString ini = QStringLiteral("[Ports]\nCOM2=%1\n").arg(ptyPath());
        if (!Profile.isEmpty())
            ini.prepend(QStringLiteral("[General]\nCurrentProfile=%1\n").arg(Profile));
        return writeIni(ini.toUtf8());
    }
    QString path(const QString &File) const { return m_dir.filePath(File); }
    QString program() const { return path(QStringLiteral("quorlin")); }
    QString iniPath() const { return path(QStringLiteral("quorlin.ini")); }
    QString ptyPath() const { return QString::fromStdString(m_pty.path()); }
    const PtyPair &pty() const { return m_pty; }

  private:
    QTemporaryDir m_dir;
    PtyPair m_pty;
    bool m_copied = false;
    bool m_iniWritten = true;
};

class MasterContext
{
  public:
    explicit MasterContext(int Fd) : m_ctx(modbus_new_rtu("/dev/null", 9600, 'E', 8, 1))
    {
        modbus_set_slave(m_ctx, 1);
        modbus_set_socket(m_ctx, Fd);
        modbus_set_response_timeout(m_ctx, 0, 500000);
    }
    ~MasterContext() { modbus_free(m_ctx); } // the descriptor belongs to the pty
    MasterContext(const MasterContext &) = delete;
    MasterContext &operator=(const MasterContext &) = delete;
    modbus_t *get() const { return m_ctx; }

  private:
    modbus_t *m_ctx;
};

// Starts the installed program headless; its output is mixed into the
// test's unless the caller chose another channel mode before.
inline bool startOffscreen(QProcess &Program, const QString &Path,
                           const QStringList &Args = QStringList(), bool Forward = true)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Program.setProcessEnvironment(env);
    if (Forward)
        Program.setProcessChannelMode(QProcess::ForwardedChannels);
    Program.start(Path, Args);
    return Program.waitForStarted(10000);
}

// Ends the program as a service manager would: its exit code, or -1 when it
// did not end within 20 s.
inline int endWithSigterm(QProcess &Program)
{
    ::kill(pid_t(Program.processId()), SIGTERM);
    if (!Program.waitForFinished(20000))
        return -1;
    return Program.exitStatus() == QProcess::NormalExit ? Program.exitCode() : -1;
}

// A port nobody listens on now (the kernel's choice), for the program to take.
inline int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

// Polls holding registers until the program answers: the first answer tells
// that it has opened its port. False when it never does or has ended.
inline bool waitForFirstAnswer(const QProcess &Program, modbus_t *Ctx)
{
    uint16_t regs[2] = {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && Program.state() == QProcess::Running) {
        if (modbus_read_registers(Ctx, 0, 2, regs) == 2)
            return true;
        modbus_flush(Ctx);
    }
    return false;
}

} // namespace quorlin::testing
