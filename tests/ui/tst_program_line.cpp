// SPDX-License-Identifier: MIT
// The real program whose window is kept busy: 25 bindings of a script that
// spins 20 ms each make every tick half a second of work. A master is still
// answered at once, reads what the scripts wrote, and a partial request is
// still dropped after its 100 ms, because none of that waits for the window.
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <unistd.h>

#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;
using namespace std::chrono;

namespace
{

constexpr int Bindings = 25;
constexpr int SpinUs = 20000; // per binding: 500 ms of every tick
constexpr int FirstBound = 101;

QByteArray spinProfile()
{
    QByteArray p = "[Scripts]\nCount=" + QByteArray::number(Bindings) + "\n";
    for (int i = 1; i <= Bindings; ++i)
        p += "[Script" + QByteArray::number(i) +
             "]\nName=Spin\nRegType=4\nRegAdr=" + QByteArray::number(FirstBound + i - 1) +
             "\nParam1=" + QByteArray::number(SpinUs) + "\nParam2=0\nParam3=0\n";
    return p;
}

class BusyProgram : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_inst.ok()) << "quorlin must be built first";
        const QString spin = QStringLiteral(QUORLIN_TEST_LIBS "/spin/scripts.dll");
        ASSERT_TRUE(QFile::remove(m_inst.path(QStringLiteral("scripts.dll"))));
        ASSERT_TRUE(QFile::copy(spin, m_inst.path(QStringLiteral("scripts.dll"))))
            << "no " << spin.toStdString();
        const QString profile = m_inst.path(QStringLiteral("busy.QRL"));
        ASSERT_TRUE(writeAll(profile, spinProfile()));
        ASSERT_TRUE(m_inst.writePortIni(profile));
        ASSERT_TRUE(startOffscreen(m_program, m_inst.program()));
        m_master = std::make_unique<MasterContext>(m_inst.pty().master());
        ASSERT_TRUE(waitForFirstAnswer(m_program, m_master->get()));
    }
    void TearDown() override
    {
        m_master.reset();
        endWithSigterm(m_program);
    }

    InstalledProgram m_inst;
    QProcess m_program;
    std::unique_ptr<MasterContext> m_master;
};

TEST_F(BusyProgram, AnswersAtOnceWhileEveryTickSpendsHalfASecondInScripts)
{
    modbus_t *ctx = m_master->get();
    // The scripts do run: their registers count up, tick by tick.
    uint16_t first = 0, later = 0;
    ASSERT_EQ(modbus_read_registers(ctx, FirstBound - 1, 1, &first), 1);
    std::this_thread::sleep_for(milliseconds(1200));
    ASSERT_EQ(modbus_read_registers(ctx, FirstBound - 1, 1, &later), 1);
    EXPECT_GT(later, first) << "the Spin bindings never ran";

    // A window-bound engine would keep each of these waiting for the rest of
    // a tick, up to 500 ms; the port's own thread answers in well under one.
    ASSERT_EQ(modbus_write_register(ctx, 9, 0x1234), 1);
    milliseconds slowest{0};
    for (int i = 0; i < 30; ++i) {
        uint16_t regs[10] = {};
        const auto start = steady_clock::now();
        ASSERT_EQ(modbus_read_registers(ctx, 0, 10, regs), 10) << "request " << i;
        slowest = std::max(slowest, duration_cast<milliseconds>(steady_clock::now() - start));
        EXPECT_EQ(regs[9], 0x1234);
        std::this_thread::sleep_for(milliseconds(17)); // across the ticks
    }
    EXPECT_LT(slowest.count(), 250);
}

TEST_F(BusyProgram, APartialRequestIsDroppedAfterOneHundredMillisecondsNotAtTheTick)
{
    // Three bytes of a request, then silence for 150 ms: the time-out drops
    // them. Kept until a late tick, they would garble the next request.
    const uint8_t part[] = {0x01, 0x03, 0x00};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(::write(m_inst.pty().master(), part, sizeof part), ssize_t(sizeof part));
        std::this_thread::sleep_for(milliseconds(150));
        uint16_t regs[2] = {};
        EXPECT_EQ(modbus_read_registers(m_master->get(), 0, 2, regs), 2) << "round " << i;
    }
}

} // namespace
