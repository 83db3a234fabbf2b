// SPDX-License-Identifier: MIT
// The "Faults" section through real files: what a load makes of it and hands
// to the engine, and that a profile without faults is saved as before.
#include "profile/faultformat.h"
#include "tests/profile/profilefixture.h"

namespace quorlin::test
{
namespace
{

const std::string Serial = "[SerialSettings]\nMBid=3\nSerialPort=2\nBaudRate=5\nDataBits=4\n"
                           "StopBits=0\nParity=0\nHandshaking=1\n[Scripts]\nCount=0\n";

const std::string AllKeys = "[Faults]\nEnabled=1\nMBid=3\nDelayMs=200\nDelayMaxMs=400\n"
                            "NoReplyEvery=3\nNoReplyPercent=5\nExceptionEvery=7\n"
                            "ExceptionCode=6\nBadCrcEvery=2\nBadCrcPercent=10\nWrongIdEvery=11\n"
                            "SplitReplyMs=30\nSeed=42\n";

TFaultSettings allKeys()
{
    return {1, 3, 200, 400, 3, 5, 7, 6, 2, 10, 11, 30, 42};
}

struct LoadRow {
    const char *Name;
    std::string File;
    TFaultSettings Loaded;
    std::string SavedBack; // the file after a Save of what was loaded
    std::map<int, TFaultSettings> Slaves{}; // the slaves' own sections loaded
};

TFaultSettings aimed(int NoReplyEvery, int ExceptionEvery, std::string Functions,
                     std::string Registers)
{
    TFaultSettings f;
    f.Enabled = 1;
    f.NoReplyEvery = NoReplyEvery;
    f.ExceptionEvery = ExceptionEvery;
    f.Functions = std::move(Functions);
    f.Registers = std::move(Registers);
    return f;
}


class FaultProfiles : public ProfileTest, public ::testing::WithParamInterface<LoadRow>
{
};

TEST_P(FaultProfiles, LoadHandsTheFaultsToTheEngineAndSaveKeepsThem)
{
    load(GetParam().File);
    EXPECT_EQ(m_manager->Faults, GetParam().Loaded);
    ASSERT_FALSE(m_host.AppliedFaults.empty());
    EXPECT_EQ(m_host.AppliedFaults.back(), GetParam().Loaded);
    EXPECT_EQ(m_manager->SlaveFaults, GetParam().Slaves);
    ASSERT_FALSE(m_host.AppliedSlaveFaults.empty());
    EXPECT_EQ(m_host.AppliedSlaveFaults.back(), GetParam().Slaves);

    m_host.LoadSerialDialog(m_manager->SerialValues);
    m_manager->SaveProfile1Click();
    EXPECT_EQ(contents(path("p.QRL")), GetParam().SavedBack);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FaultProfiles,
    ::testing::Values(
        LoadRow{"WithoutTheSectionSavedByteForByte", Serial, {}, Serial},
        LoadRow{"EveryKey", Serial + AllKeys, allKeys(), Serial + AllKeys},
        LoadRow{"DisabledSectionIsKept",
                "[Faults]\nEnabled=0\nNoReplyEvery=2\n" + Serial,
                {0, 0, 0, 0, 2},
                "[Faults]\nEnabled=0\nNoReplyEvery=2\nMBid=0\nDelayMs=0\nDelayMaxMs=0\n"
                "NoReplyPercent=0\nExceptionEvery=0\nExceptionCode=0\nBadCrcEvery=0\n"
                "BadCrcPercent=0\nWrongIdEvery=0\nSplitReplyMs=0\nSeed=0\n" +
                    Serial},
        LoadRow{"OutOfRangeAndNoNumbersAreMended",
                Serial + "[Faults]\nEnabled=2\nMBid=-4\nDelayMs=99999\nNoReplyPercent=101\n"
                         "ExceptionCode=300\nBadCrcEvery=x\nSeed=0x10\n",
                {1, 0, 10000, 0, 0, 100, 0, 0, 0, 0, 0, 0, 16},
                Serial + "[Faults]\nEnabled=1\nMBid=0\nDelayMs=10000\nNoReplyPercent=100\n"
                         "ExceptionCode=0\nBadCrcEvery=0\nSeed=16\nDelayMaxMs=0\n"
                         "NoReplyEvery=0\nExceptionEvery=0\nBadCrcPercent=0\nWrongIdEvery=0\n"
                         "SplitReplyMs=0\n"},
        // The aim's text keys are written only where they say something or
        // stood already; a slave's section is kept whether it is on or off,
        // and kept for a slave the profile does not emulate.
        LoadRow{"AimAndSlaveSections",
                Serial + "[Faults]\nEnabled=1\nNoReplyEvery=2\nFunctions=3\nRegisters=\n"
                         "[Faults2]\nEnabled=1\nExceptionEvery=1\nRegisters=4x0100-4x0199\n"
                         "[Faults9]\nEnabled=0\nFunctions=16\n",
                aimed(2, 0, "3", ""),
                Serial + "[Faults]\nEnabled=1\nNoReplyEvery=2\nFunctions=3\nRegisters=\n"
                         "MBid=0\nDelayMs=0\nDelayMaxMs=0\nNoReplyPercent=0\nExceptionEvery=0\n"
                         "ExceptionCode=0\nBadCrcEvery=0\nBadCrcPercent=0\nWrongIdEvery=0\n"
                         "SplitReplyMs=0\nSeed=0\n"
                         "[Faults2]\nEnabled=1\nExceptionEvery=1\nRegisters=4x0100-4x0199\n"
                         "MBid=0\nDelayMs=0\nDelayMaxMs=0\nNoReplyEvery=0\nNoReplyPercent=0\n"
                         "ExceptionCode=0\nBadCrcEvery=0\nBadCrcPercent=0\nWrongIdEvery=0\n"
                         "SplitReplyMs=0\nSeed=0\n"
                         "[Faults9]\nEnabled=0\nFunctions=16\nMBid=0\nDelayMs=0\nDelayMaxMs=0\n"
                         "NoReplyEvery=0\nNoReplyPercent=0\nExceptionEvery=0\nExceptionCode=0\n"
                         "BadCrcEvery=0\nBadCrcPercent=0\nWrongIdEvery=0\nSplitReplyMs=0\n"
                         "Seed=0\n",
                {{2, aimed(0, 1, "", "4x0100-4x0199")},
                 {9, [] {
                      TFaultSettings f = aimed(0, 0, "16", "");
                      f.Enabled = 0;
                      return f;
                  }()}}}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(ProfileTest, SaveAsOverAFileWithFaultsSwitchesThemOff)
{
    put(path("old.QRL"), Serial + AllKeys);
    m_host.LoadSerialDialog(ReadProfile(TIniDocument::Parse(Serial)).Serial);
    m_dialogs.Files = {path("old.QRL")};
    m_manager->SaveAsProfile1Click(); // faults off: a new profile's
    // The file is replaced whole, so no fault key of the old one is left;
    // a profile without faults has no such section at all.
    const TIniDocument saved = TIniDocument::Parse(contents(path("old.QRL")));
    EXPECT_EQ(ReadFaults(saved).value_or(TFaultSettings{}), TFaultSettings{});
    EXPECT_FALSE(saved.SectionExists("Faults"));
}

} // namespace
} // namespace quorlin::test
