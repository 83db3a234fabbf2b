// SPDX-License-Identifier: MIT
// The about box: its texts, its links and the two version lines.
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/fileversion.h"
#include "serial/ui/designfit.h"
#include "ui/aboutunit.h"

// This test program carries a version record of its own, standing in for
// the quorlin program file.
QUORLIN_FILE_VERSION(1, 0, 0, 7, 0x0409, 1252, QUORLIN_VERSION_STRING("FileVersion", "1.0.0.7"));

using namespace quorlin;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace
{

std::string libDir(const char *kind)
{
    const char *base = std::getenv("ABOUT_LIB_DIR");
    return std::string(base ? base : ".") + "/" + kind;
}

const QString ProgramDesignText = QStringLiteral("(Simple Version 1.0)");
const QString LibraryDesignText = QStringLiteral("scripts.dll version : <unknown>");

} // namespace

TEST(AboutBox, ShowsTheDesignTextsAndTheTenDescriptionLines)
{
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), "Quorlin v1.0");
    const TDesignScale scale = TDesignScale::ForFont(box.font());
    // A heading font taller than the design's adds to the height.
    EXPECT_EQ(box.width(), scale.Size(QSize(298, 398)).width());
    EXPECT_GE(box.height(), scale.Size(QSize(298, 398)).height());
    EXPECT_EQ(box.Version->text(), ProgramDesignText);
    EXPECT_EQ(box.Label2->text(), LibraryDesignText);
    EXPECT_EQ(box.Label1->size(), scale.Rect(QRect(15, 168, 251, 141)).size());

    const QStringList lines = box.Label1->text().split('\n');
    ASSERT_EQ(lines.size(), 10);
    EXPECT_EQ(lines[0], "This emulator supports reading/writing of 0x, 1x, 3x ");
    EXPECT_EQ(lines[2], "and first 6 registers (for 3x and 4x) can be accessed");
    EXPECT_EQ(lines[3], "directly (use scrollbars or just click on EditBox of");
    EXPECT_EQ(lines[4], "appropriate register). Other ones are initially fullfiled ");
    EXPECT_EQ(lines[9], "return \"PLC Exception\" code.");
    // Lines 1, 2 and 5 to 9 end with one space, 3, 4 and 10 with none.
    for (int i = 0; i < 10; ++i) {
        const bool spaced = i < 2 || (i >= 4 && i <= 8);
        EXPECT_EQ(lines[i].endsWith(' '), spaced) << "line " << i + 1;
        EXPECT_FALSE(lines[i].endsWith("  ")) << "line " << i + 1;
    }

    EXPECT_EQ(box.Label4->text(), "The Quorlin developers");
    EXPECT_EQ(box.Label4->font().pointSize(), 16);
    EXPECT_TRUE(box.Label4->font().bold());
    EXPECT_TRUE(box.Label5->text().startsWith("phone: "));
    EXPECT_EQ(box.Comments->text(), "e-mail: support@quorlin.example.org");
    EXPECT_TRUE(box.Comments->font().underline());
    EXPECT_EQ(box.ProgramIcon->pixmap().size(), QSize(220, 45));
    EXPECT_TRUE(box.OKButton->isDefault());
}

TEST(AboutBox, ClickingTheLinksHandsThemToTheLinkHandler)
{
    TAboutBox box;
    QList<QUrl> opened;
    box.setLinkHandler([&](const QUrl &url) {
        opened << url;
        return true;
    });
    box.show();
    QTest::mouseClick(box.Comments, Qt::LeftButton);
    QTest::mouseClick(box.Label6, Qt::LeftButton);
    QTest::mouseClick(box.Label4, Qt::LeftButton);
    QTest::mouseClick(box.ProgramIcon, Qt::LeftButton);
    QTest::mouseClick(box.Label3, Qt::LeftButton); // not a link
    ASSERT_EQ(opened.size(), 4);
    EXPECT_EQ(opened[0].scheme(), "mailto");
    EXPECT_EQ(opened[0].path(), "support@quorlin.example.org");
    EXPECT_EQ(opened[0].query(QUrl::FullyDecoded), "Subject=Quorlin 1.0");
    const QUrl web(QStringLiteral("https://quorlin.example.org/"));
    EXPECT_EQ(opened[1], web);
    EXPECT_EQ(opened[2], web);
    EXPECT_EQ(opened[3], web);
}

