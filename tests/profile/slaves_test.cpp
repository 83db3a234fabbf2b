// SPDX-License-Identifier: MIT
// Profiles of several slaves: the id list, the broadcast switch and the
// bindings' slave ids, read and written so that a one-slave profile keeps its
// bytes and a profile that shrinks back to one slave keeps no stale key.
#include <gtest/gtest.h>

#include "profile/profileformat.h"

namespace quorlin::test
{
namespace
{

struct IdsRow {
    const char *name;
    const char *text;
    int except;
    std::vector<int> ids;
};

class SlaveIdList : public ::testing::TestWithParam<IdsRow>
{
};

TEST_P(SlaveIdList, ParsesWhatNamesAnIdAndSkipsTheRest)
{
    EXPECT_EQ(ParseSlaveIds(GetParam().text, GetParam().except), GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(
    Profile, SlaveIdList,
    ::testing::Values(IdsRow{"Empty", "", 1, {}}, IdsRow{"Two", "2,17", 1, {2, 17}},
                      IdsRow{"BlanksAndOrder", " 17 ,\t2,3 ", 1, {2, 3, 17}},
                      IdsRow{"RepeatsOnce", "5,5,5", 1, {5}},
                      IdsRow{"FirstSlaveLeftOut", "1,2", 1, {2}},
                      IdsRow{"Bounds", "0,1,255,256,-3,0255", 9, {1, 255}},
                      IdsRow{"NoNumbers", "x,2a,0x10,+4,,", 1, {}},
                      IdsRow{"LongDigitRuns", "99999999999999999999,7", 1, {7}},
                      IdsRow{"Semicolons", "2;3", 1, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TScriptBinding bindingOn(std::optional<int> Slave, int RegAdr)
{
    TScriptBinding b = MakeBinding({}, "Ramp", 4, RegAdr, 1, 2, 3);
    b.SlaveId = Slave;
    return b;
}

const std::string SerialLines = "[SerialSettings]\nMBid=1\nSerialPort=2\nBaudRate=5\n"
                                "DataBits=4\nStopBits=0\nParity=0\nHandshaking=1\n";

std::string scriptSection(int N, int RegAdr, const char *Extra = "")
{
    return "[Script" + std::to_string(N) +
           "]\nName=Ramp\nRegType=4\nRegAdr=" + std::to_string(RegAdr) +
           "\nParam1=1\nParam2=2\nParam3=3\n" + Extra;
}

struct SaveRow {
    const char *name;
    std::string before; // the file a save updates ("" for a new one)
    TProfileSlaves slaves;
    TBindingList bindings;
    std::string after;
};

class SlavesSave : public ::testing::TestWithParam<SaveRow>
{
};

TEST_P(SlavesSave, WritesOnlyTheKeysThatSayMoreThanTheirAbsence)
{
    const SaveRow &row = GetParam();
    TIniDocument doc = TIniDocument::Parse(row.before);
    for (const TIniEntry &e : ProfileEntries(TSerialValues{}, row.bindings, row.slaves, doc))
        ASSERT_TRUE(doc.Update(e.Section, e.Key, e.Value));
    EXPECT_EQ(doc.Text(), row.after);

    // What was written loads back as the same line of slaves.
    const TProfileContent back = ReadProfile(doc);
    EXPECT_EQ(back.Slaves, row.slaves);
    ASSERT_EQ(back.Bindings.size(), row.bindings.size());
    for (std::size_t i = 0; i < back.Bindings.size(); ++i)
        EXPECT_EQ(back.Bindings[i].MBid.value_or(1), row.bindings[i].SlaveId.value_or(1)) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Profile, SlavesSave,
    ::testing::Values(
        // One slave, its bindings naming no slave or the first one by id:
        // exactly the keys of a profile of a single slave.
        SaveRow{"OneSlaveNewFile",
                "",
                {},
                {bindingOn({}, 1), bindingOn(1, 2)},
                SerialLines + "[Scripts]\nCount=2\n" + scriptSection(1, 1) + scriptSection(2, 2)},
        SaveRow{"ThreeSlavesNewFile",
                "",
                {{2, 17}, true},
                {bindingOn({}, 1), bindingOn(2, 1), bindingOn(17, 9), bindingOn(40, 3)},
                "[SerialSettings]\nMBid=1\nSerialPort=2\nBaudRate=5\nDataBits=4\nStopBits=0\n"
                "Parity=0\nHandshaking=1\nMoreIds=2,17\nBroadcast=1\n[Scripts]\nCount=4\n" +
                    scriptSection(1, 1) + scriptSection(2, 1, "MBid=2\n") +
                    scriptSection(3, 9, "MBid=17\n") + scriptSection(4, 3, "MBid=40\n")},
        // Back to one slave over a file of three: the old keys are
        // overwritten, not left to bring the slaves back.
        SaveRow{"ShrinkToOneSlave",
                "[SerialSettings]\nMBid=1\nMoreIds=2,17\nBroadcast=1\n[Script1]\nMBid=17\n",
                {},
                {bindingOn({}, 4)},
                "[SerialSettings]\nMBid=1\nMoreIds=\nBroadcast=0\nSerialPort=2\nBaudRate=5\n"
                "DataBits=4\nStopBits=0\nParity=0\nHandshaking=1\n[Script1]\nMBid=1\n"
                "Name=Ramp\nRegType=4\nRegAdr=4\nParam1=1\nParam2=2\nParam3=3\n"
                "[Scripts]\nCount=1\n"},
        // A strict slave: its section holds that one key.
        SaveRow{"StrictSlave",
                "",
                {{2},
                 false,
                 {{2,
                   [] {
                       TSlaveOptions o;
                       o.Strict = true;
                       return o;
                   }()}}},
                {},
                SerialLines + "MoreIds=2\n[Slave2]\nStrict=1\n[Scripts]\nCount=0\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SlavesLoad, ReadsIdsBroadcastAndEachBindingsSlave)
{
    const TProfileContent c = ReadProfile(TIniDocument::Parse(
        "[SerialSettings]\nMBid=17\nMoreIds=2,1,17\nBroadcast=1\n[Scripts]\nCount=4\n"
        "[Script1]\nName=A\n[Script2]\nName=B\nMBid=2\n[Script3]\nName=C\nMBid=0\n"
        "[Script4]\nName=D\nMBid=junk\n"));
    EXPECT_EQ(c.Serial.MBid, 17);
    EXPECT_EQ(c.Slaves.MoreIds, (std::vector<int>{1, 2})); // the first slave not twice
    EXPECT_TRUE(c.Slaves.Broadcast);
    ASSERT_EQ(c.Bindings.size(), 4u);
    EXPECT_EQ(c.Bindings[0].MBid, std::nullopt); // the first slave, whatever its id
    EXPECT_EQ(c.Bindings[1].MBid, 2);
    EXPECT_EQ(c.Bindings[2].MBid, 0); // no slave has id 0: kept, writes nowhere
    EXPECT_EQ(c.Bindings[3].MBid, std::nullopt);

    // A first id beyond 255 is slave 255, which the list then does not repeat.
    const TProfileContent high =
        ReadProfile(TIniDocument::Parse("[SerialSettings]\nMBid=300\nMoreIds=255,3\n"));
    EXPECT_EQ(high.Slaves.MoreIds, std::vector<int>{3});
    EXPECT_FALSE(high.Slaves.Broadcast);
}

} // namespace
} // namespace quorlin::test
