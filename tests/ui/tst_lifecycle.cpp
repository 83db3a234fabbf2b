// SPDX-License-Identifier: MIT
// The main window's start and close as the program runs them, with a real
// program directory (quorlin.ini mapping COM2 to a pty, our scripts.dll):
// Exit, a settings file that cannot be written, a terminate signal arriving
// while a question is open, the end of the desktop session, a second
// instance on the same port.
#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>

#include "profile/profilemanager.h"
#include "scripts/ui/addscript.h"
#include "scripts/ui/delscript.h"
#include "serial/commint.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/aboutunit.h"
#include "ui/askunit.h"
#include "ui/mainunit.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

class LifecycleTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        m_iniPorts = readAll(ini());
    }
    void TearDown() override
    {
        m_form.reset();
        // A read-only file left behind would outlive the temporary directory.
        ::chmod(QFile::encodeName(ini()).constData(), 0644);
    }

    QString path(const char *Name) const
    {
        return QDir(m_dir.path()).filePath(QLatin1String(Name));
    }
    QString ini() const { return path("quorlin.ini"); }
    // The main sequence: the main window, then its dialogs, then shown.
    void start()
    {
        m_form = std::make_unique<TMainForm>(nullptr, m_dir.path());
        m_form->CreateDialogs();
        m_form->show();
    }
    bool closed() const
    {
        return m_form->Profile().Closed() && !m_form->isVisible() && !m_form->Timer1->isActive() &&
               !m_form->Comm1->IsOpen();
    }
    // What a close writes after the ports: the two settings, in this order.
    std::string savedSettings(const char *Profile = "UNTITLED.QRL") const
    {
        return (m_iniPorts +
                "[General]\nStayOnTop=0\nCurrentProfile=" + QFile::encodeName(path(Profile)) + "\n")
            .toStdString();
    }

    ProgramDir m_dir;
    QByteArray m_iniPorts; // "[Ports]" with COM2 and COM3
    std::unique_ptr<TMainForm> m_form;
};

TEST_F(LifecycleTest, ExitAfterTheScriptsRanRecordsTheProfileAndKeepsThePorts)
{
    const QDir build(qEnvironmentVariable("QUORLIN_BUILD_DIR"));
    ASSERT_TRUE(QFile::copy(build.filePath(QStringLiteral("scripts.dll")), path("scripts.dll")));
    ASSERT_TRUE(writeAll(path("plant.QRL"), plantProfile()));
    ASSERT_TRUE(writeAll(ini(), m_iniPorts + "[General]\nStayOnTop=1\nCurrentProfile=" +
                                    QFile::encodeName(path("plant.QRL")) + "\n"));
    start();
    ASSERT_EQ(m_form->BindingList().size(), 2u);
    EXPECT_TRUE(m_form->StayOnTop1->isChecked());

    // Timer1 runs the bound scripts: both registers move on their own.
    std::set<int> ramp, sine;
    const TRegisterImage &image = m_form->RegisterImage();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            ramp.insert(image.HoldingRegs[5]);
            sine.insert(image.InputRegs[1]);
            return ramp.size() >= 4 && sine.size() >= 4;
        },
        20000));
    EXPECT_GE(*ramp.rbegin(), RampFrom + 2 * RampStep);

    m_form->StayOnTop1->trigger(); // off again: written as "0"
    m_form->Exit1->trigger();
    EXPECT_TRUE(closed());
    EXPECT_EQ(readAll(ini()).toStdString(), savedSettings("plant.QRL"));
}

TEST_F(LifecycleTest, UnwritableSettingsAreReportedAtExitAndTheWindowStillCloses)
{
    ASSERT_EQ(::chmod(QFile::encodeName(ini()).constData(), 0444), 0);
    start();
    QString error;
    onNextModal<QMessageBox>([&error](QMessageBox *Box) {
        error = Box->text();
        Box->accept();
    });
    m_form->Exit1->trigger();
    EXPECT_EQ(error, QStringLiteral("Unable to write to ") + ini());
    EXPECT_TRUE(closed());
    EXPECT_EQ(readAll(ini()), m_iniPorts);
}