struct VersionCase {
    const char *name;
    const char *libraryKind; // directory that holds the scripts.dll to read
    const char *libraryLine;
};

class AboutVersionLines : public testing::TestWithParam<VersionCase>
{
};

TEST_P(AboutVersionLines, ShowTheLibraryVersionOrKeepTheDesignText)
{
    TAboutBox box;
    box.setProgramDir(libDir(GetParam().libraryKind));
    box.UpdateVersionLines();
    EXPECT_EQ(box.Label2->text(), GetParam().libraryLine);
    box.UpdateVersionLines(); // a second opening shows the same
    EXPECT_EQ(box.Label2->text(), GetParam().libraryLine);
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, AboutVersionLines,
    testing::Values(VersionCase{"FileVersionText", "stamped", "scripts.dll version: 2.1"},
                    VersionCase{"FixedVersionOnly", "fixedonly", "scripts.dll version: 1.2.3.4"},
                    VersionCase{"NoVersionInformation", "plain", "scripts.dll version : <unknown>"},
                    VersionCase{"NoLibraryAtAll", "nowhere", "scripts.dll version : <unknown>"}),
    [](const testing::TestParamInfo<VersionCase> &info) { return std::string(info.param.name); });

TEST(AboutBox, ProgramLineNamesTheProgramFileAndItsVersion)
{
    TAboutBox box;
    box.setProgramDir(libDir("plain"));
    box.UpdateVersionLines();
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    EXPECT_EQ(box.Version->text(), name + " version: 1.0.0.7");
}

TEST(AboutBox, FileWithoutVersionKeepsTheLastLineShown)
{
    TAboutBox box;
    box.setProgramFile(QString::fromStdString(libDir("plain") + "/scripts.dll"));
    box.setProgramDir(libDir("plain"));
    box.UpdateVersionLines();
    EXPECT_EQ(box.Version->text(), ProgramDesignText);
    EXPECT_EQ(box.Label2->text(), LibraryDesignText);

    box.setProgramFile(QString::fromStdString(libDir("stamped") + "/scripts.dll"));
    box.setProgramDir(libDir("stamped"));
    box.UpdateVersionLines();
    EXPECT_EQ(box.Version->text(), "scripts.dll version: 2.1");

    box.setProgramFile(QString::fromStdString(libDir("plain") + "/scripts.dll"));
    box.setProgramDir(libDir("plain"));
    box.UpdateVersionLines();
    EXPECT_EQ(box.Version->text(), "scripts.dll version: 2.1");
    EXPECT_EQ(box.Label2->text(), "scripts.dll version: 2.1");
}

#ifdef QUORLIN_SCRIPTS_DLL
TEST(AboutBox, OurScriptsDllHasAVersion)
{
    TAboutBox box;
    box.setProgramDir(QFileInfo(QStringLiteral(QUORLIN_SCRIPTS_DLL)).absolutePath().toStdString());
    box.UpdateVersionLines();
    EXPECT_TRUE(box.Label2->text().contains(
        QRegularExpression(QStringLiteral("^scripts\\.dll version: \\d+(\\.\\d+){1,3}$"))))
        << box.Label2->text().toStdString();
}
#endif

#ifdef QUORLIN_PROGRAM
TEST(AboutBox, OurProgramHasAVersion)
{
    TAboutBox box;
    box.setProgramFile(QStringLiteral(QUORLIN_PROGRAM));
    box.UpdateVersionLines();
    EXPECT_TRUE(box.Version->text().contains(
        QRegularExpression(QStringLiteral("^quorlin version: \\d+(\\.\\d+){1,3}$"))))
        << box.Version->text().toStdString();
}
#endif

TEST(AboutBox, About2ClickShowsTheBoxModallyUntilOk)
{
    TAboutBox box;
    box.setProgramDir(libDir("stamped"));
    for (int round = 0; round < 2; ++round) {
        QString seen;
        QTimer::singleShot(0, &box, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            ASSERT_EQ(modal, &box);
            seen = box.Label2->text();
            QTest::keyClick(&box, Qt::Key_Return);
        });
        EXPECT_EQ(box.About2Click(), QDialog::Accepted);
        EXPECT_EQ(seen, "scripts.dll version: 2.1");
        EXPECT_FALSE(box.isVisible());
    }
}
