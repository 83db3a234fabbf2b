// SPDX-License-Identifier: MIT
// The program as the desktop meets it: its icon in every size of the theme,
// built into the program; and a port refused for want of permission, for
// which the main window says which group to join in a message that waits for
// nobody, once per device however often the retries fail, while other
// failures stay in the caption and status bar.
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

#include "platform/portaccess.h"
#include "serial/commint.h"
#include "tests/serial/countingsysapi.h"
#include "tests/serial/ptypair.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/mainunit.h"
#include "ui/permissionnotice.h"
#include "ui/programicon.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

QList<QMessageBox *> notices(const QWidget &Window)
{
    return Window.findChildren<QMessageBox *>(QStringLiteral("PermissionNotice"));
}

TEST(PermissionNotice, RefusedPortIsToldOncePerDeviceWithoutBlocking)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.ok());
    CountingSysApi api;
    int refusal = EACCES;
    api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
        if (c.Name != "open")
            return std::nullopt;
        errno = refusal;
        return -1;
    });
    TMainForm form(nullptr, dir.path());
    form.Comm1->Close();
    form.Comm1->SetSysApi(api);
    EXPECT_TRUE(notices(form).isEmpty()); // the start-up's own open was not refused

    form.Comm1->Open();
    ASSERT_FALSE(form.Comm1->IsOpen());
    ASSERT_EQ(notices(form).size(), 1);
    QMessageBox *box = notices(form).first();
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    const std::string device = form.Comm1->DevicePath();
    const QString text = box->text();
    EXPECT_TRUE(text.contains(QString::fromStdString(device))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(PermissionAdvice(DeviceGroup(device)))))
        << text.toStdString();

    // The retries once a second fail the same way: no second message.
    form.Comm1->Open();
    form.Comm1->Open();
    EXPECT_EQ(notices(form).size(), 1);

    // Another reason says nothing new; once closed, the message stays closed.
    box->close();
    QTest::qWait(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    refusal = ENOENT;
    form.Comm1->Open();
    EXPECT_TRUE(notices(form).isEmpty());
    refusal = EPERM;
    form.Comm1->Open();
    EXPECT_TRUE(notices(form).isEmpty());
}

// A pty has no RS-485: the real kernel refuses it. The port stays open, a
// message that waits for nobody says so once, and the port's tooltip tells
// the adapter's state.
TEST(AdapterNotice, RefusedRs485IsToldOnceAndShownInTheTooltip)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.ok());
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    TMainForm form(nullptr, dir.path());
    form.Comm1->Close();
    form.Comm1->SetDeviceName(pty.path());
    TRs485Settings rs485;
    rs485.Enabled = true;
    form.Comm1->SetRs485(rs485);
    form.Comm1->Open();
    ASSERT_TRUE(form.Comm1->IsOpen());
    auto shown = [&] { return form.findChildren<QMessageBox *>(QStringLiteral("AdapterNotice")); };
    ASSERT_EQ(shown().size(), 1);
    EXPECT_FALSE(shown().first()->isModal());
    const QString expected = QStringLiteral("cannot switch %1 to RS-485").arg(
        QString::fromStdString(pty.path()));
    EXPECT_TRUE(shown().first()->text().contains(expected)) << shown().first()->text().toStdString();
    const QString tip = form.PortStatus->toolTip();
    EXPECT_TRUE(tip.contains(expected)) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Low latency: not offered by the driver")))
        << tip.toStdString();

    // Opened again with the same request: nothing new to say.
    form.Comm1->Close();
    form.Comm1->Open();
    EXPECT_EQ(shown().size(), 1);
    // Turned off while open: the tooltip drops the refusal.
    form.Comm1->SetRs485(TRs485Settings{});
    EXPECT_FALSE(form.PortStatus->toolTip().contains(expected));
}

TEST(ProgramIcon, EveryThemeSizeIsBuiltIntoTheProgram)
{
    const QIcon icon = ProgramIcon();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
        EXPECT_EQ(icon.pixmap(size, size).size(), QSize(size, size)) << size;
    }
}

} // namespace