TEST_F(LifecycleTest, TerminateSignalWhileTheExitQuestionIsOpenStillCloses)
{
    start();
    m_form->Profile().ProfileSaved = false;
    QString question;
    onNextModal<QMessageBox>([this, &question](QMessageBox *Box) {
        question = Box->text();
        m_form->CloseWithoutQuestion(); // what the signal handler runs
    });
    m_form->Exit1->trigger();
    EXPECT_EQ(question, QStringLiteral("Profile data not saved. Do you still want to exit?"));
    EXPECT_TRUE(closed());
    EXPECT_EQ(readAll(ini()).toStdString(), savedSettings());
}

TEST_F(LifecycleTest, TerminateSignalDuringANewProfileQuestionLeavesThePortClosed)
{
    start();
    ASSERT_TRUE(m_form->Comm1->IsOpen());
    m_form->Profile().ProfileSaved = false;
    QString question;
    onNextModal<QMessageBox>([this, &question](QMessageBox *Box) {
        question = Box->text();
        m_form->CloseWithoutQuestion();
    });
    // The command goes on after its question returns; the shutdown already ran.
    m_form->NewProfile1->trigger();
    EXPECT_EQ(question,
              QStringLiteral("Profile data not saved. Save current profile before opening?"));
    EXPECT_TRUE(closed());
    EXPECT_EQ(readAll(ini()).toStdString(), savedSettings());
}

TEST_F(LifecycleTest, SecondInstanceOnTheSamePortRunsDisconnected)
{
    start();
    ASSERT_TRUE(m_form->Comm1->IsOpen());
    TMainForm second(nullptr, m_dir.path());
    second.CreateDialogs();
    EXPECT_FALSE(second.Comm1->IsOpen());
    EXPECT_EQ(second.windowTitle(),
              QStringLiteral("Quorlin 1.0 - <UNTITLED.QRL> - Disconnected (COM2)"));
    EXPECT_TRUE(second.Timer1->isActive());
    EXPECT_EQ(m_form->windowTitle(),
              QStringLiteral("Quorlin 1.0 - <UNTITLED.QRL> - Connected to COM2"));
}

TEST_F(LifecycleTest, DialogsAreCreatedAfterTheMainWindowInTheirOrder)
{
    start();
    QStringList order;
    for (QObject *child : m_form->children()) {
        if (qobject_cast<TConfForm *>(child))
            order << QStringLiteral("TConfForm");
        else if (qobject_cast<TAskForm *>(child))
            order << QStringLiteral("TAskForm");
        else if (qobject_cast<TAboutBox *>(child))
            order << QStringLiteral("TAboutBox");
        else if (qobject_cast<TAddSForm *>(child))
            order << QStringLiteral("TAddSForm");
        else if (qobject_cast<TDelSForm *>(child))
            order << QStringLiteral("TDelSForm");
    }
    // The Configuration dialog comes with the main window's start-up.
    EXPECT_EQ(order, (QStringList{"TConfForm", "TAskForm", "TAboutBox", "TAddSForm", "TDelSForm"}));
}

// Last in this file: the application has been asked to quit.
TEST_F(LifecycleTest, EndOfTheSessionClosesWithoutTheQuestion)
{
    start();
    m_form->Profile().ProfileSaved = false;
    // A question that should not come would wait for an answer: give one.
    // The poller lives on the stack, as it may never fire.
    bool asked = false;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&asked] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            asked = true;
            box->button(QMessageBox::No)->click();
        }
    });
    answer.start();
    // What the platform sends when the desktop session ends.
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
    EXPECT_FALSE(asked);
    EXPECT_TRUE(closed());
    EXPECT_EQ(readAll(ini()).toStdString(), savedSettings());
}

} // namespace
