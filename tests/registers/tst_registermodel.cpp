// SPDX-License-Identifier: MIT
// The register table's model: what it shows, what an edit queues, and which
// cells the tick tells the view to repaint.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "registers/registermodel.h"
#include "tests/registers/fakesource.h"

namespace quorlin::test
{
namespace
{

QString shown(const TRegisterModel &M, int Row, int Column = TRegisterModel::ValueColumn)
{
    return M.data(M.index(Row, Column), Qt::DisplayRole).toString();
}

// The rows (first..last of each signal) the model asked the view to repaint.
std::vector<std::pair<int, int>> repainted(const QSignalSpy &Spy)
{
    std::vector<std::pair<int, int>> rows;
    for (const QList<QVariant> &args : Spy)
        rows.emplace_back(args[0].toModelIndex().row(), args[1].toModelIndex().row());
    return rows;
}

using Rows = std::vector<std::pair<int, int>>;

TEST(RegisterModel, TickRepaintsOnlyVisibleRowsWhoseValueChanged)
{
    FakeSource source;
    TRegisterModel model(source);
    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);

    model.Refresh(0, 19);
    EXPECT_TRUE(spy.isEmpty()) << "an idle tick repaints nothing";

    TRegisterImage &im = source.Images[0];
    im.HoldingRegs[3] = 1;  // row 2
    im.HoldingRegs[4] = 2;  // row 3, next to it
    im.HoldingRegs[10] = 3; // row 9
    im.HoldingRegs[30] = 4; // row 29, scrolled away
    model.Refresh(0, 19);
    EXPECT_EQ(repainted(spy), (Rows{{2, 3}, {9, 9}}));
    EXPECT_EQ(shown(model, 29), "4") << "a row off screen still shows the value of the tick";

