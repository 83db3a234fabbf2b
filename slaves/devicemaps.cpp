// SPDX-License-Identifier: MIT
#include "slaves/devicemaps.h"

#include <QDir>
#include <QFileInfo>

#include <set>

#include "platform/inifile.h"
#include "profile/profiledialogs.h"
#include "slaves/devicesetup.h"
#include "slaves/slaveoptionsform.h"

namespace quorlin
{

namespace
{

TFileDialogRequest mapDialog(const QString &Title, const QString &Directory, bool Open)
{
    return CsvFileDialog(Title, QStringLiteral("Device maps"), Directory, Open);
}

} // namespace

void ApplyDevice(TSlaveSet &Slaves, TRegisterImage &Image, const TSlaveOptions &Options,
                 std::vector<TMapItem> Items, TSlaveDisplay &Display, bool StoreValues)
{
    std::erase_if(Items, [&](const TMapItem &i) { return i.Slave != Image.MBid; });
    {
        std::lock_guard<std::mutex> lock(Slaves.Lock());
        if (StoreValues) {
            SetUpSlave(Image, Options, Items);
        } else {
            // The registers keep what a master or the user gave them, as far
            // as the new sizes reach.
            TRegisterTables kept = Image;
            SetUpSlave(Image, Options, Items);
            const bool usual = Image.TableSize(RegTypeCoil) == BitRegisterCount &&
                               Image.TableSize(RegTypeHoldingReg) == WordRegisterCount;
            kept.SetRegisterCount(usual ? 0 : Image.TableSize(RegTypeHoldingReg));
            static_cast<TRegisterTables &>(Image) = kept;
        }
    }
    Display.SetMap(std::move(Items));
}

std::vector<TMapItem> CollectMaps(const TSlaveSet &Slaves, const TSlaveDisplays &Displays)
{
    std::vector<TMapItem> all;
    for (int i = 0; i < Slaves.Count(); ++i) {
        const TRegisterImage &image = Slaves.At(i);
        if (const TSlaveDisplay *d = Displays.Find(&image))
            for (TMapItem item : d->Map) {
                item.Slave = image.MBid; // the slave's id may have changed since
                all.push_back(std::move(item));
            }
    }
    return all;
}

std::string MapNameFor(const QString &Path, const QString &Folder)
{
    const QString absolute = QFileInfo(Path).absoluteFilePath();
    if (!Folder.isEmpty()) {
        const QString relative = QDir(Folder).relativeFilePath(absolute);
        if (!relative.startsWith(QStringLiteral("..")) && !QFileInfo(relative).isAbsolute())
            return relative.toStdString();
    }
    return absolute.toStdString();
}

TDeviceMaps::TDeviceMaps(TSlaveSet &Slaves, TSlaveDisplays &Displays, IProfileDialogs &Dialogs,
                         std::function<QString()> Folder, std::function<void()> Changed)
    : m_slaves(Slaves), m_displays(Displays), m_dialogs(Dialogs), m_folder(std::move(Folder)),
      m_changed(std::move(Changed))
{
}

QString TDeviceMaps::ImportMap(const QString &Path, int SelectedSlave)
{
    std::vector<TMapItem> items;
    const QString error = ReadMapFile(Path, SelectedSlave, items);
    if (!error.isEmpty())
        return error;
    if (items.empty())
        return QStringLiteral("%1: the map has no items").arg(Path);
    // A row for a slave the line does not emulate would be lost: refuse it
    // before anything changes.
    std::set<int> ids;
    for (const TMapItem &item : items) {
        if (m_slaves.Find(item.Slave) == nullptr)
            return QStringLiteral("%1: the map has items for slave %2, which is not emulated; "
                                  "add it first")
                .arg(Path)
                .arg(item.Slave);
        ids.insert(item.Slave);
    }
    const std::string name = MapNameFor(Path, m_folder ? m_folder() : QString());
    for (const int id : ids) {
        TRegisterImage &image = *m_slaves.Find(id);
        TSlaveOptions options = image.Options;
        options.Map = name;
        ApplyDevice(m_slaves, image, options, items, m_displays.Of(&image), true);
    }
    if (m_changed)
        m_changed();
    return {};
}

QString TDeviceMaps::ExportMap(const QString &Path) const
{
    const std::vector<TMapItem> items = CollectMaps(m_slaves, m_displays);
    if (items.empty())
        return QStringLiteral("No slave has a device map to export.");
    std::string error;
    if (!ReplaceFileText(QFile::encodeName(Path).toStdString(), WriteMapCsv(items), error))
        return QStringLiteral("Unable to write to %1").arg(Path);
    return {};
}

void TDeviceMaps::ImportMapCommand(QWidget *Parent, int SelectedSlave)
{
    const auto path =
        m_dialogs.OpenFileName(Parent, mapDialog(QStringLiteral("Import Map"), Directory, true));
    if (!path)
        return;
    Directory = QFileInfo(*path).absolutePath();
    const QString error = ImportMap(*path, SelectedSlave);
    if (!error.isEmpty())
        m_dialogs.ShowError(Parent, error);
}

void TDeviceMaps::ExportMapCommand(QWidget *Parent)
{
    if (CollectMaps(m_slaves, m_displays).empty()) {
        m_dialogs.ShowError(Parent, QStringLiteral("No slave has a device map to export."));
        return;
    }
    const auto path =
        m_dialogs.SaveFileName(Parent, mapDialog(QStringLiteral("Export Map"), Directory, false));
    if (!path)
        return;
    Directory = QFileInfo(*path).absolutePath();
    if (QFileInfo::exists(*path) &&
        m_dialogs.Confirm(Parent,
                          QStringLiteral("%1 already exists.\nDo you want to replace it?")
                              .arg(QFileInfo(*path).fileName()),
                          false) != TConfirmAnswer::Yes)
        return;
    const QString error = ExportMap(*path);
    if (!error.isEmpty())
        m_dialogs.ShowError(Parent, error);
}

bool TDeviceMaps::EditOptions(QWidget *Parent, int Id)
{
    TRegisterImage *image = m_slaves.Find(Id);
    if (image == nullptr)
        return false;
    const QString folder = m_folder ? m_folder() : QString();
    TSlaveOptionsForm form(Id, image->Options, m_dialogs, Parent);
    form.MapDirectory = Directory.isEmpty() ? folder : Directory;
    std::vector<TMapItem> items;
    // The map is read before the dialog closes, so a bad one can be mended
    // in place; nothing changes until it reads.
    form.Check = [&](const TSlaveOptions &Options) -> QString {
        items.clear();
        if (Options.Map.empty())
            return {};
        return ReadMapFile(MapPath(folder.toStdString(), Options.Map), Id, items);
    };
    if (form.exec() != QDialog::Accepted)
        return false;
    // The slave's id cannot change while the dialog is modal, but the set may
    // have (the remote-control API): find it again.
    image = m_slaves.Find(Id);
    if (image == nullptr)
        return false;
    TSlaveOptions options = form.Options();
    // A file chosen with Browse is named as the profile would name it.
    if (!options.Map.empty() && QFileInfo(QString::fromStdString(options.Map)).isAbsolute())
        options.Map = MapNameFor(QString::fromStdString(options.Map), folder);
    // A new map brings its first values; the same map keeps the registers.
    const bool newMap = options.Map != image->Options.Map;
    ApplyDevice(m_slaves, *image, options, items, m_displays.Of(image), newMap);
    if (m_changed)
        m_changed();
    return true;
}

} // namespace quorlin
