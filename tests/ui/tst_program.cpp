// SPDX-License-Identifier: MIT
// The real program, installed as a user installs it (quorlin and scripts.dll
// in one directory with a quorlin.ini mapping COM2 to a pty), answering a
// libmodbus master on all four register families and ending cleanly on
// SIGTERM.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <modbus.h>
#include <sys/file.h>
#include <unistd.h>

#include "tests/serial/ptypair.h"

using quorlin::testing::PtyPair;

namespace
{

class Installation
{
  public:
    Installation()
    {
        const QDir build(qEnvironmentVariable("QUORLIN_BUILD_DIR"));
        for (const char *file : {"quorlin", "scripts.dll"})
            if (!QFile::copy(build.filePath(QLatin1String(file)),
                             m_dir.filePath(QLatin1String(file))))
                return;
        QFile ini(m_dir.filePath(QStringLiteral("quorlin.ini")));
        if (!m_pty.ok() || !ini.open(QIODevice::WriteOnly))
            return;
        ini.write(QStringLiteral("[Ports]\nCOM2=%1\n")
                      .arg(QString::fromStdString(m_pty.path()))
                      .toUtf8());
        m_ok = true;
    }
    bool ok() const { return m_ok; }
    QString program() const { return m_dir.filePath(QStringLiteral("quorlin")); }
    const PtyPair &pty() const { return m_pty; }

  private:
    QTemporaryDir m_dir;
    PtyPair m_pty;
    bool m_ok = false;
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
    modbus_t *get() const { return m_ctx; }

  private:
    modbus_t *m_ctx;
};

TEST(Program, AnswersAMasterOnAllFourFamiliesAndEndsCleanlyOnSigterm)
{
    Installation inst;
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(inst.program(), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    MasterContext master(inst.pty().master());
    modbus_t *ctx = master.get();

    // The first answer tells that the program has opened its port.
    uint16_t regs[16] = {};
    bool answered = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!answered && std::chrono::steady_clock::now() < deadline &&
           program.state() == QProcess::Running) {
        answered = modbus_read_registers(ctx, 0, 4, regs) == 4;
        if (!answered)
            modbus_flush(ctx);
    }
    ASSERT_TRUE(answered);

    // Coils: write 10 and one at the top of the table, read them back.
    const uint8_t coils[10] = {1, 0, 1, 1, 0, 0, 0, 1, 0, 1};
    EXPECT_EQ(modbus_write_bits(ctx, 0, 10, coils), 10);
    EXPECT_EQ(modbus_write_bit(ctx, 2047, 1), 1);
    uint8_t bits[10] = {};
    ASSERT_EQ(modbus_read_bits(ctx, 0, 10, bits), 10);
    EXPECT_EQ(std::vector<uint8_t>(bits, bits + 10), std::vector<uint8_t>(coils, coils + 10));
    ASSERT_EQ(modbus_read_bits(ctx, 2047, 1, bits), 1);
    EXPECT_EQ(bits[0], 1);

    // Discrete inputs start at 0.
    uint8_t inputs[32];
    std::fill(std::begin(inputs), std::end(inputs), 9);
    ASSERT_EQ(modbus_read_input_bits(ctx, 0, 32, inputs), 32);
    EXPECT_EQ(std::count(std::begin(inputs), std::end(inputs), 0), 32);

    // Holding registers: write several and one, read them back.
    const uint16_t values[5] = {1, 255, 4660, 65535, 0};
    EXPECT_EQ(modbus_write_registers(ctx, 0, 5, values), 5);
    EXPECT_EQ(modbus_write_register(ctx, 255, 40000), 1);
    ASSERT_EQ(modbus_read_registers(ctx, 0, 5, regs), 5);
    EXPECT_EQ(std::vector<uint16_t>(regs, regs + 5), std::vector<uint16_t>(values, values + 5));
    ASSERT_EQ(modbus_read_registers(ctx, 255, 1, regs), 1);
    EXPECT_EQ(regs[0], 40000);

    // Input registers start at 0.
    std::fill(std::begin(regs), std::end(regs), 7);
    ASSERT_EQ(modbus_read_input_registers(ctx, 0, 16, regs), 16);
    EXPECT_EQ(std::count(std::begin(regs), std::end(regs), 0), 16);

    // Beyond the table: exception 2.
    EXPECT_EQ(modbus_read_registers(ctx, 256, 1, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);

    ASSERT_EQ(::kill(pid_t(program.processId()), SIGTERM), 0);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    // The port is free for the next program.
    const int fd = ::open(inst.pty().path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

TEST(Program, WithoutAnyDisplayRunsWindowlessAndStillAnswers)
{
    Installation inst;
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(name));
    program.setProcessEnvironment(env);
    program.start(inst.program(), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    MasterContext master(inst.pty().master());
    uint16_t regs[2] = {};
    bool answered = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!answered && std::chrono::steady_clock::now() < deadline &&
           program.state() == QProcess::Running) {
        answered = modbus_read_registers(master.get(), 0, 2, regs) == 2;
        if (!answered)
            modbus_flush(master.get());
    }
    EXPECT_TRUE(answered);

    ::kill(pid_t(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(program.readAllStandardError().contains("no display"));
}

} // namespace
