// SPDX-License-Identifier: MIT
// Profiles through real files: what a save writes, what a load makes of any
// content, and the questions and dialogs of the four commands.
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/profile/profilefixture.h"

namespace quorlin::test {
namespace {

const std::string ExampleProfile = "[SerialSettings]\n"
                                   "MBid=1\n"
                                   "SerialPort=2\n"
                                   "BaudRate=5\n"
                                   "DataBits=4\n"
                                   "StopBits=0\n"
                                   "Parity=0\n"
                                   "Handshaking=1\n"
                                   "[Scripts]\n"
                                   "Count=1\n"
                                   "[Script1]\n"
                                   "Name=(Empty Script)\n"
                                   "RegType=4\n"
                                   "RegAdr=1\n"
                                   "Param1=0\n"
                                   "Param2=0\n"
                                   "Param3=0\n";

using ProfileFiles = ProfileTest;

TEST_F(ProfileFiles, NewFileHoldsTheExampleLayoutByteForByte)
{
    m_manager->NewProfile1Click();
    m_host.Bindings = {binding(EmptyScriptName, 4, 1)};
    m_dialogs.Files = {path("new.QRL")};
    m_manager->SaveAsProfile1Click();
    EXPECT_EQ(contents(path("new.QRL")), ExampleProfile);
}

// Save As over an existing file leaves the new profile and nothing of what
// the file held, keeping the file itself where a second name shares it.
struct SaveAsOverRow {
    const char *Name;
    std::string Before;
    bool HardLinked;
};

class SaveAsOver : public ProfileTest, public ::testing::WithParamInterface<SaveAsOverRow>
{
};

TEST_P(SaveAsOver, ReplacesTheWholeFile)
{
    put(path("old.QRL"), GetParam().Before);
    const std::string other = path("other-name.QRL").toStdString();
    if (GetParam().HardLinked) {
        ASSERT_EQ(::link(path("old.QRL").toStdString().c_str(), other.c_str()), 0);
    }
    m_manager->NewProfile1Click();
    m_host.Bindings = {binding(EmptyScriptName, 4, 1)};
    m_dialogs.Files = {path("old.QRL")};
    m_manager->SaveAsProfile1Click();
    EXPECT_EQ(contents(path("old.QRL")), ExampleProfile);
    if (GetParam().HardLinked) {
        EXPECT_EQ(contents(QString::fromStdString(other)), ExampleProfile)
            << "the link was broken";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SaveAsOver,
    ::testing::Values(
        SaveAsOverRow{"Picture", std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13), false},
        SaveAsOverRow{"ProfileWithMoreBindings",
                      "; my notes\n[SerialSettings]\nMBid=7\nBaudRate=9\n[Scripts]\nCount=2\n"
                      "[Script1]\nName=old\n[Script2]\nName=older\n[Extra]\nKey=1\n",
                      false},
        SaveAsOverRow{"HardLinkedProfile", "[SerialSettings]\nMBid=7\n[Other]\nA=1\n", true}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(ProfileFiles, ParityAndStopBitsAreStoredUnderEachOthersKey)
{
    m_host.Dialog = TSerialValues{};
    m_host.Dialog.Parity = 1;   // "Odd"
    m_host.Dialog.StopBits = 2; // "2 Stopbits"
    m_dialogs.Files = {path("swap.QRL")};
    m_manager->SaveAsProfile1Click();
    const auto doc = TIniDocument::Parse(contents(path("swap.QRL")));
    EXPECT_EQ(doc.ReadString("SerialSettings", "StopBits", ""), "1");
    EXPECT_EQ(doc.ReadString("SerialSettings", "Parity", ""), "2");

    m_host.Dialog = TSerialValues{};
    m_dialogs.Files = {path("swap.QRL")};
    m_manager->OpenProfile1Click();
    EXPECT_EQ(m_host.Dialog.Parity, 1);
    EXPECT_EQ(m_host.Dialog.StopBits, 2);
}

TEST_F(ProfileFiles, FileWithOnlyTheSerialSectionGivesTheDefaults)
{
    m_host.Bindings = {binding("x", 4, 1)};
    load("[SerialSettings]\n");
    EXPECT_EQ(m_manager->SerialValues, TSerialValues{});
    const TSerialValues expected{1, 2, 5, 4, 0, 0, 1};
    EXPECT_EQ(m_manager->SerialValues, expected);
    EXPECT_TRUE(m_host.Bindings.empty());
}

TEST_F(ProfileFiles, CountTwoWithScript1AndScript3)
{
    m_host.Scripts = {{"Ramp", "", "", "", "", rampScript}};
    load("[Scripts]\nCount=2\n"
         "[Script1]\nName=Ramp\nRegType=4\nRegAdr=5\nParam1=1\nParam2=2\nParam3=3\n"
         "[Script3]\nName=Sine\nRegType=3\nRegAdr=1\n");
    ASSERT_EQ(m_host.Bindings.size(), 2u);
    EXPECT_EQ(m_host.Bindings[0].Entry, &rampScript);
    EXPECT_EQ(m_host.Bindings[0].RegAdr, 5u);
    EXPECT_EQ(m_host.Bindings[0].Param3, 3);
    const TScriptBinding &second = m_host.Bindings[1];
    EXPECT_EQ(second.Name, "");
    EXPECT_EQ(second.Entry, nullptr);
    EXPECT_EQ(second.RegType, 0);
    EXPECT_EQ(second.RegAdr, 0u);
    EXPECT_EQ(second.Param1 | second.Param2 | second.Param3, 0);
}

TEST_F(ProfileFiles, SavingTwoBindingsOverFiveLeavesTheOldSections)
{
    std::string five = "[Scripts]\nCount=5\n";
    for (int i = 1; i <= 5; ++i)
        five += "[Script" + std::to_string(i) + "]\nName=S" + std::to_string(i) + "\nRegType=4\nRegAdr=" +
                std::to_string(i) + "\n";
    load(five);
    m_host.Bindings.resize(2);
    m_manager->ProfileSaved = false;
    m_manager->SaveProfile1Click();
    EXPECT_TRUE(m_manager->ProfileSaved);
    const auto doc = TIniDocument::Parse(contents(path("p.QRL")));
    EXPECT_EQ(doc.ReadString("Scripts", "Count", ""), "2");
    for (const char *s : {"Script3", "Script4", "Script5"})
        EXPECT_TRUE(doc.SectionExists(s)) << s;
    EXPECT_EQ(doc.ReadString("Script5", "Name", ""), "S5");
    ASSERT_TRUE(m_manager->LoadProfile(path("p.QRL")));
    ASSERT_EQ(m_host.Bindings.size(), 2u);
    EXPECT_EQ(m_host.Bindings[1].Name, "S2");
}

struct ParamRow {
    const char *name;
    const char *value;
    uint16_t loaded;
    const char *savedBack;
};

class ProfileParam : public ProfileTest, public ::testing::WithParamInterface<ParamRow> {};

TEST_P(ProfileParam, LoadsAndSavesBack)
{
    load(std::string("[Scripts]\nCount=1\n[Script1]\nName=Ramp\nRegType=4\nRegAdr=2\nParam1=") +
         GetParam().value + "\n");
    ASSERT_EQ(m_host.Bindings.size(), 1u);
    EXPECT_EQ(m_host.Bindings[0].Param1, GetParam().loaded);
    m_manager->SaveProfile1Click();
    EXPECT_EQ(TIniDocument::Parse(contents(path("p.QRL"))).ReadString("Script1", "Param1", ""),
              GetParam().savedBack);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProfileParam,
                         ::testing::Values(ParamRow{"Hex", "0x10", 16, "16"},
                                           ParamRow{"MinusOne", "-1", 65535, "65535"},
                                           ParamRow{"Word", "abc", 0, "0"},
                                           ParamRow{"Above16Bits", "70000", 4464, "4464"},
                                           ParamRow{"Dollar", "$FFFF", 65535, "65535"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ProfileFiles, ScriptNamesMatchCaseSensitivelyAndAreSavedAsRead)
{
    m_host.Scripts = {{"Ramp", "", "", "", "", rampScript}};
    load("[Scripts]\nCount=3\n[Script1]\nName=ramp\nRegType=4\nRegAdr=1\n"
         "[Script2]\nName=Ramp\nRegType=4\nRegAdr=2\n"
         "[Script3]\nName=(Empty Script)\nRegType=4\nRegAdr=3\n");
    ASSERT_EQ(m_host.Bindings.size(), 3u);
    EXPECT_EQ(m_host.Bindings[0].Entry, nullptr);
    EXPECT_EQ(m_host.Bindings[1].Entry, &rampScript);
    EXPECT_EQ(m_host.Bindings[2].Entry, nullptr);
    m_manager->SaveProfile1Click();
    const auto doc = TIniDocument::Parse(contents(path("p.QRL")));
    EXPECT_EQ(doc.ReadString("Script1", "Name", ""), "ramp");
    EXPECT_EQ(doc.ReadString("Script3", "Name", ""), "(Empty Script)");
}

TEST_F(ProfileFiles, UnknownKeysSectionsAndCommentsSurviveASave)
{
    load("; written by hand\n"
         "[SerialSettings]\n"
         "MBid=9\n"
         "Comment=line 3\n"
         "[Extra]\n"
         "Keep=me\n"
         "[Scripts]\n"
         "; no bindings yet\n"
         "Count=0\n");
    m_host.Dialog = TSerialValues{9, 2, 5, 4, 0, 0, 1}; // as loaded
    m_host.Bindings = {binding("Ramp", 4, 5)};
    m_manager->SaveProfile1Click();
    EXPECT_EQ(contents(path("p.QRL")), "; written by hand\n"
                                       "[SerialSettings]\n"
                                       "MBid=9\n"
                                       "Comment=line 3\n"
                                       "SerialPort=2\n"
                                       "BaudRate=5\n"
                                       "DataBits=4\n"
                                       "StopBits=0\n"
                                       "Parity=0\n"
                                       "Handshaking=1\n"
                                       "[Extra]\n"
                                       "Keep=me\n"
                                       "[Scripts]\n"
                                       "; no bindings yet\n"
                                       "Count=1\n"
                                       "[Script1]\n"
                                       "Name=Ramp\n"
                                       "RegType=4\n"
                                       "RegAdr=5\n"
                                       "Param1=0\n"
                                       "Param2=0\n"
                                       "Param3=0\n");
}

TEST_F(ProfileFiles, ListsWithoutSelectionAreSavedAsMinusOneAndPortAsZero)
{
    m_dialogs.Files = {path("none.QRL")};
    m_manager->SaveAsProfile1Click(); // the fake dialog's lists have no selection
    const auto doc = TIniDocument::Parse(contents(path("none.QRL")));
    EXPECT_EQ(doc.ReadString("SerialSettings", "SerialPort", ""), "0");
    EXPECT_EQ(doc.ReadString("SerialSettings", "BaudRate", ""), "-1");
    EXPECT_EQ(doc.ReadString("SerialSettings", "Handshaking", ""), "-1");
}

TEST_F(ProfileFiles, DamagedCountAndOutOfRangeValuesLoadSafely)
{
    load("[SerialSettings]\nSerialPort=7\nBaudRate=9\nMBid=300\n"
         "[Scripts]\nCount=2147483647\n"
         "[Script1]\nName=" + std::string(400, 'n') + "\nRegType=300\nRegAdr=-5\nParam2=x\n");
    EXPECT_EQ(m_manager->SerialValues.SerialPort, 7);
    EXPECT_EQ(m_manager->SerialValues.BaudRate, 9);
    EXPECT_EQ(m_manager->SerialValues.MBid, 300);
    // Three sections: at most three bindings, the first as read.
    ASSERT_EQ(m_host.Bindings.size(), 3u);
    EXPECT_EQ(m_host.Bindings[0].Name.size(), 255u);
    EXPECT_EQ(m_host.Bindings[0].RegType, 300 & 0xFF);
    EXPECT_EQ(m_host.Bindings[2].Name, "");

    // Two sections: two bindings by position, then only sections that exist.
    load("[Scripts]\nCount=1000000\n[Script99999]\nName=Late\n[Script2000000]\nName=Beyond\n");
    ASSERT_EQ(m_host.Bindings.size(), 4u);
    EXPECT_EQ(m_host.Bindings[0].Name, "");
    EXPECT_EQ(m_host.Bindings[3].Name, "Late");

    load("[Scripts]\nCount=-3\n[Script1]\nName=Ramp\n");
    EXPECT_TRUE(m_host.Bindings.empty());
}

TEST_F(ProfileFiles, WriteFailureReportsThePathAndLeavesTheFileAsItWas)
{
    const std::string before = "[SerialSettings]\nMBid=4\n";
    load(before);
    ASSERT_EQ(::chmod(path("p.QRL").toLocal8Bit().constData(), 0444), 0);
    m_manager->ProfileSaved = false;
    m_manager->SaveProfile1Click();
    EXPECT_EQ(m_dialogs.Errors, std::vector<QString>{"Unable to write to " + path("p.QRL")});
    EXPECT_EQ(contents(path("p.QRL")), before);
    EXPECT_FALSE(m_manager->ProfileSaved);

    // Save As into a missing directory keeps the old path and name.
    const QString missing = path("gone/new.QRL");
    m_dialogs.Files = {missing};
    m_manager->SaveAsProfile1Click();
    EXPECT_EQ(m_dialogs.Errors.back(), "Unable to write to " + missing);
    EXPECT_EQ(m_manager->ProfilePath, path("p.QRL"));
    EXPECT_TRUE(m_manager->ProfileNamed);
    EXPECT_FALSE(m_manager->ProfileSaved);
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST_F(ProfileFiles, OpenKeepsRegistersAndNewClearsThemAndThePendingWrites)
{
    m_host.Image.HoldingRegs[3] = 77;
    m_host.Image.Coils[2048] = 1;
    m_host.Image.QueueWrite(4, 1, 5);
    put(path("p.QRL"), "[SerialSettings]\nMBid=3\n");
    m_dialogs.Files = {path("p.QRL")};
    m_manager->OpenProfile1Click();
    EXPECT_EQ(m_host.Image.HoldingRegs[3], 77);
    EXPECT_EQ(m_host.Image.PendingWrites.size(), 1u);
    EXPECT_EQ(m_host.Dialog.MBid, 3);

    m_manager->NewProfile1Click();
    EXPECT_EQ(m_host.Image.HoldingRegs[3], 0);
    EXPECT_EQ(m_host.Image.Coils[2048], 0);
    EXPECT_TRUE(m_host.Image.PendingWrites.empty());
    EXPECT_EQ(m_host.Dialog, TSerialValues{});
    EXPECT_EQ(m_manager->ProfilePath, path("UNTITLED.QRL"));
    EXPECT_FALSE(m_manager->ProfileNamed);
    EXPECT_EQ(m_manager->TitleText, "Quorlin 1.0 - <UNTITLED.QRL>");
    EXPECT_EQ(m_host.Events.back(), "ApplySerialSettings");
}

// ---------------------------------------------------------------------------
// "Profile data not saved. Save current profile before opening?"

class LoadQuestion : public ProfileTest {
protected:
    void SetUp() override
    {
        ProfileTest::SetUp();
        put(path("other.QRL"), "[SerialSettings]\nMBid=42\n");
        m_host.Bindings = {binding("Ramp", 4, 1)};
        m_host.Dialog = TSerialValues{};
        m_host.Dialog.MBid = 7;
        m_manager->ProfileSaved = false;
    }
    void expectQuestion()
    {
        ASSERT_EQ(m_dialogs.Questions.size(), 1u);
        EXPECT_EQ(m_dialogs.Questions[0].Text,
                  "Profile data not saved. Save current profile before opening?");
        EXPECT_TRUE(m_dialogs.Questions[0].WithCancel);
    }
    void expectNothingChanged(const QString &oldPath)
    {
        EXPECT_EQ(m_host.Bindings.size(), 1u);
        EXPECT_EQ(m_host.Dialog.MBid, 7);
        EXPECT_EQ(m_manager->ProfilePath, oldPath);
        EXPECT_FALSE(m_manager->ProfileSaved);
    }
};

TEST_F(LoadQuestion, CancelKeepsEverything)
{
    m_dialogs.Answers = {TConfirmAnswer::Cancel};
    m_dialogs.Files = {path("other.QRL")};
    m_manager->OpenProfile1Click();
    expectQuestion();
    expectNothingChanged(path("UNTITLED.QRL"));
    EXPECT_EQ(m_dialogs.OpenRequests.size(), 1u); // the file was chosen first
}

TEST_F(LoadQuestion, NoLoadsWithoutSaving)
{
    m_dialogs.Answers = {TConfirmAnswer::No};
    m_dialogs.Files = {path("other.QRL")};
    m_manager->OpenProfile1Click();
    expectQuestion();
    EXPECT_EQ(m_host.Dialog.MBid, 42);
    EXPECT_TRUE(m_host.Bindings.empty());
    EXPECT_TRUE(m_manager->ProfileSaved);
    EXPECT_FALSE(QFileInfo::exists(path("UNTITLED.QRL")));
}

TEST_F(LoadQuestion, YesWhileUntitledSavesThroughSaveAsThenLoads)
{
    m_dialogs.Answers = {TConfirmAnswer::Yes};
    m_dialogs.Files = {path("other.QRL"), path("kept.QRL")};
    m_manager->OpenProfile1Click();
    expectQuestion();
    ASSERT_EQ(m_dialogs.SaveRequests.size(), 1u);
    EXPECT_EQ(TIniDocument::Parse(contents(path("kept.QRL"))).ReadInteger("SerialSettings", "MBid", 0), 7);
    EXPECT_EQ(m_manager->ProfilePath, path("other.QRL"));
    EXPECT_EQ(m_host.Dialog.MBid, 42);
}

TEST_F(LoadQuestion, YesWhileNamedSavesWithoutDialog)
{
    put(path("cur.QRL"), "");
    m_manager->ProfilePath = path("cur.QRL");
    m_manager->ProfileNamed = true;
    m_dialogs.Answers = {TConfirmAnswer::Yes};
    m_manager->NewProfile1Click();
    EXPECT_TRUE(m_dialogs.SaveRequests.empty());
    EXPECT_EQ(TIniDocument::Parse(contents(path("cur.QRL"))).ReadString("Script1", "Name", ""), "Ramp");
    EXPECT_EQ(m_manager->ProfilePath, path("UNTITLED.QRL"));
}

TEST_F(LoadQuestion, YesThenCancelledSaveAsAbandonsTheLoad)
{
    m_dialogs.Answers = {TConfirmAnswer::Yes};
    m_dialogs.Files = {path("other.QRL"), std::nullopt};
    m_manager->OpenProfile1Click();
    expectNothingChanged(path("UNTITLED.QRL"));
}

TEST_F(LoadQuestion, YesThenFailedSaveAbandonsTheLoad)
{
    m_manager->ProfilePath = path("gone/cur.QRL");
    m_manager->ProfileNamed = true;
    m_dialogs.Answers = {TConfirmAnswer::Yes};
    m_manager->NewProfile1Click();
    EXPECT_EQ(m_dialogs.Errors, std::vector<QString>{"Unable to write to " + path("gone/cur.QRL")});
    expectNothingChanged(path("gone/cur.QRL"));
}

// ---------------------------------------------------------------------------
// Opening a file that is no profile

struct ContentRow {
    const char *name;
    std::string bytes;
    bool profile;
};

class OpenContent : public ProfileTest, public ::testing::WithParamInterface<ContentRow> {};

// A refused file changes nothing, asks nothing and is never written; an
// accepted one becomes the current profile.
TEST_P(OpenContent, OnlyAProfileBecomesTheCurrentOne)
{
    load("[SerialSettings]\nMBid=5\n"
         "[Scripts]\nCount=1\n[Script1]\nName=Ramp\nRegType=4\nRegAdr=1\n");
    m_host.Dialog.MBid = 5;
    m_manager->ProfileSaved = false; // a change: a refusal must not even ask about it
    const QString other = path("other.QRL");
    put(other, GetParam().bytes);
    m_host.Events.clear();
    m_dialogs.Files = {other};
    if (GetParam().profile)
        m_dialogs.Answers = {TConfirmAnswer::No};
    m_manager->OpenProfile1Click();

    if (GetParam().profile) {
        EXPECT_TRUE(m_dialogs.Errors.empty());
        EXPECT_EQ(m_manager->ProfilePath, other);
        EXPECT_TRUE(m_manager->ProfileSaved);
        EXPECT_TRUE(m_host.Bindings.empty());
        return;
    }
    EXPECT_EQ(m_dialogs.Errors, std::vector<QString>{"'" + other + "' is not a Quorlin profile."});
    EXPECT_TRUE(m_dialogs.Questions.empty());
    EXPECT_EQ(m_manager->ProfilePath, path("p.QRL"));
    EXPECT_EQ(m_manager->TitleText, "Quorlin 1.0 - <p.QRL>");
    EXPECT_FALSE(m_manager->ProfileSaved);
    ASSERT_EQ(m_host.Bindings.size(), 1u);
    EXPECT_EQ(m_host.Bindings[0].Name, "Ramp");
    EXPECT_EQ(m_host.Dialog.MBid, 5);
    EXPECT_TRUE(m_host.Events.empty()); // neither the dialog nor the port was touched

    // The next save goes to the current profile, never into the refused file.
    m_manager->SaveProfile1Click();
    EXPECT_EQ(contents(other), GetParam().bytes);
    EXPECT_EQ(TIniDocument::Parse(contents(path("p.QRL"))).ReadString("Script1", "Name", ""),
              "Ramp");
}

const char PngStart[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR";

INSTANTIATE_TEST_SUITE_P(
    Rows, OpenContent,
    ::testing::Values(
        ContentRow{"Image", std::string(PngStart, sizeof PngStart - 1), false},
        ContentRow{"TextWithoutSections", "Dear diary,\ntoday MBid=3.\n", false},
        ContentRow{"OtherProgramsIni", "[Desktop Entry]\nName=Quorlin\n", false},
        ContentRow{"Empty", "", false},
        ContentRow{"ProfileHoldingANul", std::string("[SerialSettings]\nMBid=3\n") + '\0' + "x\n",
                   false},
        ContentRow{"SerialSettingsOnly", "[SerialSettings]\n", true},
        ContentRow{"ScriptsInOtherCase", "; by hand\n[ sCRIPTS ]\nCount=0\n", true},
        ContentRow{"LowerCaseSerialSettingsWithCrLf", "[serialsettings]\r\nMBid=2\r\n", true}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// File dialogs

TEST_F(ProfileFiles, SaveAsStartsInTheProgramDirectoryWithTheCurrentFileNameEveryTime)
{
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    m_dialogs.Files = {elsewhere.filePath("plant.QRL"), std::nullopt};
    m_manager->SaveAsProfile1Click();
    m_manager->SaveAsProfile1Click();
    ASSERT_EQ(m_dialogs.SaveRequests.size(), 2u);
    TFileDialogRequest expected;
    expected.Title = "Save profile...";
    expected.Filters = QStringList{"Quorlin Profiles (*.QRL)", "Any files (*)"};
    expected.DefaultSuffix = "QRL";
    expected.Directory = m_dir.path();
    expected.FileName = "UNTITLED.QRL";
    EXPECT_EQ(m_dialogs.SaveRequests[0], expected);
    expected.FileName = "plant.QRL";
    EXPECT_EQ(m_dialogs.SaveRequests[1], expected);
}

TEST_F(ProfileFiles, SaveAsNamesTheProfileAndLaterSavesNeedNoDialog)
{
    m_dialogs.Files = {path("plant.QRL")};
    m_manager->SaveAsProfile1Click();
    EXPECT_EQ(m_manager->TitleText, "Quorlin 1.0 - <plant.QRL>");
    EXPECT_EQ(m_host.Events.back(), "ApplySerialSettings");
    EXPECT_TRUE(m_manager->ProfileNamed);
    m_host.Dialog.MBid = 99;
    m_manager->ProfileSaved = false;
    m_manager->SaveProfile1Click();
    EXPECT_EQ(m_dialogs.SaveRequests.size(), 1u);
    EXPECT_TRUE(m_manager->ProfileSaved);
    EXPECT_EQ(TIniDocument::Parse(contents(path("plant.QRL"))).ReadInteger("SerialSettings", "MBid", 0), 99);
}

TEST_F(ProfileFiles, SaveOnTheUntitledProfileCancelledKeepsTheUnsavedState)
{
    m_manager->ProfileSaved = false;
    m_dialogs.Files = {std::nullopt};
    m_manager->SaveProfile1Click();
    ASSERT_EQ(m_dialogs.SaveRequests.size(), 1u);
    EXPECT_EQ(m_dialogs.SaveRequests[0].FileName, "UNTITLED.QRL");
    EXPECT_FALSE(m_manager->ProfileSaved);
    EXPECT_FALSE(QFileInfo::exists(path("UNTITLED.QRL")));
}

TEST_F(ProfileFiles, OpenDialogStartsInTheProgramDirectoryAndRemembersTheLastFile)
{
    put(path("a.QRL"), "[SerialSettings]\n");
    m_dialogs.Files = {path("a.QRL"), std::nullopt};
    m_manager->OpenProfile1Click();
    m_manager->OpenProfile1Click();
    ASSERT_EQ(m_dialogs.OpenRequests.size(), 2u);
    EXPECT_EQ(m_dialogs.OpenRequests[0].Title, "Open Profile...");
    EXPECT_TRUE(m_dialogs.OpenRequests[0].FileMustExist);
    EXPECT_EQ(m_dialogs.OpenRequests[0].Directory, m_dir.path());
    EXPECT_EQ(m_dialogs.OpenRequests[0].FileName, "");
    EXPECT_EQ(m_dialogs.OpenRequests[1].FileName, path("a.QRL"));
    EXPECT_EQ(m_dialogs.OpenRequests[1].DefaultSuffix, "QRL");
    // The cancelled second dialog changed nothing.
    EXPECT_EQ(m_manager->ProfilePath, path("a.QRL"));
}


// The line's framing: written only when it is ASCII or the file had the key.
struct ModeRow {
    const char *name;
    const char *file;  // the [SerialSettings] lines loaded
    int loaded;        // the mode the dialog gets
    int chosen;        // the mode chosen before saving
    const char *saved; // the key saved back; "" for no key
};

class ProfileMode : public ProfileTest, public ::testing::WithParamInterface<ModeRow> {};

TEST_P(ProfileMode, LoadsAndSavesBack)
{
    load(std::string("[SerialSettings]\nMBid=1\n") + GetParam().file + "[Scripts]\nCount=0\n");
    EXPECT_EQ(m_manager->SerialValues.Mode, GetParam().loaded);
    m_host.Dialog = m_manager->SerialValues;
    m_host.Dialog.Mode = GetParam().chosen;
    m_manager->SaveProfile1Click();
    const auto doc = TIniDocument::Parse(contents(path("p.QRL")));
    EXPECT_EQ(doc.Value("SerialSettings", "Mode").value_or(""), GetParam().saved);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileMode,
    ::testing::Values(ModeRow{"AbsentStaysAbsent", "", 0, 0, ""},
                      ModeRow{"AsciiKept", "Mode=ASCII\n", 1, 1, "ASCII"},
                      ModeRow{"AnyCaseIsAscii", "Mode=ascii\n", 1, 1, "ASCII"},
                      ModeRow{"UnknownIsRtu", "Mode=XYZ\n", 0, 0, "RTU"},
                      ModeRow{"ChosenAsciiIsWritten", "", 0, 1, "ASCII"},
                      ModeRow{"BackToRtuKeepsTheKey", "Mode=ASCII\n", 1, 0, "RTU"}),
    [](const auto &info) { return std::string(info.param.name); });

// Strict framing likewise: written only when chosen or already in the file.
class ProfileFraming : public ProfileTest, public ::testing::WithParamInterface<ModeRow>
{
};

TEST_P(ProfileFraming, LoadsAndSavesBack)
{
    load(std::string("[SerialSettings]\nMBid=1\n") + GetParam().file + "[Scripts]\nCount=0\n");
    EXPECT_EQ(m_manager->SerialValues.Framing, GetParam().loaded);
    m_host.Dialog = m_manager->SerialValues;
    m_host.Dialog.Framing = GetParam().chosen;
    m_manager->SaveProfile1Click();
    const auto doc = TIniDocument::Parse(contents(path("p.QRL")));
    EXPECT_EQ(doc.Value("SerialSettings", "Framing").value_or(""), GetParam().saved);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileFraming,
    ::testing::Values(ModeRow{"AbsentStaysAbsent", "", 0, 0, ""},
                      ModeRow{"AnyCaseIsStrict", "Framing=strict\n", 1, 1, "Strict"},
                      ModeRow{"BackToLengthKeepsTheKey", "Framing=Strict\n", 1, 0, "Length"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace quorlin::test

namespace quorlin::test {
namespace {

// An installed program: quorlin.ini in one folder of the user's, the untitled
// profile and the dialogs' starting folder in another, nothing beside the
// program.
TEST_F(ProfileFiles, UserFoldersTakeTheSettingsTheUntitledProfileAndTheDialogs)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("config")));
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("data")));
    m_manager->SetUserFolders(path("config"), path("data"));
    EXPECT_EQ(m_manager->SettingsPath(), path("config/quorlin.ini"));
    EXPECT_EQ(m_manager->ProfilePath, path("data/UNTITLED.QRL"));
    m_manager->FormCreate();
    m_dialogs.Files = {std::nullopt, std::nullopt};
    m_manager->OpenProfile1Click();
    m_manager->SaveAsProfile1Click();
    ASSERT_EQ(m_dialogs.OpenRequests.size(), 1u);
    ASSERT_EQ(m_dialogs.SaveRequests.size(), 1u);
    EXPECT_EQ(m_dialogs.OpenRequests[0].Directory, path("data"));
    EXPECT_EQ(m_dialogs.SaveRequests[0].Directory, path("data"));
    m_manager->FormClose();
    EXPECT_EQ(contents(path("config/quorlin.ini")),
              "[General]\nStayOnTop=0\nCurrentProfile=" + path("data/UNTITLED.QRL").toStdString() +
                  "\n");
    EXPECT_EQ(contents(path("quorlin.ini")), "<missing>");
}

} // namespace
} // namespace quorlin::test
