// SPDX-License-Identifier: MIT
// The real program started from a copied installation whose quorlin.ini names
// a profile binding our scripts.dll's Ramp to holding register 5 and its Sine
// to input register 1: a libmodbus master watches both move, and a SIGTERM,
// SIGINT or SIGHUP ends the program with quorlin.ini still naming that profile, its own
// settings rewritten and everything else in it kept.
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <elf.h>
#include <set>
#include <unistd.h>

#include "scripts/verinfo.h"
#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;

namespace
{

// A copied installation whose quorlin.ini names plant.QRL with both bindings.
class Installation : public InstalledProgram
{
  public:
    Installation()
    {
        // "StayOnTop=7" reads as set and is written back as "1".
        m_ini = QStringLiteral("; kept as it is\n[General]\nStayOnTop=7\nCurrentProfile=%1\n"
                               "[Ports]\nCOM2=%2\n")
                    .arg(profilePath(), ptyPath())
                    .toUtf8();
        m_profileWritten = writeAll(profilePath(), plantProfile()) && writeIni(m_ini);
    }
    bool ok() const { return InstalledProgram::ok() && m_profileWritten; }
    QString profilePath() const { return path(QStringLiteral("plant.QRL")); }

  private:
    QByteArray m_ini;
    bool m_profileWritten = false;
};

struct SignalRow {
    const char *name;
    int signal;
};

class ProgramWithProfile : public ::testing::TestWithParam<SignalRow>
{
};

TEST_P(ProgramWithProfile, ScriptsMoveTheirRegistersAndTheSignalRecordsTheProfile)
{
    Installation inst;
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";

    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program()));

    MasterContext master(inst.pty().master());
    modbus_t *ctx = master.get();

    // Poll until both registers have shown several values; the deadline is
    // generous for a loaded machine, the loop ends as soon as they have.
    std::vector<int> ramp;
    std::set<int> sine;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((std::set<int>(ramp.begin(), ramp.end()).size() < 4 || sine.size() < 4) &&
           std::chrono::steady_clock::now() < deadline && program.state() == QProcess::Running) {
        uint16_t holding[5] = {};
        uint16_t input = 0;
        if (modbus_read_registers(ctx, 0, 5, holding) != 5 ||
            modbus_read_input_registers(ctx, 0, 1, &input) != 1) {
            modbus_flush(ctx);
            continue;
        }
        // Before the first tick the registers are still 0.
        if (holding[4] != 0)
            ramp.push_back(holding[4]);
        if (input != 0)
            sine.insert(input);
        ::usleep(20000); // pacing only: the loop ends on what it reads
    }
    ASSERT_GE(std::set<int>(ramp.begin(), ramp.end()).size(), 4u) << "holding register 5";
    ASSERT_GE(sine.size(), 4u) << "input register 1";
    // Every value is one the bound script can give, read in the order it gave them.
    for (size_t i = 0; i < ramp.size(); ++i) {
        EXPECT_GE(ramp[i], RampFrom);
        EXPECT_EQ((ramp[i] - RampFrom) % RampStep, 0) << ramp[i];
        if (i > 0) {
            EXPECT_GE(ramp[i], ramp[i - 1]);
        }
    }
    for (int v : sine) {
        EXPECT_GE(v, SineOffset - SineAmplitude);
        EXPECT_LE(v, SineOffset + SineAmplitude);
    }

    ASSERT_EQ(::kill(pid_t(program.processId()), GetParam().signal), 0);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    // Updated in place: the two settings in their order, the comment and the
    // port mapping kept.
    const QByteArray expected = QStringLiteral("; kept as it is\n[General]\nStayOnTop=1\n"
                                               "CurrentProfile=%1\n[Ports]\nCOM2=%2\n")
                                    .arg(inst.profilePath(), inst.ptyPath())
                                    .toUtf8();
    EXPECT_EQ(readAll(inst.iniPath()).toStdString(), expected.toStdString());
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramWithProfile,
                         ::testing::Values(SignalRow{"Sigterm", SIGTERM},
                                           SignalRow{"Sigint", SIGINT},
                                           SignalRow{"Sighup", SIGHUP}),
                         [](const auto &Info) { return std::string(Info.param.name); });

} // namespace

namespace
{

// The bytes of the named section of a 64-bit ELF file; empty when absent.
QByteArray elfSection(const QByteArray &File, const char *Name)
{
    Elf64_Ehdr eh;
    if (size_t(File.size()) < sizeof eh)
        return {};
    std::memcpy(&eh, File.constData(), sizeof eh);
    auto header = [&](unsigned i, Elf64_Shdr &sh) {
        const size_t at = size_t(eh.e_shoff) + size_t(i) * sizeof sh;
        if (at + sizeof sh > size_t(File.size()))
            return false;
        std::memcpy(&sh, File.constData() + at, sizeof sh);
        return sh.sh_offset + sh.sh_size <= size_t(File.size());
    };
    Elf64_Shdr names;
    if (!header(eh.e_shstrndx, names))
        return {};
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh;
        if (header(i, sh) && sh.sh_name < names.sh_size &&
            qstrcmp(File.constData() + names.sh_offset + sh.sh_name, Name) == 0)
            return File.mid(qsizetype(sh.sh_offset), qsizetype(sh.sh_size));
    }
    return {};
}

// The about box reads the program's version from the installed file itself;
// a second record linked in would be ignored silently.
TEST(InstalledProgram, CarriesExactlyOneVersionRecord)
{
    Installation inst;
    ASSERT_TRUE(inst.ok());
    const QByteArray section = elfSection(readAll(inst.program()), ".fileversion");
    EXPECT_TRUE(section.startsWith("QFILEVER"));
    EXPECT_EQ(section.count("QFILEVER"), 1);

    const quorlin::TVersionInfo info(inst.program().toStdString());
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.GetFileVersion(), "1.0.0.0");
    EXPECT_EQ(info.GetStringValue("ProductName"), "Quorlin");
}

} // namespace
