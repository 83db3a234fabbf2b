// SPDX-License-Identifier: MIT
// What a profile keeps of the register table and the maps: row formats per
// slave (only when set, no stale key left), and map names that still find
// their files when the profile is saved in another folder.
#include <gtest/gtest.h>

#include "profile/profilemanager.h"

namespace quorlin::test
{
namespace
{

std::string written(const TProfileSlaves &Slaves, const TIniDocument &Existing = {})
{
    TSerialValues serial;
    serial.MBid = 1;
    TIniDocument doc = Existing;
    for (const TIniEntry &e : ProfileEntries(serial, {}, Slaves, Existing))
        doc.Update(e.Section, e.Key, e.Value);
    return doc.Text();
}

TEST(RowFormatsInProfile, WrittenOnlyWhenSetReadBackAndNoStaleKey)
{
    TProfileSlaves slaves;
    const std::string plain = written(slaves);
    EXPECT_EQ(plain.find("Formats"), std::string::npos);

    slaves.Formats[1] = {{{RegTypeHoldingReg, 40001}, {TValueKind::F32, TWordOrder::CDAB}},
                         {{RegTypeInputReg, 2}, {TValueKind::Hex, TWordOrder::ABCD}}};
    const std::string text = written(slaves);
    EXPECT_NE(text.find("[Formats1]\n4x40001=f32 CDAB\n3x0002=hex\n"), std::string::npos) << text;
    const auto doc = ParseProfileText(text);
    ASSERT_TRUE(doc);
    EXPECT_EQ(ReadProfile(*doc).Slaves.Formats, slaves.Formats);

    // A row set back to Unsigned: its key says so, and reads as no format.
    TProfileSlaves fewer;
    fewer.Formats[1] = {{{RegTypeInputReg, 2}, {TValueKind::Hex, TWordOrder::ABCD}}};
    const std::string again = written(fewer, *doc);
    EXPECT_NE(again.find("4x40001=u16\n"), std::string::npos) << again;
    EXPECT_EQ(ReadProfile(*ParseProfileText(again)).Slaves.Formats, fewer.Formats);

    // Keys a hand may have written wrong are left out, not misread.
    const auto hand = ParseProfileText("[SerialSettings]\nMBid=1\n[Formats1]\n0x0001=f32\n"
                                       "4x70000=f32\n4x0003=f32 XYZW\n4x0005=S16\n");
    ASSERT_TRUE(hand);
    const TSlaveFormats read = ReadProfile(*hand).Slaves.Formats[1];
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].first, (TRegisterRef{RegTypeHoldingReg, 5}));
    EXPECT_EQ(read[0].second.Kind, TValueKind::Signed);
}

struct RebaseRow {
    const char *Name;
    const char *From; // the folder the names were read from ("" for none)
    const char *Map;
    const char *To; // the folder the profile is written to
    const char *Written;
};

class MapNames : public ::testing::TestWithParam<RebaseRow>
{
};

TEST_P(MapNames, FindTheSameFileFromTheNewFolder)
{
    const RebaseRow &r = GetParam();
    TProfileSlaves slaves;
    slaves.Folder = r.From;
    slaves.Options[1].Map = r.Map;
    RebaseMapNames(slaves, QString::fromLatin1(r.To));
    EXPECT_EQ(slaves.Options[1].Map, r.Written);
}

INSTANTIATE_TEST_SUITE_P(
    Profile, MapNames,
    ::testing::Values(
        RebaseRow{"SameFolderKeepsTheText", "/p", "../maps/./m.csv", "/p", "../maps/./m.csv"},
        RebaseRow{"OutsideTheNewFolder", "/p", "maps/m.csv", "/q", "/p/maps/m.csv"},
        RebaseRow{"MovedUp", "/p/sub", "m.csv", "/p", "sub/m.csv"},
        RebaseRow{"AbsoluteInsideBecomesRelative", "", "/q/maps/m.csv", "/q", "maps/m.csv"},
        RebaseRow{"AbsoluteOutsideStays", "/p", "/opt/m.csv", "/q", "/opt/m.csv"},
        RebaseRow{"NoFolderToResolveFrom", "", "m.csv", "/q", "m.csv"},
        RebaseRow{"NoMap", "/p", "", "/q", ""}),
    [](const auto &Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace quorlin::test
