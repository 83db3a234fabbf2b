// SPDX-License-Identifier: MIT
// The real program emulating a bus: a profile of slaves 1, 2 and 17 with
// scripts.dll's Ramp bound on slave 2 and its Sine on slave 17, broadcast
// writes accepted. A libmodbus master polls the whole bus.
#include <QProcess>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <set>
#include <unistd.h>

#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;

namespace
{

QByteArray busProfile()
{
    return QStringLiteral("[SerialSettings]\nMBid=1\nMoreIds=17,2\nBroadcast=1\n"
                          "[Scripts]\nCount=2\n"
                          "[Script1]\nName=Ramp\nRegType=4\nRegAdr=5\n"
                          "Param1=%1\nParam2=%2\nParam3=%3\nMBid=2\n"
                          "[Script2]\nName=Sine\nRegType=3\nRegAdr=1\n"
                          "Param1=%4\nParam2=%5\nParam3=%6\nMBid=17\n")
        .arg(RampFrom)
        .arg(RampTo)
        .arg(RampStep)
        .arg(SineAmplitude)
        .arg(SineOffset)
        .arg(SinePeriod)
        .toUtf8();
}

// Reads one register of slave Id; -1 when it does not answer.
int readHolding(modbus_t *Ctx, int Id, int Address)
{
    uint16_t v = 0;
    modbus_set_slave(Ctx, Id);
    if (modbus_read_registers(Ctx, Address, 1, &v) != 1) {
        modbus_flush(Ctx);
        return -1;
    }
    return v;
}

int readInput(modbus_t *Ctx, int Id, int Address)
{
    uint16_t v = 0;
    modbus_set_slave(Ctx, Id);
    if (modbus_read_input_registers(Ctx, Address, 1, &v) != 1) {
        modbus_flush(Ctx);
        return -1;
    }
    return v;
}

TEST(ProgramBus, ThreeSlavesAnswerFromTheirOwnImagesWithTheirOwnScripts)
{
    InstalledProgram inst;
    const QString profile = inst.path(QStringLiteral("bus.QRL"));
    ASSERT_TRUE(writeAll(profile, busProfile()));
    ASSERT_TRUE(inst.writePortIni(profile));
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";

    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program()));
    MasterContext master(inst.pty().master());
    modbus_t *ctx = master.get();
    ASSERT_TRUE(waitForFirstAnswer(program, ctx));

    // Each script drives its own slave's register and no other slave's.
    std::set<int> ramp, sine;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((ramp.size() < 3 || sine.size() < 3) && std::chrono::steady_clock::now() < deadline) {
        const int r = readHolding(ctx, 2, 4);
        const int s = readInput(ctx, 17, 0);
        // 0 until the first tick has run the scripts.
        if (r > 0)
            ramp.insert(r);
        if (s > 0)
            sine.insert(s);
    }
    EXPECT_GE(ramp.size(), 3u);
    EXPECT_GE(sine.size(), 3u);
    for (int r : ramp)
        EXPECT_TRUE(r >= RampFrom && (r - RampFrom) % RampStep == 0) << r;
    for (int s : sine)
        EXPECT_TRUE(s >= SineOffset - SineAmplitude && s <= SineOffset + SineAmplitude) << s;
    EXPECT_EQ(readHolding(ctx, 1, 4), 0);
    EXPECT_EQ(readHolding(ctx, 17, 4), 0);
    EXPECT_EQ(readInput(ctx, 1, 0), 0);
    EXPECT_EQ(readInput(ctx, 2, 0), 0);

    // A write to one slave shows in no other.
    modbus_set_slave(ctx, 17);
    ASSERT_EQ(modbus_write_register(ctx, 9, 4321), 1);
    EXPECT_EQ(readHolding(ctx, 17, 9), 4321);
    EXPECT_EQ(readHolding(ctx, 1, 9), 0);
    EXPECT_EQ(readHolding(ctx, 2, 9), 0);

    // An id that is not emulated stays silent.
    EXPECT_EQ(readHolding(ctx, 3, 0), -1);
    EXPECT_EQ(errno, ETIMEDOUT);

    // A broadcast write (id 0, function 16, registers 21 and 22) is carried
    // out by all three and answered by none.
    uint8_t broadcast[] = {0, 16, 0, 20, 0, 2, 4, 0xA5, 0xA5, 0, 77};
    ASSERT_GT(modbus_send_raw_request(ctx, broadcast, sizeof broadcast), 0);
    pollfd reply{inst.pty().master(), POLLIN, 0};
    EXPECT_EQ(::poll(&reply, 1, 300), 0); // nothing comes back
    for (int id : {1, 2, 17}) {
        EXPECT_EQ(readHolding(ctx, id, 20), 0xA5A5) << id;
        EXPECT_EQ(readHolding(ctx, id, 21), 77) << id;
    }

    EXPECT_EQ(endWithSigterm(program), 0);
    // Nothing was changed, so the profile is as it was written.
    EXPECT_EQ(readAll(profile), busProfile());
}

} // namespace
