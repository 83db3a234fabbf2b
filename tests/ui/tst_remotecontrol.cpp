// SPDX-License-Identifier: MIT
// "Settings > Remote Control..." in the main window: the dialog starts the
// API, the status bar shows it, quorlin.ini remembers it for the next start;
// calls from the API's threads change the window through the paths its
// dialogs use (tabs, the faults warning, the panels at the next tick).
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

#include <httplib.h>

#include <future>

#include <QListWidget>

#include "api/remotecontrolform.h"
#include "slaves/slavesform.h"
#include "profile/profilemanager.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/mainunit.h"
#include "ui/panelcontrols.h"
#include "ui/remotecontrol.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

// One call from a thread of its own while this thread serves the window,
// which answers the API's questions from its event loop.
httplib::Result call(int Port, const std::function<httplib::Result(httplib::Client &)> &Request)
{
    auto done = std::async(std::launch::async, [Port, Request] {
        httplib::Client c("127.0.0.1", Port);
        c.set_read_timeout(20, 0);
        return Request(c);
    });
    (void)QTest::qWaitFor(
        [&] { return done.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; },
        20000);
    return done.get();
}

QStringList tabs(TMainForm &Form)
{
    QStringList t;
    for (int i = 0; i < Form.TabControl1->Tabs()->count(); ++i)
        t << Form.TabControl1->Tabs()->tabText(i);
    return t;
}

TEST(RemoteControl, DialogStartsTheApiWhoseCallsShowInTheWindowAndIsRemembered)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.ok());
    const int port = freeLoopbackPort();
    auto form = std::make_unique<TMainForm>(nullptr, dir.path());
    form->Timer1->stop();
    EXPECT_FALSE(form->RemoteControl->Listening()) << "off unless asked for";

    onNextModal<TRemoteControlForm>([port](TRemoteControlForm *D) {
        D->OnBox->setChecked(true);
        D->AddressEdit->setText(QStringLiteral("127.0.0.1"));
        D->PortEdit->setValue(port);
        D->accept();
    });
    form->RemoteControl->RemoteControl1->trigger();
    ASSERT_TRUE(form->RemoteControl->Listening()) << form->RemoteControl->State().toStdString();
    EXPECT_TRUE(form->RemoteControl->StatusLabel->isVisibleTo(form.get()));
    EXPECT_EQ(form->RemoteControl->StatusLabel->text(),
              QStringLiteral("API 127.0.0.1:%1").arg(port));
    const QByteArray ini = readAll(QDir(dir.path()).filePath(QStringLiteral("quorlin.ini")));
    EXPECT_TRUE(ini.contains("[RemoteControl]\nOn=1\n")) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("Port=%1\n").arg(port).toUtf8()));

    // A slave added through the API gets its tab, as the Slaves dialog's Add does.
    auto r = call(port, [](httplib::Client &c) {
        return c.Post("/api/v1/slaves", R"({"id": 5})", "application/json");
    });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 201) << r->body;
    EXPECT_EQ(tabs(*form), (QStringList{"MB id 1", "MB id 5"}));

    // Served while a modal dialog is open, whose list follows at once.
    QStringList listed;
    int status = 0;
    onNextModal<TSlavesForm>([&](TSlavesForm *D) {
        auto added = call(port, [](httplib::Client &c) {
            return c.Post("/api/v1/slaves", R"({"id": 9})", "application/json");
        });
        status = added ? added->status : -1;
        for (int i = 0; i < D->ListBox1->count(); ++i)
            listed << D->ListBox1->item(i)->text();
        D->reject();
    });
    form->Slaves1->trigger();
    EXPECT_EQ(status, 201);
    EXPECT_TRUE(listed.join(QLatin1Char('|')).contains(QStringLiteral("MB id 9")))
        << listed.join(QLatin1Char('|')).toStdString();
    r = call(port, [](httplib::Client &c) { return c.Delete("/api/v1/slaves/9"); });
    ASSERT_TRUE(r && r->status == 200);
    form->SelectSlave(5);

    // Faults switched on as the Faults dialog's OK does: the loud warning shows.
    r = call(port, [](httplib::Client &c) {
        return c.Put("/api/v1/faults", R"({"on": true, "NoReplyEvery": 3})", "application/json");
    });
    ASSERT_TRUE(r && r->status == 200);
    EXPECT_TRUE(form->InjectFaults1->isChecked());
    ASSERT_NE(form->FaultsStatus, nullptr);
    EXPECT_TRUE(form->FaultsStatus->text().contains(QStringLiteral("no reply every 3")))
        << form->FaultsStatus->text().toStdString();
    EXPECT_FALSE(form->Profile().ProfileSaved);

    // A write is in the image at once; the panels show it from the next tick.
    r = call(port, [](httplib::Client &c) {
        return c.Put("/api/v1/slaves/5/holding-registers/1", R"({"value": 1234})",
                     "application/json");
    });
    ASSERT_TRUE(r && r->status == 200);
    form->Tick();
    EXPECT_EQ(form->findChild<TNumberBox *>(QStringLiteral("Edit7"))->text(), "1234");

    // Switched off: nobody listens, and the choice is kept.
    TRemoteSettings off = form->RemoteControl->Settings();
    off.On = false;
    form->RemoteControl->Apply(off);
    EXPECT_FALSE(form->RemoteControl->Listening());
    EXPECT_FALSE(call(port, [](httplib::Client &c) { return c.Get("/api/v1/status"); }));
    off.On = true;
    form->RemoteControl->Apply(off);
    form->Profile().ProfileSaved = true; // no question at the end
    form.reset();

    // The next start serves again by itself.
    form = std::make_unique<TMainForm>(nullptr, dir.path());
    form->Timer1->stop();
    EXPECT_TRUE(form->RemoteControl->Listening());
    r = call(port, [](httplib::Client &c) { return c.Get("/api/v1/slaves"); });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    form.reset();
}

} // namespace