    spy.clear();
    model.Refresh(0, 19);
    EXPECT_TRUE(spy.isEmpty());
}

TEST(RegisterModel, ShowsTheValueOfTheLastTickNotOfTheMoment)
{
    FakeSource source;
    TRegisterModel model(source);
    source.Images[0].HoldingRegs[1] = 77; // a master's write between two ticks
    EXPECT_EQ(shown(model, 0), "0");
    model.Refresh(0, 10);
    EXPECT_EQ(shown(model, 0), "77");
}

TEST(RegisterModel, WideValueRepaintsItsFirstRowAndNamesItInTheOthers)
{
    FakeSource source;
    TRegisterModel model(source);
    ASSERT_EQ(model.SetFormat({4}, {TValueKind::F32, TWordOrder::ABCD}), 1);
    ASSERT_EQ(model.SetFormat({8}, {TValueKind::F64, TWordOrder::DCBA}), 1);
    EXPECT_EQ(shown(model, 5), "(second half of 4x0005)");
    EXPECT_EQ(shown(model, 10), "(register 3 of 4 of 4x0009)");
    EXPECT_EQ(shown(model, 5, TRegisterModel::FormatColumn), "");
    EXPECT_EQ(shown(model, 4, TRegisterModel::FormatColumn), "Float 32 AB CD");
    EXPECT_FALSE(model.flags(model.index(5, TRegisterModel::ValueColumn)) & Qt::ItemIsEditable);

    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
    source.Images[0].HoldingRegs[5] = 0x42F6; // 4x0005, 4x0006 = 123.456
    source.Images[0].HoldingRegs[6] = 0xE979;
    model.Refresh(0, 19);
    EXPECT_EQ(repainted(spy), (Rows{{4, 4}}));
    EXPECT_EQ(shown(model, 4), "123.456");
}

struct EditRow {
    const char *Name;
    TValueFormat Format;
    const char *Text;
    std::vector<std::pair<int, uint16_t>> Queued; // register, value; empty: refused
};

class RegisterEdit : public ::testing::TestWithParam<EditRow>
{
};

// Row 9 is holding register 10.
TEST_P(RegisterEdit, QueuesAllItsRegistersOrNothing)
{
    const EditRow &row = GetParam();
    FakeSource source;
    TRegisterModel model(source);
    ASSERT_EQ(model.SetFormat({9}, row.Format), 1);
    QSignalSpy refused(&model, &TRegisterModel::EditRefused);

    const bool ok =
        model.setData(model.index(9, TRegisterModel::ValueColumn), QString(row.Text), Qt::EditRole);

    const std::deque<TPendingWrite> &queue = source.Images[0].PendingWrites;
    EXPECT_EQ(ok, !row.Queued.empty());
    EXPECT_EQ(refused.size(), row.Queued.empty() ? 1 : 0);
    ASSERT_EQ(queue.size(), row.Queued.size());
    for (size_t i = 0; i < queue.size(); ++i) {
        EXPECT_EQ(queue[i].RegType, RegTypeHoldingReg);
        EXPECT_EQ(queue[i].RegAdr, row.Queued[i].first);
        EXPECT_EQ(queue[i].Value, row.Queued[i].second);
    }
    EXPECT_EQ(source.Images[0].HoldingRegs[10], 0) << "nothing lands before the tick";
    EXPECT_TRUE(source.Images[1].PendingWrites.empty()) << "only the selected slave";
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegisterEdit,
    ::testing::Values(EditRow{"Unsigned", {TValueKind::Unsigned}, "1234", {{10, 1234}}},
                      EditRow{"Float32CDAB",
                              {TValueKind::F32, TWordOrder::CDAB},
                              "123.456",
                              {{10, 0xE979}, {11, 0x42F6}}},
                      EditRow{"Int32DCBA",
                              {TValueKind::S32, TWordOrder::DCBA},
                              "-2",
                              {{10, 0xFEFF}, {11, 0xFFFF}}},
                      EditRow{"Float64ABCD",
                              {TValueKind::F64, TWordOrder::ABCD},
                              "123.456",
                              {{10, 0x405E}, {11, 0xDD2F}, {12, 0x1A9F}, {13, 0xBE77}}},
                      EditRow{"UnsignedTooBig", {TValueKind::Unsigned}, "70000", {}},
                      EditRow{"FloatNotANumber", {TValueKind::F32, TWordOrder::ABCD}, "1.2.3", {}},
                      EditRow{"AsciiThreeCharacters", {TValueKind::Ascii}, "ABC", {}}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(RegisterModel, PairWrittenByOneEditLandsInOneTick)
{
    FakeSource source;
    TRegisterModel model(source);
    model.SetFormat({0}, {TValueKind::F32, TWordOrder::ABCD});
    EXPECT_TRUE(model.WriteText(0, QStringLiteral("-1.5")).isEmpty());
    source.Images[0].ApplyPendingWrites();
    EXPECT_EQ(source.Images[0].HoldingRegs[1], 0xBFC0);
    EXPECT_EQ(source.Images[0].HoldingRegs[2], 0x0000);
}

TEST(RegisterModel, SecondHalfCannotBeTyped)
{
    FakeSource source;
    TRegisterModel model(source);
    model.SetFormat({0}, {TValueKind::U32, TWordOrder::ABCD});
    EXPECT_EQ(model.WriteText(1, QStringLiteral("5")), "4x0002 is part of the value of 4x0001");
    EXPECT_TRUE(source.Images[0].PendingWrites.empty());
}

TEST(RegisterModel, BitsToggleFromTheImageAsTheLampsDo)
{
    FakeSource source;
    TRegisterModel model(source);
    model.SetTable(RegTypeCoil);
    ASSERT_EQ(model.rowCount(), 2048);
    EXPECT_EQ(shown(model, 2047, TRegisterModel::RegisterColumn), "0x2048");
    source.Images[0].Coils[2048] = 1;
    model.ToggleBit(2047);
    model.ToggleBit(2047); // twice before a tick: both queue the same value
    model.ToggleBit(0);
    source.Images[0].ApplyPendingWrites();
    EXPECT_EQ(source.Images[0].Coils[2048], 0);
    EXPECT_EQ(source.Images[0].Coils[1], 1);
    EXPECT_FALSE(model.WriteText(0, QStringLiteral("1")).isEmpty()) << "bits are not typed";
}

TEST(RegisterModel, EachTableKeepsItsOwnFormats)
{
    FakeSource source;
    TRegisterModel model(source);
    model.SetFormat({0}, {TValueKind::Hex});
    model.SetTable(RegTypeInputReg);
    EXPECT_EQ(shown(model, 0, TRegisterModel::FormatColumn), "Unsigned");
    EXPECT_EQ(shown(model, 0, TRegisterModel::RegisterColumn), "3x0001");
    model.SetTable(RegTypeHoldingReg);
    EXPECT_EQ(shown(model, 0, TRegisterModel::FormatColumn), "Hex");
}

TEST(RegisterModel, ScriptColumnFollowsTheBindings)
{
    FakeSource source;
    TRegisterModel model(source);
    source.Scripts = {{{RegTypeHoldingReg, 5}, "Ramp"},
                      {{RegTypeInputReg, 5}, "Sine"},       // another table
                      {{RegTypeHoldingReg, 300}, "Stray"}}; // a hand-edited profile's
    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
    model.Refresh(0, 19);
    EXPECT_EQ(shown(model, 4, TRegisterModel::ScriptColumn), "Ramp");
    EXPECT_EQ(repainted(spy), (Rows{{4, 4}}));
    source.Scripts.clear();
    model.Refresh(0, 19);
    EXPECT_EQ(shown(model, 4, TRegisterModel::ScriptColumn), "");
}

TEST(RegisterModel, AnotherSelectedSlaveReloadsEveryRow)
{
    FakeSource source;
    TRegisterModel model(source);
    source.Images[1].HoldingRegs[200] = 42;
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    source.Selected = 1;
    model.Refresh(0, 19); // row 199 is off screen, yet shows slave 7's value
    EXPECT_EQ(reset.size(), 1);
    EXPECT_EQ(shown(model, 199), "42");
}

TEST(RegisterModel, WholeAddressSpaceWithAMapLooksOnlyAtTheRowsOnScreen)
{
    FakeSource source;
    source.WithDisplays = true;
    source.Images[0].SetRegisterCount(65536);
    TMapItem tag;
    tag.Register = {RegTypeHoldingReg, 65521};
    tag.Name = "Tag";
    tag.Format = {TValueKind::Ascii, TWordOrder::ABCD};
    tag.AsciiLength = 32; // registers 65521..65536
    TMapItem speed;
    speed.Register = {RegTypeHoldingReg, 40001};
    speed.Name = "Speed";
    speed.Format = {TValueKind::S32, TWordOrder::CDAB};
    speed.Scale = 0.5;
    speed.Unit = "rpm";
    source.Displays[0].SetMap({tag, speed});
    TRegisterModel model(source);
    ASSERT_EQ(model.rowCount(), 65536);

    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
    source.Images[0].HoldingRegs[10] = 1;       // far off screen
    source.Images[0].HoldingRegs[65536] = 0x4100; // the tag's last register: "A" at 31
    model.Refresh(65500, 65535);
    EXPECT_EQ(repainted(spy), (Rows{{65520, 65520}})) << "the tag's own row, once";
    EXPECT_EQ(shown(model, 65535), "(register 16 of 16 of 4x65521)");
    EXPECT_EQ(shown(model, 65520, TRegisterModel::FormatColumn), "ascii32");

    // What the tick copies for the last row on screen: the whole tag.
    int first = 0, last = 0;
    model.RegistersOfRows(65535, 65535, first, last);
    EXPECT_EQ(first, 65521);
    EXPECT_EQ(last, 65536);

    // An engineering value: -100 rpm at 0.5 per count is -200, words swapped.
    EXPECT_TRUE(model.WriteEngineering(40000, QStringLiteral("-100")).isEmpty());
    const auto &queue = source.Images[0].PendingWrites;
    ASSERT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue[0].RegAdr, 40001);
    EXPECT_EQ(queue[0].Value, 0xFF38);
    EXPECT_EQ(queue[1].Value, 0xFFFF);
    EXPECT_FALSE(model.WriteEngineering(40001, QStringLiteral("1")).isEmpty())
        << "the second register of a value has none";
    EXPECT_EQ(model.SetFormat({40000, 40001}, {TValueKind::Hex}), 0) << "the map types them";
    EXPECT_EQ(model.SetFormat({39999}, {TValueKind::F32}), 0) << "it would reach into the map";

    model.SetFilter(QStringLiteral("SPE"));
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(shown(model, 0, TRegisterModel::NameColumn), "Speed");
    EXPECT_EQ(shown(model, 0, TRegisterModel::UnitColumn), "rpm");
    EXPECT_EQ(model.RowOf(40001), 0);
    EXPECT_EQ(model.RowOf(65521), -1);
    model.SetFilter(QString());
    EXPECT_EQ(model.RowOf(65521), 65520);
}

} // namespace
} // namespace quorlin::test
