// SPDX-License-Identifier: MIT
// The real program emulating a device from a profile and its map: registers
// at 30001 and 40001, strict addressing, read-only registers, functions 22
// and 23. libmodbus and mbpoll play the master.
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <map>

#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;

namespace
{

TEST(ProgramDevice, AnswersAsItsMapSays)
{
    InstalledProgram inst;
    const QString profile = inst.path(QStringLiteral("meter.QRL"));
    ASSERT_TRUE(writeAll(inst.path(QStringLiteral("meter.csv")),
                         "slave,register,name,type,order,scale,offset,unit,access,value\n"
                         "1,3x30001,Voltage,f32,CDAB,1,0,V,ro,230.5\n"
                         "1,4x40001,Set point,u16,,0.1,0,%,rw,500\n"
                         "1,4x40002,Mode,u16,,1,0,,rw,3\n"
                         "1,4x40003,Status,hex,,1,0,,ro,0x00FF\n"));
    ASSERT_TRUE(writeAll(profile, "[SerialSettings]\nMBid=1\n[Slave1]\nMap=meter.csv\n"
                                  "MappedOnly=1\nFunctions22And23=1\n"));
    ASSERT_TRUE(inst.writePortIni(profile));
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";

    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program()));
    MasterContext master(inst.pty().master());
    modbus_t *ctx = master.get();
    // The map reaches past 256 registers: the tables grew to 65536.
    uint16_t regs[4] = {};
    // Registers 1 and 2 are not in the map: wait for the map's first answer.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int got = -1;
    while (got != 2 && std::chrono::steady_clock::now() < deadline &&
           program.state() == QProcess::Running) {
        got = modbus_read_input_registers(ctx, 30000, 2, regs);
        if (got != 2)
            modbus_flush(ctx);
    }
    ASSERT_EQ(got, 2) << modbus_strerror(errno);
    EXPECT_EQ(regs[0], 0x8000); // 230.5f = 0x43668000, words swapped
    EXPECT_EQ(regs[1], 0x4366);
    ASSERT_EQ(modbus_read_registers(ctx, 40000, 3, regs), 3) << modbus_strerror(errno);
    EXPECT_EQ(regs[0], 500);
    EXPECT_EQ(regs[1], 3);
    EXPECT_EQ(regs[2], 0x00FF);

    // Strict addressing: one register past the map, and a read-only write.
    EXPECT_EQ(modbus_read_registers(ctx, 40000, 4, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_register(ctx, 40002, 1), -1);
    EXPECT_EQ(errno, EMBXILADD);

    // 22: (3 AND 0xFFF0) OR (0x000C AND NOT 0xFFF0) = 0x000C.
    ASSERT_EQ(modbus_mask_write_register(ctx, 40001, 0xFFF0, 0x000C), 1)
        << modbus_strerror(errno);
    // 23: write 40001 = 42, then read 40001..40003.
    const uint16_t write[1] = {42};
    ASSERT_EQ(modbus_write_and_read_registers(ctx, 40000, 1, write, 40000, 3, regs), 3)
        << modbus_strerror(errno);
    EXPECT_EQ(regs[0], 42);
    EXPECT_EQ(regs[1], 0x000C);
    EXPECT_EQ(regs[2], 0x00FF);
    // 23 refuses the read-only register before writing anything.
    EXPECT_EQ(modbus_write_and_read_registers(ctx, 40002, 1, write, 40000, 1, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);

    EXPECT_EQ(endWithSigterm(program), 0);
}

// mbpoll, a master no one here wrote, reads a slave that serves the whole
// address space at the addresses real maps use and at its last register;
// the values come from a --values file, so they reach the slave past 256.
TEST(ProgramDevice, MbpollReadsTheWholeAddressSpace)
{
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    if (mbpoll.isEmpty())
        GTEST_SKIP() << "mbpoll is not installed (Debian package mbpoll)";
    InstalledProgram inst;
    PtyBridge bridge; // mbpoll wants a device path of its own
    ASSERT_TRUE(bridge.ok());
    const QString profile = inst.path(QStringLiteral("whole.QRL"));
    ASSERT_TRUE(writeAll(profile, "[SerialSettings]\nMBid=1\n[Slave1]\nRegisters=65536\n"));
    const QString values = inst.path(QStringLiteral("whole.csv"));
    ASSERT_TRUE(writeAll(values, "slave,register,value\n"
                                 "1,4x40001,0x1234\n1,4x40002,0xABCD\n"
                                 "1,3x30001,0x0102\n1,3x30002,65535\n"
                                 "1,4x65535,0x8001\n1,4x65536,0x7FFE\n"
                                 "1,3x65536,0xC0DE\n1,0x65536,1\n1,1x65536,1\n"));
    ASSERT_TRUE(inst.writeIni(QStringLiteral("[General]\nCurrentProfile=%1\n[Ports]\nCOM2=%2\n")
                                  .arg(profile, QString::fromStdString(bridge.pathA()))
                                  .toUtf8()));
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";
    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program(), {QStringLiteral("--values"), values}));

    // The values land at the first tick: the first read is retried until then.
    auto poll = [&](const QString &Type, int Reference, int Count) {
        QProcess p;
        p.start(mbpoll, {QStringLiteral("-m"), QStringLiteral("rtu"), QStringLiteral("-a"),
                         QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("9600"),
                         QStringLiteral("-P"), QStringLiteral("even"), QStringLiteral("-t"), Type,
                         QStringLiteral("-r"), QString::number(Reference), QStringLiteral("-c"),
                         QString::number(Count), QStringLiteral("-1"), QStringLiteral("-o"),
                         QStringLiteral("2"), QString::fromStdString(bridge.pathB())});
        std::map<int, QString> got;
        if (!p.waitForFinished(20000) || p.exitCode() != 0)
            return got;
        static const QRegularExpression line(QStringLiteral(R"(\[(\d+)\]:\s+(\S+))"));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        for (auto it = line.globalMatch(out); it.hasNext();) {
            const auto m = it.next();
            got[m.captured(1).toInt()] = m.captured(2);
        }
        return got;
    };
    using Seen = std::map<int, QString>;
    const Seen first = {{40001, QStringLiteral("0x1234")}, {40002, QStringLiteral("0xABCD")}};
    Seen got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (got != first && std::chrono::steady_clock::now() < deadline &&
           program.state() == QProcess::Running)
        got = poll(QStringLiteral("4:hex"), 40001, 2);
    EXPECT_EQ(got, first);

    struct Row {
        const char *Type;
        int Reference, Count;
        Seen Want;
    };
    const Row rows[] = {
        {"3:hex", 30001, 2, {{30001, QStringLiteral("0x0102")}, {30002, QStringLiteral("0xFFFF")}}},
        {"4:hex", 65535, 2, {{65535, QStringLiteral("0x8001")}, {65536, QStringLiteral("0x7FFE")}}},
        {"3:hex", 65536, 1, {{65536, QStringLiteral("0xC0DE")}}},
        {"0", 65535, 2, {{65535, QStringLiteral("0")}, {65536, QStringLiteral("1")}}},
        {"1", 65536, 1, {{65536, QStringLiteral("1")}}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(poll(QString::fromLatin1(row.Type), row.Reference, row.Count), row.Want)
            << row.Type << " at " << row.Reference;

    EXPECT_EQ(endWithSigterm(program), 0);
}

} // namespace
