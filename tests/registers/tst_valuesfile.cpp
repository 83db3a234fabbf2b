// SPDX-License-Identifier: MIT
// Register values files on disk: export, and import's all-or-nothing rule.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "registers/valuesfile.h"
#include "tests/registers/fakesource.h"

namespace quorlin::test
{
namespace
{

bool write(const QString &Path, const QByteArray &Data)
{
    QFile f(Path);
    return f.open(QIODevice::WriteOnly) && f.write(Data) == Data.size();
}

TEST(ValuesFile, ExportedFileImportsIntoAnotherRig)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("values.csv"));
    FakeSource from;
    from.Images[0].HoldingRegs[100] = 4242;
    from.Images[1].Coils[2048] = 1;
    ASSERT_EQ(ExportValuesFile(path, from), QString());

    FakeSource to;
    ASSERT_EQ(ImportValuesFile(path, to), QString());
    EXPECT_EQ(to.Images[0].PendingWrites.size(), size_t(2048 + 2048 + 256 + 256));
    for (TRegisterImage &im : to.Images)
        im.ApplyPendingWrites();
    EXPECT_EQ(to.Images[0].HoldingRegs[100], 4242);
    EXPECT_EQ(to.Images[1].Coils[2048], 1);
}

TEST(ValuesFile, ExportToAnUnwritablePlaceSaysSo)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("no-such-dir/values.csv"));
    FakeSource source;
    EXPECT_EQ(ExportValuesFile(path, source), QStringLiteral("Unable to write to %1").arg(path));
}

TEST(ValuesFile, BadLineQueuesNothingOnAnySlave)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("values.csv"));
    ASSERT_TRUE(write(path, "slave,register,value\n1,4x0001,1234\n7,0x0017,1\n2,4x0001,1\n"));
    FakeSource source;
    EXPECT_EQ(ImportValuesFile(path, source),
              path + QStringLiteral(": line 4: slave 2 is not emulated"));
    EXPECT_TRUE(source.Images[0].PendingWrites.empty());
    EXPECT_TRUE(source.Images[1].PendingWrites.empty());
}

TEST(ValuesFile, MissingFileSaysWhy)
{
    FakeSource source;
    const QString error = ImportValuesFile(QStringLiteral("/nonexistent/values.csv"), source);
    EXPECT_TRUE(error.startsWith(QStringLiteral("Unable to read /nonexistent/values.csv")))
        << error.toStdString();
}

} // namespace
} // namespace quorlin::test
