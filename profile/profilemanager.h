// SPDX-License-Identifier: MIT
// The current profile with its saved state, the four profile commands of the
// "&File" menu, the settings file "quorlin.ini", and the main window's
// start-up and shutdown sequences. TMainForm owns one TProfileManager and
// forwards its menu and window handlers to it.
#pragma once

#include <QString>
#include <map>

#include "profile/profiledialogs.h"
#include "profile/profileformat.h"
#include "profile/profilehost.h"

namespace quorlin {

inline constexpr const char *ApplicationTitle = "Quorlin 1.0";
inline constexpr const char *UntitledProfileName = "UNTITLED.QRL";
inline constexpr const char *SettingsFileName = "quorlin.ini";
inline constexpr const char *SettingsSection = "General";

// Map= names are relative to the folder the slaves were read from
// (Slaves.Folder); a profile written to ToFolder names the same files from
// there: relative when they lie in it or below, else absolute.
void RebaseMapNames(TProfileSlaves &Slaves, const QString &ToFolder);

class TProfileManager {
public:
    // ProgramDir: where "quorlin.ini" and "UNTITLED.QRL" live (the directory
    // of the executable in the program, a temporary directory in tests).
    TProfileManager(IProfileHost &Host, IProfileDialogs &Dialogs, QString ProgramDir);

    // The profile state. Other commands set ProfileSaved to false after a
    // confirmed change of what a profile stores.
    QString ProfilePath;
    bool ProfileNamed = false;
    bool ProfileSaved = true;
    QString TitleText = QString::fromLatin1(ApplicationTitle);
    // The serial values last read from or written to a profile file.
    TSerialValues SerialValues;
    // The faults of the current profile, as loaded or as last changed.
    TFaultSettings Faults;
    // The slaves' own fault sections ("Faults<N>"), by slave id.
    std::map<int, TFaultSettings> SlaveFaults;
    // The profile's listeners, as loaded or as last changed.
    TNetworkSettings Network;
    // A profile named on the command line: opened at start-up instead of
    // the one "quorlin.ini" names (empty: that one).
    QString StartProfile;

    const QString &ProgramDir() const { return m_programDir; }
    // An installed program keeps quorlin.ini in SettingsDir and the untitled
    // profile in DataDir, where the profile dialogs also start; until this is
    // called both are ProgramDir. Call it before FormCreate.
    void SetUserFolders(const QString &SettingsDir, const QString &DataDir);
    QString UntitledPath() const;
    QString SettingsPath() const;

    // Makes the file at Path the current profile (a new untitled one for an
    // empty path, a new one bearing Path when no such file exists). False
    // when the user kept the current profile at the unsaved-changes question,
    // or asked to save it and the save did not happen, and when the file is
    // no profile or cannot be read (said in an error box before any
    // question); nothing changes then.
    bool LoadProfile(const QString &Path);

    void NewProfile1Click();
    void OpenProfile1Click();
    void SaveProfile1Click();
    void SaveAsProfile1Click();

    // The main window's creation: the ten start-up steps in order.
    void FormCreate();
    // May the main window close? Asks about unsaved changes unless closing unattended.
    bool FormCloseQuery();
    // The shutdown steps; runs once, however often the window reports its close.
    void FormClose();
    void Exit1Click();
    void StayOnTop1Click();

    // Closing when nobody can answer a question (SIGTERM, SIGINT, the end of
    // the desktop session): no unsaved-changes question, and errors of the
    // shutdown go to standard error instead of a message box.
    void CloseUnattended();
    bool Unattended() const { return m_unattended; }
    // Why a profile named on the command line cannot be opened: it exists but
    // is a folder, no profile, or unreadable. Empty for a profile, and for a
    // name where no file is (a new profile bearing that name).
    static QString StartProfileRefusal(const QString &Path);
    // A start that failed on its arguments ends without a trace: the
    // shutdown then leaves quorlin.ini as it was.
    void AbandonStart() { m_keepSettings = true; }
    bool Closed() const { return m_closed; }

private:
    enum class SaveResult { Saved, Cancelled, Failed };
    enum class LoadResult { Loaded, Kept, Refused };
    enum class FileKind { Profile, Missing, Refused };
    LoadResult load(const QString &Path);
    // Reads Path once: a profile (into Document), no such file, or a file
    // that must not become the current profile (Refusal says why).
    static FileKind examine(const QString &Path, TIniDocument &Document, QString &Refusal);
    void reportRefusal(const QString &Refusal);
    SaveResult save();
    SaveResult saveAs();
    void applySerialSettings();
    // ReplaceAll: the file holds the profile only (Save As); else keys are
    // updated where they stand and the rest of the file stays (Save).
    bool writeProfile(const QString &Path, bool ReplaceAll);
    void reportWriteFailure(const QString &Path, const std::string &Detail);
    static QString titleFor(const QString &Path);
    TFileDialogRequest fileRequest(const QString &Title) const;

    IProfileHost &m_host;
    IProfileDialogs &m_dialogs;
    QString m_programDir;
    QString m_settingsDir;
    QString m_dataDir;
    QString m_openDialogFile; // OpenDialog1's file name field: the file chosen last
    bool m_unattended = false;
    bool m_closed = false;
    bool m_keepSettings = false;
};

} // namespace quorlin
