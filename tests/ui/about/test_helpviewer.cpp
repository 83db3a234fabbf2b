// SPDX-License-Identifier: MIT
// The help viewer and the manual it shows.
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

#include <gtest/gtest.h>

#include "ui/helpviewer.h"

using namespace quorlin;

namespace
{

QString manualPath()
{
    const char *source = std::getenv("QUORLIN_SOURCE_DIR");
    return QString::fromLocal8Bit(source ? source : ".") + "/docs/Quorlin.hlp";
}

QString readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace

TEST(HelpViewer, HelpFileLivesInTheProgramsDirectory)
{
    EXPECT_EQ(HelpFilePath(), QCoreApplication::applicationDirPath() + "/Quorlin.hlp");
    qApp->setProperty("HelpFile", QStringLiteral("Other.hlp"));
    EXPECT_EQ(HelpFilePath(), QCoreApplication::applicationDirPath() + "/Other.hlp");
    // A main window started for another program directory looks there.
    EXPECT_EQ(HelpFilePath(QStringLiteral("/opt/plant")), QStringLiteral("/opt/plant/Other.hlp"));
    qApp->setProperty("HelpFile", QVariant());
}

TEST(HelpViewer, OpensTheManualAtItsContentsPage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString copy = dir.filePath("Quorlin.hlp");
    ASSERT_TRUE(QFile::copy(manualPath(), copy)) << manualPath().toStdString();

    THelpViewer viewer;
    viewer.ShowContents(copy);
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_TRUE(viewer.hasDocument());
    EXPECT_EQ(viewer.Browser->source(), QUrl::fromLocalFile(copy));
    // Rendered as HTML, not shown as source text.
    const QString text = viewer.Browser->toPlainText();
    EXPECT_FALSE(text.contains("<h1")) << "the manual was not rendered as HTML";
    EXPECT_TRUE(text.contains("Contents"));
    EXPECT_EQ(viewer.Browser->verticalScrollBar()->value(), 0);

    // Following a link and coming back with Contents.
    viewer.Browser->setSource(QUrl::fromLocalFile(copy).resolved(QUrl("#modbus")));
    EXPECT_TRUE(viewer.BackButton->isEnabled());
    viewer.ContentsButton->click();
    EXPECT_EQ(viewer.Browser->source().fragment(), QString());
}

TEST(HelpViewer, MissingFileIsReportedInTheViewer)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath("a<b>/Quorlin.hlp");
    THelpViewer viewer;
    viewer.ShowContents(missing);
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_FALSE(viewer.hasDocument());
    const QString text = viewer.Browser->toPlainText();
    EXPECT_TRUE(text.contains(missing)) << text.toStdString();
    EXPECT_TRUE(text.contains("was not found"));

    // The file appearing later is shown by the next request.
    ASSERT_TRUE(QFile::copy(manualPath(), dir.filePath("Quorlin.hlp")));
    viewer.ShowContents(dir.filePath("Quorlin.hlp"));
    EXPECT_TRUE(viewer.hasDocument());
    EXPECT_FALSE(viewer.BackButton->isEnabled());
}

TEST(HelpManual, EveryInternalLinkHasItsAnchorAndTheTopicsAreThere)
{
    const QString html = readAll(manualPath());
    ASSERT_FALSE(html.isEmpty());
    QSet<QString> anchors;
    for (const auto &m : QRegularExpression(R"re((?:id|name)="([^"]+)")re").globalMatch(html))
        anchors.insert(m.captured(1));
    int links = 0;
    for (const auto &m : QRegularExpression(R"re(href="#([^"]+)")re").globalMatch(html)) {
        ++links;
        EXPECT_TRUE(anchors.contains(m.captured(1)))
            << "dangling link #" << m.captured(1).toStdString();
    }
    EXPECT_GE(links, 10);
    for (const char *topic : {"contents", "window", "configuration", "ports", "scripts",
                              "writing-scripts", "profiles", "modbus"})
        EXPECT_TRUE(anchors.contains(topic)) << topic;
}
