// SPDX-License-Identifier: MIT
// The main window's caption follows its port by itself: COM2 mapped to a
// link, the pty behind it goes away and another takes its place, as when a
// socat pair is restarted or a USB adapter is plugged back in.
#include <QAction>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "serial/commint.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/mainunit.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

TEST(MainWindowReconnect, CaptionFollowsTheDeviceAwayAndBackAndOkRetriesAtOnce)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("quorlin-slave"));
    ASSERT_TRUE(writeAll(dir.filePath(QStringLiteral("quorlin.ini")),
                         QStringLiteral("[Ports]\nCOM2=%1\n").arg(link).toUtf8()));
    auto first = std::make_unique<PtyPair>();
    ASSERT_TRUE(first->ok());
    ASSERT_TRUE(QFile::link(QString::fromStdString(first->path()), link));

    TMainForm form(nullptr, dir.path());
    form.CreateDialogs();
    const QString title = QStringLiteral("Quorlin 1.0 - <UNTITLED.QRL>");
    ASSERT_EQ(form.windowTitle(), title + QStringLiteral(" - Connected to COM2"));

    QFile::remove(link);
    first->closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(form.windowTitle(), title + QStringLiteral(" - Disconnected (COM2)"),
                              5000);
    EXPECT_EQ(form.Comm1->CloseReason(), "COM2 (" + link.toStdString() + "): device removed");
    first.reset();

    // Back under the same name; with the automatic retry far off, OK in the
    // Configuration dialog is what opens it, at once.
    form.Comm1->SetRetryInterval(60000);
    PtyPair second;
    ASSERT_TRUE(second.ok());
    ASSERT_TRUE(QFile::link(QString::fromStdString(second.path()), link));
    onNextModal<TConfForm>([](TConfForm *Dialog) { Dialog->Button1->click(); });
    form.SerialOptions1->trigger();
    EXPECT_EQ(form.windowTitle(), title + QStringLiteral(" - Connected to COM2"));
    EXPECT_FALSE(form.Comm1->LastOpenWasRetry());

    Master master(second.master());
    uint16_t regs[2] = {};
    EXPECT_EQ(master.run([&](modbus_t *Ctx) { return modbus_read_registers(Ctx, 0, 2, regs); }), 2);
    form.CloseWithoutQuestion();
}

} // namespace
