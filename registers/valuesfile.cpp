// SPDX-License-Identifier: MIT
#include "registers/valuesfile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include "platform/inifile.h"
#include "profile/profiledialogs.h"
#include "registers/registersource.h"

namespace quorlin
{

namespace
{

// Every register of all 255 possible slaves of the usual sizes takes about
// 25 MB; anything far larger is not a values file, and is not read into
// memory.
constexpr qint64 LargestValuesFile = 64 * 1024 * 1024;
// The longest line an export writes ("255,4x65536,65535" and CRLF) with room
// for spaces and quotes.
constexpr qint64 LongestValuesLine = 32;

// Slaves that serve more registers export more: the program must read back
// what it wrote.
qint64 largestValuesFile(IRegisterSource &Source)
{
    qint64 registers = 0;
    for (int id = 1; id <= 255; ++id)
        if (const TRegisterImage *image = Source.SlaveImage(id))
            for (const int32_t type :
                 {RegTypeCoil, RegTypeDiscreteInput, RegTypeInputReg, RegTypeHoldingReg})
                registers += image->TableSize(type);
    return std::max(LargestValuesFile, registers * LongestValuesLine);
}

TFileDialogRequest valuesDialog(const QString &Title, const QString &Directory, bool MustExist)
{
    return CsvFileDialog(Title, QStringLiteral("Register values"), Directory, MustExist);
}

} // namespace

std::string ExportValuesText(const IRegisterSource &Source)
{
    const std::vector<TSlaveImage> slaves = Source.Slaves();
    return WriteValuesCsv(slaves);
}

TValuesImport CheckValuesText(std::string_view Text, IRegisterSource &Source)
{
    return ReadValuesCsv(Text, Source.SelectedSlave(), [&Source](int Id, int32_t RegType) {
        const TRegisterImage *image = Source.SlaveImage(Id);
        return image ? image->TableSize(RegType) : 0;
    });
}

QString ExportValuesFile(const QString &Path, const IRegisterSource &Source)
{
    const std::string csv = ExportValuesText(Source);
    // Saved as profiles are: a failed write leaves an older file as it was,
    // and one with other names (hard links), in a folder we may not write, or
    // of another owner is rewritten where it is.
    std::string error;
    if (!ReplaceFileText(QFile::encodeName(Path).toStdString(), csv, error))
        return QStringLiteral("Unable to write to %1").arg(Path);
    return {};
}

QString ImportValuesFile(const QString &Path, IRegisterSource &Source)
{
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Unable to read %1: %2").arg(Path, file.errorString());
    const qint64 largest = largestValuesFile(Source);
    if (file.size() > largest)
        return QStringLiteral("%1 is too large for a register values file").arg(Path);
    const QByteArray data = file.read(largest + 1);
    if (data.size() > largest)
        return QStringLiteral("%1 is too large for a register values file").arg(Path);
    const TValuesImport in =
        CheckValuesText(std::string_view(data.constData(), size_t(data.size())), Source);
    if (!in.Ok)
        return QStringLiteral("%1: %2").arg(Path, QString::fromStdString(in.Error));
    for (const TValueEntry &e : in.Entries)
        Source.SlaveImage(e.Slave)->QueueWrite(e.Register.RegType, e.Register.RegAdr, e.Value);
    return {};
}

QString ReplaceQuestion(const QString &Path)
{
    return QStringLiteral("%1 already exists.\nDo you want to replace it?")
        .arg(QFileInfo(Path).fileName());
}

void ExportValuesCommand(QWidget *Parent, const IRegisterSource &Source, IProfileDialogs &Dialogs,
                         QString &Directory)
{
    const auto path = Dialogs.SaveFileName(
        Parent, valuesDialog(QStringLiteral("Export Values"), Directory, false));
    if (!path)
        return;
    Directory = QFileInfo(*path).absolutePath();
    // The file dialog leaves this question to us, as it does for profiles;
    // unlike a profile, an export is never expected to land on a file.
    if (QFileInfo::exists(*path) &&
        Dialogs.Confirm(Parent, ReplaceQuestion(*path), false) != TConfirmAnswer::Yes)
        return;
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
