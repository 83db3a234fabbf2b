// SPDX-License-Identifier: MIT
#include "slaves/devicesetup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quorlin
{

QString ReadMapFile(const QString &Path, int SelectedSlave, std::vector<TMapItem> &Items)
{
    Items.clear();
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(Path, file.errorString());
    // A map of 65536 items of every table is far below this.
    constexpr qint64 MaxMapBytes = 64 * 1024 * 1024;
    if (file.size() > MaxMapBytes)
        return QStringLiteral("%1: the file is too large for a map").arg(Path);
    const QByteArray bytes = file.readAll();
    TMapImport map = ReadMapCsv(std::string_view(bytes.constData(), size_t(bytes.size())),
                                SelectedSlave);
    if (!map.Ok)
        return QStringLiteral("%1: %2").arg(Path, QString::fromStdString(map.Error));
    Items = std::move(map.Items);
    return {};
}

QString MapPath(const std::string &Folder, const std::string &Map)
{
    const QString map = QString::fromStdString(Map);
    if (QFileInfo(map).isAbsolute() || Folder.empty())
        return map;
    return QDir(QString::fromStdString(Folder)).filePath(map);
}

void SetUpSlave(TRegisterImage &Image, const TSlaveOptions &Options,
                const std::vector<TMapItem> &Items)
{
    Image.Options = Options;
    int count = Options.Registers;
    for (const TMapItem &item : Items) {
        const bool bits = item.Register.RegType <= RegTypeDiscreteInput;
        const int usual = bits ? BitRegisterCount : WordRegisterCount;
        if (count == 0 && item.Slave == Image.MBid &&
            item.Register.RegAdr + ItemSpan(item) - 1 > usual)
            count = MaxTableRegisters;
    }
    Image.SetRegisterCount(count);
    ApplyMap(Items, Image.MBid, Image, Image.Access);
}

} // namespace quorlin
