// SPDX-License-Identifier: MIT
// The real program emulating a device from a profile and its map: registers
// at 30001 and 40001, strict addressing, read-only registers, functions 22
// and 23. libmodbus plays the master.
#include <QProcess>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

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

} // namespace
