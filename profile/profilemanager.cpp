// SPDX-License-Identifier: MIT
#include "profile/profilemanager.h"

#include <mutex>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/inifile.h"
#include "profile/faultformat.h"
#include "profile/networkformat.h"

namespace quorlin {

namespace {

const QString NotSavedBeforeOpening =
    QStringLiteral("Profile data not saved. Save current profile before opening?");
const QString NotSavedBeforeExit = QStringLiteral("Profile data not saved. Do you still want to exit?");

// File names go to the platform layer in the file system's own encoding.
std::string toNative(const QString &Path) { return QFile::encodeName(Path).toStdString(); }
QString fromNative(const std::string &Path)
{
    return QFile::decodeName(QByteArray(Path.data(), qsizetype(Path.size())));
}

} // namespace

TProfileManager::TProfileManager(IProfileHost &Host, IProfileDialogs &Dialogs, QString ProgramDir)
    : m_host(Host), m_dialogs(Dialogs), m_programDir(std::move(ProgramDir)),
      m_settingsDir(m_programDir), m_dataDir(m_programDir)
{
    ProfilePath = UntitledPath();
}

void TProfileManager::SetUserFolders(const QString &SettingsDir, const QString &DataDir)
{
    m_settingsDir = SettingsDir;
    m_dataDir = DataDir;
    ProfilePath = UntitledPath();
}

QString TProfileManager::UntitledPath() const
{
    return QDir(m_dataDir).filePath(QString::fromLatin1(UntitledProfileName));
}

QString TProfileManager::SettingsPath() const
{
    return QDir(m_settingsDir).filePath(QString::fromLatin1(SettingsFileName));
}

QString TProfileManager::titleFor(const QString &Path)
{
    return QString::fromLatin1(ApplicationTitle) + QStringLiteral(" - <") +
           QFileInfo(Path).fileName() + QStringLiteral(">");
}

TFileDialogRequest TProfileManager::fileRequest(const QString &Title) const
{
    TFileDialogRequest r;
    r.Title = Title;
    // "Any files" is "*" here: on this platform many files have no extension.
    r.Filters = {QStringLiteral("Quorlin Profiles (*.QRL)"), QStringLiteral("Any files (*)")};
    r.DefaultSuffix = QStringLiteral("QRL");
    r.Directory = m_dataDir;
    return r;
}

void TProfileManager::reportWriteFailure(const QString &Path, const std::string &Detail)
{
    const QString text = QStringLiteral("Unable to write to %1").arg(Path);
    if (m_unattended) {
        std::fprintf(stderr, "quorlin: %s: %s\n", text.toLocal8Bit().constData(), Detail.c_str());
        return;
    }
    m_dialogs.ShowError(m_host.DialogParent(), text);
}

void RebaseMapNames(TProfileSlaves &Slaves, const QString &ToFolder)
{
    const QString from = QString::fromStdString(Slaves.Folder);
    const QDir to(ToFolder);
    for (auto &[id, o] : Slaves.Options) {
        const QString name = QString::fromStdString(o.Map);
        const bool relative = QFileInfo(name).isRelative();
        if (name.isEmpty() || (relative && (from.isEmpty() || QDir(from) == to)))
            continue; // nothing to name, or named as the file already has it
        const QString absolute = relative ? QDir::cleanPath(QDir(from).absoluteFilePath(name)) : name;
        const QString inside = to.relativeFilePath(absolute);
        if (!inside.startsWith(QStringLiteral("..")) && QFileInfo(inside).isRelative())
            o.Map = inside.toStdString();
        else
            o.Map = absolute.toStdString();
    }
}

bool TProfileManager::writeProfile(const QString &Path, bool ReplaceAll)
{
    SerialValues = m_host.ReadSerialDialog();
    TIniFile file(toNative(Path));
    // Keys of several slaves are written where the file already has them,
    // so that none is left stale; a file that cannot be read has none, and
    // neither has one whose content is replaced.
    const TIniDocument existing = ReplaceAll ? TIniDocument() : file.Load();
    TProfileSlaves slaves = m_host.ReadSlaves();
    RebaseMapNames(slaves, QFileInfo(Path).absolutePath());
    std::vector<TIniEntry> entries =
        ProfileEntries(SerialValues, m_host.BindingList(), slaves, existing);
    if (FaultsToBeSaved(Faults, existing)) {
        const std::vector<TIniEntry> faults = FaultEntries(Faults);
        entries.insert(entries.end(), faults.begin(), faults.end());
        const std::vector<TIniEntry> aim = FaultTextEntries(Faults, FaultsSection, existing);
        entries.insert(entries.end(), aim.begin(), aim.end());
    }
    const std::vector<TIniEntry> slaveFaults = SlaveFaultEntries(SlaveFaults, existing);
    entries.insert(entries.end(), slaveFaults.begin(), slaveFaults.end());
    if (NetworkToBeSaved(Network, existing)) {
        const std::vector<TIniEntry> network = NetworkEntries(Network);
        entries.insert(entries.end(), network.begin(), network.end());
    }
    if (!(ReplaceAll ? file.Replace(entries) : file.Write(entries))) {
        reportWriteFailure(Path, file.LastError());
        return false;
    }
    return true;
}

TProfileManager::SaveResult TProfileManager::save()
{
    if (!ProfileNamed)
        return saveAs();
    if (!writeProfile(ProfilePath, false))
        return SaveResult::Failed;
    ProfileSaved = true;
    return SaveResult::Saved;
}

TProfileManager::SaveResult TProfileManager::saveAs()
{
    TFileDialogRequest request = fileRequest(QStringLiteral("Save profile..."));
    request.FileName = QFileInfo(ProfilePath).fileName();
    const std::optional<QString> chosen = m_dialogs.SaveFileName(m_host.DialogParent(), request);
    if (!chosen)
        return SaveResult::Cancelled;
    // A save that fails keeps the profile where it was, so the next Save does
    // not go silently to a file that could not be written. The chosen file
    // gets the profile and nothing else: keys merged into what it held
    // would keep old bindings and sections, or turn another kind of file
    // into one that opens as neither.
    if (!writeProfile(*chosen, true))
        return SaveResult::Failed;
    ProfilePath = *chosen;
    ProfileNamed = true;
    ProfileSaved = true;
    TitleText = titleFor(ProfilePath);
    applySerialSettings();
    return SaveResult::Saved;
}

void TProfileManager::SaveProfile1Click() { save(); }

void TProfileManager::SaveAsProfile1Click() { saveAs(); }

TProfileManager::FileKind TProfileManager::examine(const QString &Path, TIniDocument &Document,
                                                   QString &Refusal)
{
    const QFileInfo info(Path);
    // A directory is no file: like a missing one it gives a new profile
    // bearing that name (which then cannot be saved there).
    if (Path.isEmpty() || !info.exists() || info.isDir())
        return FileKind::Missing;
    std::string text;
    const int err = TIniFile(toNative(Path)).ReadText(text);
    if (err == ENOENT)
        return FileKind::Missing;
    // A device, a FIFO or a file larger than any profile is no profile; a
    // file that cannot be read may be one, so the reason is given instead.
    if (err != 0 && err != EINVAL && err != EFBIG) {
        Refusal = QStringLiteral("Unable to read %1").arg(Path) + QStringLiteral(": ") +
                  QString::fromLocal8Bit(std::strerror(err));
        return FileKind::Refused;
    }
    std::optional<TIniDocument> document;
    if (err == 0)
        document = ParseProfileText(text);
    if (!document) {
        Refusal = QStringLiteral("'%1' is not a Quorlin profile.").arg(Path);
        return FileKind::Refused;
    }
    Document = std::move(*document);
    return FileKind::Profile;
}

QString TProfileManager::StartProfileRefusal(const QString &Path)
{
    if (QFileInfo(Path).isDir())
        return QStringLiteral("'%1' is a folder, not a Quorlin profile").arg(Path);
    TIniDocument document;
    QString refusal;
    if (examine(Path, document, refusal) != FileKind::Refused)
        return {};
    if (refusal.endsWith(QLatin1Char('.')))
        refusal.chop(1);
    return refusal;
}

void TProfileManager::reportRefusal(const QString &Refusal)
{
    m_dialogs.ShowError(m_host.DialogParent(), Refusal);
}

bool TProfileManager::LoadProfile(const QString &Path) { return load(Path) == LoadResult::Loaded; }

TProfileManager::LoadResult TProfileManager::load(const QString &Path)
{
    // Checked before the unsaved-changes question: a file that will not be
    // opened must not cost the user an answer or a save.
    TIniDocument document;
    QString refusal;
    FileKind kind = examine(Path, document, refusal);
    if (kind == FileKind::Refused) {
        reportRefusal(refusal);
        return LoadResult::Refused;
    }

    if (!ProfileSaved) {
        switch (m_dialogs.Confirm(m_host.DialogParent(), NotSavedBeforeOpening, true)) {
        case TConfirmAnswer::Cancel:
            return LoadResult::Kept;
        case TConfirmAnswer::No:
            break;
        case TConfirmAnswer::Yes:
            // The user asked to keep the changes: when they were not saved
            // (dialog cancelled, write failed) they are not thrown away either.
            if (save() != SaveResult::Saved)
                return LoadResult::Kept;
            // The save may have written the very file being opened.
            kind = examine(Path, document, refusal);
            if (kind == FileKind::Refused) {
                reportRefusal(refusal);
                return LoadResult::Refused;
            }
            break;
        }
    }

    TBindingList &bindings = m_host.BindingList();
    bindings.clear();
    if (kind == FileKind::Profile) {
        // Register values are not part of a profile: the image stays as it is.
        const TProfileContent content = ReadProfile(document);
        SerialValues = content.Serial;
        Faults = ReadFaults(document).value_or(TFaultSettings{});
        SlaveFaults = ReadSlaveFaults(document);
        Network = ReadNetwork(document).value_or(TNetworkSettings{});
        bindings = MakeBindings(m_host.ScriptList(), content.Bindings);
        TProfileSlaves slaves = content.Slaves;
        slaves.Folder = QFileInfo(Path).absolutePath().toStdString();
        m_host.LoadSlaves(SerialValues.MBid, slaves, false);
    } else {
        TRegisterImage &image = m_host.RegisterImage();
        image.ClearPendingWrites();
        SerialValues = TSerialValues{};
        Faults = TFaultSettings{};
        SlaveFaults.clear();
        Network = TNetworkSettings{};
        {
            // The engine may be answering from these tables right now.
            std::lock_guard<std::mutex> lock(image.ImageLock);
            image.ClearImage();
        }
        m_host.LoadSlaves(SerialValues.MBid, TProfileSlaves{}, true);
    }
    m_host.ApplyFaults(Faults);
    m_host.ApplySlaveFaults(SlaveFaults);
    m_host.ApplyNetwork(Network);
    ProfileSaved = true;
    if (!Path.isEmpty()) {
        ProfilePath = Path;
        ProfileNamed = true;
    } else {
        ProfilePath = UntitledPath();
        ProfileNamed = false;
    }
    TitleText = titleFor(ProfilePath);
    return LoadResult::Loaded;
}

// A terminate signal can end a command's question or file dialog and run the
// shutdown before the command goes on; nothing may reopen the port then.
void TProfileManager::applySerialSettings()
{
    if (!m_closed)
        m_host.ApplySerialSettings();
}

void TProfileManager::NewProfile1Click()
{
    if (LoadProfile(QString()))
        m_host.LoadSerialDialog(SerialValues);
    applySerialSettings();
}

void TProfileManager::OpenProfile1Click()
{
    TFileDialogRequest request = fileRequest(QStringLiteral("Open Profile..."));
    request.FileName = m_openDialogFile;
    request.FileMustExist = true;
    const std::optional<QString> chosen = m_dialogs.OpenFileName(m_host.DialogParent(), request);
    if (!chosen)
        return;
    m_openDialogFile = *chosen;
    switch (load(*chosen)) {
    case LoadResult::Refused:
        return; // nothing changed: not the profile, not the port, not the caption
    case LoadResult::Loaded:
        m_host.LoadSerialDialog(SerialValues);
        break;
    case LoadResult::Kept:
        break;
    }
    applySerialSettings();
}

void TProfileManager::FormCreate()
{
    // 1. The profile state of a program that has loaded nothing yet.
    TitleText = QString::fromLatin1(ApplicationTitle);
    ProfileSaved = true;
    ProfilePath = UntitledPath();
    ProfileNamed = false;
    // 2. Image lock, pending writes, bindings, available scripts.
    m_host.CreateLists();
    // 3.
    {
        TRegisterImage &image = m_host.RegisterImage();
        std::lock_guard<std::mutex> lock(image.ImageLock);
        image.ClearImage();
    }
    // 4. Before the profile, so its bindings find their scripts.
    m_host.LoadScriptLibrary();
    // 5.
    m_host.ClearReceiveBuffer();
    // 6. A missing or unreadable settings file reads as an empty one.
    const TIniDocument settings = TIniFile(toNative(SettingsPath())).Load();
    m_host.SetStayOnTop(settings.ReadBool(SettingsSection, "StayOnTop", false));
    const QString current =
        !StartProfile.isEmpty()
            ? StartProfile
            : fromNative(settings.ReadString(SettingsSection, "CurrentProfile", ""));
    // 7. ProfileSaved is true, so no question can come up here. A file
    // there that is no profile is left alone: nobody is asked at start-up
    // (also for one named on the command line), so it is said on standard
    // error and a new untitled profile begins.
    TIniDocument document;
    QString refusal;
    if (examine(current, document, refusal) == FileKind::Refused) {
        if (refusal.endsWith(QLatin1Char('.')))
            refusal.chop(1);
        std::fprintf(stderr, "quorlin: %s; starting a new untitled profile\n",
                     refusal.toLocal8Bit().constData());
        LoadProfile(QString());
    } else {
        LoadProfile(current);
    }
    // 8.
    m_host.CreateConfigDialog();
    m_host.LoadSerialDialog(SerialValues);
    // 9.
    m_host.ApplySerialSettings();
    // 10.
    m_host.StartTimer();
}

bool TProfileManager::FormCloseQuery()
{
    if (m_closed || m_unattended || ProfileSaved)
        return true;
    const bool yes =
        m_dialogs.Confirm(m_host.DialogParent(), NotSavedBeforeExit, false) == TConfirmAnswer::Yes;
    // A terminate signal served while the question was open closes all the
    // same: its own close request found this one in progress and left the
    // decision to it.
    return yes || m_unattended;
}

void TProfileManager::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    // Tick and port stop before anything they use goes away.
    m_host.StopTimer();
    m_host.ClosePort();
    if (m_keepSettings) {
        m_host.ReleaseImage();
        return;
    }
    TIniFile settings(toNative(SettingsPath()));
    const bool written = settings.Write({
        {SettingsSection, "StayOnTop", m_host.StayOnTop() ? "1" : "0"},
        {SettingsSection, "CurrentProfile", toNative(ProfilePath)},
    });
    // The program closes all the same, and the last step still runs.
    if (!written)
        reportWriteFailure(SettingsPath(), settings.LastError());
    m_host.ReleaseImage();
}

void TProfileManager::Exit1Click() { m_host.CloseMainWindow(); }

void TProfileManager::CloseUnattended()
{
    m_unattended = true;
    m_host.CloseMainWindow();
}

void TProfileManager::StayOnTop1Click() { m_host.SetStayOnTop(!m_host.StayOnTop()); }

} // namespace quorlin
