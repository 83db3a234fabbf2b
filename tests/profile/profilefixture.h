// SPDX-License-Identifier: MIT
// A main window stand-in and scripted answers for the profile commands.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "profile/profilemanager.h"

namespace quorlin::test
{

inline uint32_t rampScript(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 1;
}

// Records every call in Events so tests can check the order of the steps.
class FakeHost : public IProfileHost
{
  public:
    std::vector<std::string> Events;
    TRegisterImage Image;
    TBindingList Bindings;
    TScriptList Scripts;
    TScriptList LibraryScripts;                     // what LoadScriptLibrary puts into Scripts
    TSerialValues Dialog{0, 0, -1, -1, -1, -1, -1}; // lists without selection
    bool OnTop = false;
    std::function<void()> OnClose;

    QWidget *DialogParent() override { return nullptr; }
    void CreateLists() override { Events.push_back("CreateLists"); }
    TRegisterImage &RegisterImage() override { return Image; }
    TBindingList &BindingList() override { return Bindings; }
    const TScriptList &ScriptList() const override { return Scripts; }
    void LoadScriptLibrary() override
    {
        Events.push_back("LoadScriptLibrary");
        Scripts = LibraryScripts;
    }
    void ClearReceiveBuffer() override { Events.push_back("ClearReceiveBuffer"); }
    bool StayOnTop() const override { return OnTop; }
    void SetStayOnTop(bool On) override
    {
        Events.push_back(On ? "SetStayOnTop(1)" : "SetStayOnTop(0)");
        OnTop = On;
    }
    void CreateConfigDialog() override { Events.push_back("CreateConfigDialog"); }
    void LoadSerialDialog(const TSerialValues &Values) override
    {
        Events.push_back("LoadSerialDialog");
        Dialog = Values;
    }
    TSerialValues ReadSerialDialog() const override { return Dialog; }
    void ApplySerialSettings() override { Events.push_back("ApplySerialSettings"); }
    void StartTimer() override { Events.push_back("StartTimer"); }
    void StopTimer() override { Events.push_back("StopTimer"); }
    void ClosePort() override { Events.push_back("ClosePort"); }
    void ReleaseImage() override { Events.push_back("ReleaseImage"); }
    // Not an event: the order of the start-up steps stays as it was.
    std::vector<TFaultSettings> AppliedFaults;
    void ApplyFaults(const TFaultSettings &Faults) override { AppliedFaults.push_back(Faults); }
    std::vector<std::map<int, TFaultSettings>> AppliedSlaveFaults;
    void ApplySlaveFaults(const std::map<int, TFaultSettings> &Faults) override
    {
        AppliedSlaveFaults.push_back(Faults);
    }
    std::vector<TNetworkSettings> AppliedNetworks;
    void ApplyNetwork(const TNetworkSettings &N) override { AppliedNetworks.push_back(N); }
    void CloseMainWindow() override
    {
        Events.push_back("CloseMainWindow");
        if (OnClose)
            OnClose();
    }
};

struct Question {
    QString Text;
    bool WithCancel;
};

// Answers are taken from the front of the queues; an unexpected question fails the test.
class FakeDialogs : public IProfileDialogs
{
  public:
    std::deque<TConfirmAnswer> Answers;
    std::deque<std::optional<QString>> Files;
    std::vector<Question> Questions;
    std::vector<QString> Errors;
    std::vector<TFileDialogRequest> SaveRequests;
    std::vector<TFileDialogRequest> OpenRequests;

    TConfirmAnswer Confirm(QWidget *, const QString &Text, bool WithCancel) override
    {
        Questions.push_back({Text, WithCancel});
        if (Answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << Text.toStdString();
            return WithCancel ? TConfirmAnswer::Cancel : TConfirmAnswer::No;
        }
        TConfirmAnswer a = Answers.front();
        Answers.pop_front();
        return a;
    }
    void ShowError(QWidget *, const QString &Text) override { Errors.push_back(Text); }
    std::optional<QString> SaveFileName(QWidget *, const TFileDialogRequest &Request) override
    {
        SaveRequests.push_back(Request);
        return next();
    }
    std::optional<QString> OpenFileName(QWidget *, const TFileDialogRequest &Request) override
    {
        OpenRequests.push_back(Request);
        return next();
    }

  private:
    std::optional<QString> next()
    {
        if (Files.empty()) {
            ADD_FAILURE() << "unexpected file dialog";
            return std::nullopt;
        }
        std::optional<QString> f;
        f.swap(Files.front());
        Files.pop_front();
        return f;
    }
};

class ProfileTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_manager = std::make_unique<TProfileManager>(m_host, m_dialogs, m_dir.path());
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    static std::string contents(const QString &p)
    {
        QFile f(p);
        if (!f.open(QIODevice::ReadOnly))
            return "<missing>";
        return f.readAll().toStdString();
    }
    static void put(const QString &p, const std::string &text)
    {
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.data(), qint64(text.size()));
    }
    // A file through LoadProfile, as Open would make it current.
    void load(const std::string &text)
    {
        put(path("p.QRL"), text);
        ASSERT_TRUE(m_manager->LoadProfile(path("p.QRL")));
    }
    static TScriptBinding binding(const std::string &name, uint8_t type, uint32_t adr,
                                  uint16_t p1 = 0, uint16_t p2 = 0, uint16_t p3 = 0)
    {
        return MakeBinding({}, name, type, adr, p1, p2, p3); // no entry
    }

    QTemporaryDir m_dir;
    FakeHost m_host;
    FakeDialogs m_dialogs;
    std::unique_ptr<TProfileManager> m_manager;
};

} // namespace quorlin::test
