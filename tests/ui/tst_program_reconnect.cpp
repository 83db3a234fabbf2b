// SPDX-License-Identifier: MIT
// The installed program on a socat pty pair behind fixed link names, as a
// user tries it with a virtual null-modem cable: the pair killed (the
// program says why and that it cannot open it), then started again under the
// same names (a libmodbus master is answered again); and the same with the
// pair missing when the program starts. How fast and at what cost are the
// benchmarks' figures.
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;

namespace
{

class SocatPair
{
  public:
    SocatPair(QString Slave, QString Master)
        : m_slave(std::move(Slave)), m_master(std::move(Master))
    {
    }
    ~SocatPair() { stop(); }
    bool start()
    {
        m_process.start(QStringLiteral("socat"),
                        {QStringLiteral("pty,raw,echo=0,link=") + m_slave,
                         QStringLiteral("pty,raw,echo=0,link=") + m_master});
        if (!m_process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            if (QFile::exists(m_slave) && QFile::exists(m_master))
                return true;
            QThread::msleep(10);
        }
        return false;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate(); // SIGTERM: socat removes its links and closes the ptys
        m_process.waitForFinished(5000);
    }

  private:
    QString m_slave, m_master;
    QProcess m_process;
};

// A libmodbus master on a device path (the socat end it is given).
class PathMaster
{
  public:
    explicit PathMaster(const QString &Path)
        : m_ctx(modbus_new_rtu(Path.toLocal8Bit().constData(), 9600, 'E', 8, 1))
    {
        modbus_set_slave(m_ctx, 1);
        modbus_set_response_timeout(m_ctx, 0, 200000);
        m_connected = modbus_connect(m_ctx) == 0;
    }
    ~PathMaster()
    {
        modbus_close(m_ctx);
        modbus_free(m_ctx);
    }
    // Polls until answered or Ms have passed; the time it took, or -1.
    qint64 msUntilAnswered(int Ms)
    {
        QElapsedTimer t;
        t.start();
        uint16_t regs[2];
        while (m_connected && t.elapsed() < Ms) {
            if (modbus_read_registers(m_ctx, 0, 2, regs) == 2)
                return t.elapsed();
            modbus_flush(m_ctx);
        }
        return -1;
    }

  private:
    modbus_t *m_ctx;
    bool m_connected = false;
};

class ProgramReconnect : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(inst.writeIni(QStringLiteral("[Ports]\nCOM2=%1\n").arg(slave()).toUtf8()));
        ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    }
    void TearDown() override
    {
        if (program.state() != QProcess::NotRunning) {
            ::kill(pid_t(program.processId()), SIGTERM);
            EXPECT_TRUE(program.waitForFinished(20000));
            EXPECT_EQ(program.exitCode(), 0);
        }
    }
    QString slave() const { return inst.path(QStringLiteral("quorlin-slave")); }
    QString master() const { return inst.path(QStringLiteral("quorlin-master")); }
    // Waits for a line of the program's standard error holding Text.
    bool saidWithin(const QByteArray &Text, int Ms)
    {
        QElapsedTimer t;
        t.start();
        while (!m_stderr.contains(Text) && t.elapsed() < Ms) {
            program.waitForReadyRead(20);
            m_stderr += program.readAllStandardError();
        }
        return m_stderr.contains(Text);
    }

    InstalledProgram inst;
    QProcess program;
    QByteArray m_stderr;
};

TEST_F(ProgramReconnect, PairKilledAndRestartedUnderTheSameNames)
{
    SocatPair pair(slave(), master());
    ASSERT_TRUE(pair.start());
    program.start(inst.program(), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    {
        PathMaster mb(master());
        ASSERT_GE(mb.msUntilAnswered(30000), 0);
    }

    pair.stop();
    const QByteArray label = "COM2 (" + slave().toLocal8Bit() + ")";
    // Generous bounds: what it costs and how fast it notices are figures of
    // the benchmarks (make bench), which a busy machine cannot fail.
    ASSERT_TRUE(saidWithin("quorlin: " + label + ": ", 5000)) << m_stderr.constData();
    EXPECT_TRUE(saidWithin("cannot open " + label + ": No such file or directory", 5000));

    ASSERT_TRUE(pair.start());
    PathMaster mb(master());
    EXPECT_GE(mb.msUntilAnswered(10000), 0) << "answered once the device is back";
    EXPECT_TRUE(saidWithin("quorlin: connected to " + label, 5000));
}

TEST_F(ProgramReconnect, PairMissingAtStartIsTakenWhenItAppears)
{
    program.start(inst.program(), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    const QByteArray reason =
        "quorlin: cannot open COM2 (" + slave().toLocal8Bit() + "): No such file or directory";
    ASSERT_TRUE(saidWithin(reason, 30000)) << m_stderr.constData();

    SocatPair pair(slave(), master());
    ASSERT_TRUE(pair.start());
    PathMaster mb(master());
    EXPECT_GE(mb.msUntilAnswered(10000), 0);
    EXPECT_EQ(m_stderr.count(reason), 1) << "the retries repeat no unchanged reason";
}

} // namespace
