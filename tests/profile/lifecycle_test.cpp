// SPDX-License-Identifier: MIT
// Start-up and shutdown of the main window: "quorlin.ini", the order of the
// steps, the close question and Stay On Top.
#include "tests/profile/profilefixture.h"

#include <sys/stat.h>

namespace quorlin::test
{
namespace
{

class Lifecycle : public ProfileTest
{
  protected:
    QString ini() const { return path("quorlin.ini"); }
    // The window's close handling: the question, then the shutdown when allowed.
    void closeAsTheWindowDoes()
    {
        m_host.OnClose = [this] {
            if (m_manager->FormCloseQuery())
                m_manager->FormClose();
        };
    }
};

TEST_F(Lifecycle, FirstStartWithoutSettingsFile)
{
    m_host.Image.InputRegs[256] = 5;
    m_manager->FormCreate();
    const std::vector<std::string> expected = {
        "CreateLists",        "LoadScriptLibrary", "ClearReceiveBuffer",  "SetStayOnTop(0)",
        "CreateConfigDialog", "LoadSerialDialog",  "ApplySerialSettings", "StartTimer"};
    EXPECT_EQ(m_host.Events, expected);
    EXPECT_EQ(m_host.Image.InputRegs[256], 0);
    EXPECT_EQ(m_host.Dialog, TSerialValues{}); // COM2, 9600, 8, Even, 1, Default, id 1
    EXPECT_EQ(m_manager->TitleText, "Quorlin 1.0 - <UNTITLED.QRL>");
    EXPECT_EQ(m_manager->ProfilePath, path("UNTITLED.QRL"));
    EXPECT_FALSE(m_manager->ProfileNamed);
    EXPECT_TRUE(m_manager->ProfileSaved);
    EXPECT_TRUE(m_dialogs.Questions.empty());
    EXPECT_FALSE(QFileInfo::exists(ini())); // read only at start-up
}

TEST_F(Lifecycle, LastProfileFindsTheScriptsOfTheLibraryLoadedBeforeIt)
{
    put(path("plant.QRL"), "[SerialSettings]\nMBid=17\nSerialPort=3\n"
                           "[Scripts]\nCount=1\n[Script1]\nName=Ramp\nRegType=4\nRegAdr=5\n");
    put(ini(), "[General]\nCurrentProfile=" + path("plant.QRL").toStdString() + "\n");
    m_host.LibraryScripts = {{"Ramp", "", "", "", "", rampScript}};
    m_manager->FormCreate();
    ASSERT_EQ(m_host.Bindings.size(), 1u);
    EXPECT_EQ(m_host.Bindings[0].Entry, &rampScript);
    EXPECT_EQ(m_host.Dialog.MBid, 17);
    EXPECT_EQ(m_host.Dialog.SerialPort, 3);
    EXPECT_EQ(m_manager->TitleText, "Quorlin 1.0 - <plant.QRL>");
    EXPECT_TRUE(m_manager->ProfileNamed);
}

struct StayOnTopRow {
    const char *name;
    const char *file;
    bool onTop;
};

class StayOnTopAtStart : public Lifecycle, public ::testing::WithParamInterface<StayOnTopRow>
{
};

TEST_P(StayOnTopAtStart, ReadsTheSetting)
{
    put(ini(), GetParam().file);
    m_manager->FormCreate();
    EXPECT_EQ(m_host.OnTop, GetParam().onTop);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StayOnTopAtStart,
    ::testing::Values(StayOnTopRow{"One", "[General]\nStayOnTop=1\n", true},
                      StayOnTopRow{"Seven", "[General]\nStayOnTop=7\n", true},
                      StayOnTopRow{"Hex", "[general]\nstayontop=0x10\n", true},
                      StayOnTopRow{"Zero", "[General]\nStayOnTop=0\n", false},
                      StayOnTopRow{"Yes", "[General]\nStayOnTop=yes\n", false},
                      StayOnTopRow{"Missing", "[General]\nCurrentProfile=\n", false},
                      StayOnTopRow{"OtherSection", "[Ports]\nStayOnTop=1\n", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Lifecycle, CurrentProfileNamingAMissingFileStartsANewNamedProfile)
{
    const QString gone = path("gone.QRL");
    put(ini(), "[General]\nCurrentProfile=" + gone.toStdString() + "\n");
    m_host.Image.HoldingRegs[1] = 9;
    m_manager->FormCreate();
    EXPECT_TRUE(m_dialogs.Questions.empty());
    EXPECT_TRUE(m_dialogs.Errors.empty());
    EXPECT_EQ(m_manager->ProfilePath, gone);
    EXPECT_TRUE(m_manager->ProfileNamed);
    EXPECT_EQ(m_manager->TitleText, "Quorlin 1.0 - <gone.QRL>");
    EXPECT_EQ(m_host.Dialog, TSerialValues{});
    EXPECT_EQ(m_host.Image.HoldingRegs[1], 0);
    // Save then writes there without a dialog.
    m_manager->SaveProfile1Click();
    EXPECT_TRUE(m_dialogs.SaveRequests.empty());
    EXPECT_TRUE(QFileInfo::exists(gone));
}

TEST_F(Lifecycle, CurrentProfileNamingANonProfileStartsUntitledAndLeavesTheFileAlone)
{
    const QString picture = path("photo.png");
    const std::string bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    put(picture, bytes);
    put(ini(), "[General]\nCurrentProfile=" + picture.toStdString() + "\n");
    m_host.Image.HoldingRegs[1] = 9;
    ::testing::internal::CaptureStderr();
    m_manager->FormCreate();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "quorlin: '" + picture.toStdString() +
                        "' is not a Quorlin profile; starting a new untitled profile\n");
    EXPECT_TRUE(m_dialogs.Errors.empty()); // nobody chose it in this run: no box
    EXPECT_TRUE(m_dialogs.Questions.empty());
    EXPECT_EQ(m_manager->ProfilePath, path("UNTITLED.QRL"));
    EXPECT_FALSE(m_manager->ProfileNamed);
    EXPECT_EQ(m_manager->TitleText, "Quorlin 1.0 - <UNTITLED.QRL>");
    EXPECT_EQ(m_host.Dialog, TSerialValues{});
    EXPECT_EQ(m_host.Image.HoldingRegs[1], 0);

    closeAsTheWindowDoes();
    m_manager->Exit1Click();
    EXPECT_EQ(contents(picture), bytes);
    EXPECT_EQ(TIniDocument::Parse(contents(ini())).ReadString("General", "CurrentProfile", ""),
              path("UNTITLED.QRL").toStdString());
}

TEST_F(Lifecycle, ClosingWithoutUnsavedChangesAsksNothingAndRunsTheShutdown)
{
    put(ini(), "; settings\n[Ports]\nCOM2=/dev/ttyUSB0\n[General]\nOld=1\n");
    m_manager->FormCreate();
    m_host.Events.clear();
    m_host.OnTop = true;
    ASSERT_TRUE(m_manager->FormCloseQuery());
    m_manager->FormClose();
    EXPECT_TRUE(m_dialogs.Questions.empty());
    EXPECT_EQ(m_host.Events, (std::vector<std::string>{"StopTimer", "ClosePort", "ReleaseImage"}));
    EXPECT_EQ(contents(ini()), "; settings\n[Ports]\nCOM2=/dev/ttyUSB0\n[General]\nOld=1\n"
                               "StayOnTop=1\nCurrentProfile=" +
                                   path("UNTITLED.QRL").toStdString() + "\n");
    // A second close report does not run the steps again.
    m_manager->FormClose();
    EXPECT_EQ(m_host.Events.size(), 3u);
}

TEST_F(Lifecycle, NoToTheExitQuestionKeepsEverythingRunning)
{
    m_manager->FormCreate();
    m_manager->ProfileSaved = false;
    m_host.Events.clear();
    m_dialogs.Answers = {TConfirmAnswer::No};
    EXPECT_FALSE(m_manager->FormCloseQuery());
    ASSERT_EQ(m_dialogs.Questions.size(), 1u);
    EXPECT_EQ(m_dialogs.Questions[0].Text, "Profile data not saved. Do you still want to exit?");
    EXPECT_FALSE(m_dialogs.Questions[0].WithCancel);
    EXPECT_TRUE(m_host.Events.empty());
    EXPECT_FALSE(m_manager->ProfileSaved);
}

TEST_F(Lifecycle, YesToTheExitQuestionClosesWithoutSavingAndRecordsThePath)
{
    put(path("plant.QRL"), "[SerialSettings]\nMBid=3\n");
    put(ini(), "[General]\nCurrentProfile=" + path("plant.QRL").toStdString() + "\n");
    m_manager->FormCreate();
    m_host.Dialog.MBid = 200;
    m_manager->ProfileSaved = false;
    m_dialogs.Answers = {TConfirmAnswer::Yes};
    ASSERT_TRUE(m_manager->FormCloseQuery());
    m_manager->FormClose();
    EXPECT_EQ(contents(path("plant.QRL")), "[SerialSettings]\nMBid=3\n");
    EXPECT_EQ(TIniFile(ini().toStdString()).ReadString("General", "CurrentProfile", ""),
              path("plant.QRL").toStdString());
}

TEST_F(Lifecycle, UnwritableSettingsFileIsReportedAndShutdownCompletes)
{
    put(ini(), "[General]\nStayOnTop=1\n");
    ASSERT_EQ(::chmod(ini().toLocal8Bit().constData(), 0444), 0);
    m_manager->FormCreate();
    m_host.Events.clear();
    m_manager->FormClose();
    EXPECT_EQ(m_dialogs.Errors, std::vector<QString>{"Unable to write to " + ini()});
    EXPECT_EQ(m_host.Events, (std::vector<std::string>{"StopTimer", "ClosePort", "ReleaseImage"}));
    EXPECT_EQ(contents(ini()), "[General]\nStayOnTop=1\n");
}

TEST_F(Lifecycle, UnattendedCloseAsksNothingShowsNothingAndStillWritesTheSettings)
{
    m_manager->FormCreate();
    m_manager->ProfileSaved = false;
    closeAsTheWindowDoes();
    m_manager->CloseUnattended();
    EXPECT_TRUE(m_dialogs.Questions.empty());
    EXPECT_TRUE(m_manager->Closed());
    EXPECT_EQ(TIniFile(ini().toStdString()).ReadString("General", "CurrentProfile", ""),
              path("UNTITLED.QRL").toStdString());
}

TEST_F(Lifecycle, UnattendedCloseWithUnwritableSettingsShowsNoBox)
{
    put(ini(), "");
    ASSERT_EQ(::chmod(ini().toLocal8Bit().constData(), 0444), 0);
    m_manager->FormCreate();
    closeAsTheWindowDoes();
    m_manager->CloseUnattended();
    EXPECT_TRUE(m_dialogs.Errors.empty());
    EXPECT_EQ(m_host.Events.back(), "ReleaseImage");
}

TEST_F(Lifecycle, ExitClosesTheWindowThroughTheUsualCloseHandling)
{
    m_manager->FormCreate();
    m_manager->ProfileSaved = false;
    m_dialogs.Answers = {TConfirmAnswer::No};
    closeAsTheWindowDoes();
    m_manager->Exit1Click();
    EXPECT_EQ(m_dialogs.Questions.size(), 1u);
    EXPECT_FALSE(m_manager->Closed());
}

TEST_F(Lifecycle, StayOnTopTwiceRestoresTheStateAndLeavesTheProfileAlone)
{
    m_manager->FormCreate();
    m_manager->ProfileSaved = false;
    m_manager->StayOnTop1Click();
    EXPECT_TRUE(m_host.OnTop);
    m_manager->StayOnTop1Click();
    EXPECT_FALSE(m_host.OnTop);
    EXPECT_FALSE(m_manager->ProfileSaved);
    m_manager->ProfileSaved = true;
    m_manager->StayOnTop1Click();
    EXPECT_TRUE(m_manager->ProfileSaved);
}

TEST_F(Lifecycle, UntitledPathRecordedAtCloseIsANamedProfileAtTheNextStart)
{
    m_manager->FormCreate();
    m_manager->FormClose();
    TProfileManager next(m_host, m_dialogs, m_dir.path());
    next.FormCreate();
    EXPECT_TRUE(next.ProfileNamed);
    EXPECT_EQ(next.ProfilePath, path("UNTITLED.QRL"));
    next.SaveProfile1Click();
    EXPECT_TRUE(m_dialogs.SaveRequests.empty());
    EXPECT_TRUE(QFileInfo::exists(path("UNTITLED.QRL")));
}

} // namespace
} // namespace quorlin::test
