// SPDX-License-Identifier: MIT
#include "registers/valuesfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "profile/profiledialogs.h"
#include "registers/registersource.h"

namespace quorlin
{

namespace
{

// Every register of all 255 possible slaves takes about 25 MB; anything far
// larger is not a values file, and is not read into memory.
constexpr qint64 LargestValuesFile = 64 * 1024 * 1024;

TFileDialogRequest valuesDialog(const QString &Title, const QString &Directory, bool MustExist)
{
    TFileDialogRequest r;
    r.Title = Title;
    r.Filters = {QStringLiteral("Register values (*.csv)"), QStringLiteral("All files (*)")};
    r.DefaultSuffix = QStringLiteral("csv");
    r.Directory = Directory;
    r.FileMustExist = MustExist;
    return r;
}

} // namespace

std::string ExportValuesText(const IRegisterSource &Source)
{
    const std::vector<TSlaveImage> slaves = Source.Slaves();
    return WriteValuesCsv(slaves);
}

TValuesImport CheckValuesText(std::string_view Text, IRegisterSource &Source)
{
    return ReadValuesCsv(Text, Source.SelectedSlave(),
                         [&Source](int Id) { return Source.SlaveImage(Id) != nullptr; });
}

QString ExportValuesFile(const QString &Path, const IRegisterSource &Source)
{
    const std::string csv = ExportValuesText(Source);
    // A failed write leaves an older file as it was.
    QSaveFile file(Path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(csv.data(), qint64(csv.size())) != qint64(csv.size()) || !file.commit())
        return QStringLiteral("Unable to write to %1").arg(Path);
    return {};
}

QString ImportValuesFile(const QString &Path, IRegisterSource &Source)
{
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Unable to read %1: %2").arg(Path, file.errorString());
    if (file.size() > LargestValuesFile)
        return QStringLiteral("%1 is too large for a register values file").arg(Path);
    const QByteArray data = file.read(LargestValuesFile + 1);
    if (data.size() > LargestValuesFile)
        return QStringLiteral("%1 is too large for a register values file").arg(Path);
    const TValuesImport in =
        CheckValuesText(std::string_view(data.constData(), size_t(data.size())), Source);
    if (!in.Ok)
        return QStringLiteral("%1: %2").arg(Path, QString::fromStdString(in.Error));
    for (const TValueEntry &e : in.Entries)
        Source.SlaveImage(e.Slave)->QueueWrite(e.Register.RegType, e.Register.RegAdr, e.Value);
    return {};
}

void ExportValuesCommand(QWidget *Parent, const IRegisterSource &Source, IProfileDialogs &Dialogs,
                         QString &Directory)
{
    const auto path = Dialogs.SaveFileName(
        Parent, valuesDialog(QStringLiteral("Export Values"), Directory, false));
    if (!path)
        return;
    Directory = QFileInfo(*path).absolutePath();
    const QString error = ExportValuesFile(*path, Source);
    if (!error.isEmpty())
        Dialogs.ShowError(Parent, error);
}

void ImportValuesCommand(QWidget *Parent, IRegisterSource &Source, IProfileDialogs &Dialogs,
                         QString &Directory)
{
    const auto path = Dialogs.OpenFileName(
        Parent, valuesDialog(QStringLiteral("Import Values"), Directory, true));
    if (!path)
        return;
    Directory = QFileInfo(*path).absolutePath();
    const QString error = ImportValuesFile(*path, Source);
    if (!error.isEmpty())
        Dialogs.ShowError(Parent, error);
}

} // namespace quorlin
