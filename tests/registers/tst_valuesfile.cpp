// SPDX-License-Identifier: MIT
// Register values files on disk: export, and import's all-or-nothing rule.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

#include "profile/profiledialogs.h"
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

// Answers the replace question as told and hands out one file name.
class ExportDialogs : public IProfileDialogs
{
  public:
    QString File;
    TConfirmAnswer Answer = TConfirmAnswer::No;
    std::vector<QString> Questions;
    std::vector<QString> Errors;
    TConfirmAnswer Confirm(QWidget *, const QString &Text, bool) override
    {
        Questions.push_back(Text);
        return Answer;
    }
    void ShowError(QWidget *, const QString &Text) override { Errors.push_back(Text); }
    std::optional<QString> SaveFileName(QWidget *, const TFileDialogRequest &) override
    {
        return File;
    }
    std::optional<QString> OpenFileName(QWidget *, const TFileDialogRequest &) override
    {
        return std::nullopt;
    }
};

struct ExportRow {
    const char *Name;
    bool Exists;
    bool HardLinked;
    TConfirmAnswer Answer;
    bool Replaced;
};

class ExportOver : public ::testing::TestWithParam<ExportRow>
{
};

// An existing file is replaced only when the user says so, and then in
// place where a second name (hard link) shares it.
TEST_P(ExportOver, AsksFirstAndKeepsLinks)
{
    const ExportRow &row = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("values.csv"));
    const QString other = dir.filePath(QStringLiteral("linked.csv"));
    if (row.Exists)
        ASSERT_TRUE(write(path, "keep me\n"));
    if (row.HardLinked)
        ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(other).constData()),
                  0);
    FakeSource source;
    ExportDialogs dialogs;
    dialogs.File = path;
    dialogs.Answer = row.Answer;
    QString directory;
    ExportValuesCommand(nullptr, source, dialogs, directory);
    EXPECT_EQ(dialogs.Questions.size(), size_t(row.Exists ? 1 : 0));
    if (row.Exists && !dialogs.Questions.empty())
        EXPECT_EQ(dialogs.Questions[0], ReplaceQuestion(path));
    EXPECT_TRUE(dialogs.Errors.empty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray after = f.readAll();
    EXPECT_EQ(after.startsWith("slave,register,value\r\n"), row.Replaced);
    if (row.HardLinked) {
        QFile g(other);
        ASSERT_TRUE(g.open(QIODevice::ReadOnly));
        EXPECT_EQ(g.readAll(), after) << "the two names no longer share the file";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExportOver,
    ::testing::Values(ExportRow{"NewFile", false, false, TConfirmAnswer::No, true},
                      ExportRow{"ExistingKeptOnNo", true, false, TConfirmAnswer::No, false},
                      ExportRow{"ExistingReplacedOnYes", true, false, TConfirmAnswer::Yes, true},
                      ExportRow{"HardLinkedReplacedInPlace", true, true, TConfirmAnswer::Yes, true}),
    [](const auto &Info) { return std::string(Info.param.Name); });

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
