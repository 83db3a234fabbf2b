// SPDX-License-Identifier: MIT
// The main window's part in device maps and per-slave options: the File
// menu's map commands, the "Slave Options" dialog, and each slave's map
// items and row formats kept across loads and saves of a profile.
#include <QAction>
#include <QMenu>

#include "profile/profilemanager.h"
#include "registers/registersform.h"
#include "slaves/devicemaps.h"
#include "slaves/slavesform.h"
#include "ui/mainunit.h"

namespace quorlin
{

void TMainForm::buildMapCommands()
{
    m_deviceMaps = std::make_unique<TDeviceMaps>(
        m_slaves, m_displays, *m_dialogs, [this] { return QString::fromStdString(m_mapFolder); },
        [this] { deviceChanged(); });
    // File: the map commands follow the values commands.
    ImportMap1 = new QAction(QStringLiteral("Import &Map..."), File1);
    ImportMap1->setObjectName(QStringLiteral("ImportMap1"));
    ExportMap1 = new QAction(QStringLiteral("Export M&ap..."), File1);
    ExportMap1->setObjectName(QStringLiteral("ExportMap1"));
    QAction *before = nullptr;
    const QList<QAction *> actions = File1->actions();
    for (qsizetype i = 0; i + 1 < actions.size(); ++i)
        if (actions[i] == ImportValues1)
            before = actions[i + 1];
    File1->insertActions(before, {ImportMap1, ExportMap1});
    connect(ImportMap1, &QAction::triggered, this, &TMainForm::ImportMap1Click);
    connect(ExportMap1, &QAction::triggered, this, &TMainForm::ExportMap1Click);
}

void TMainForm::ImportMap1Click()
{
    QWidget *parent = m_registersForm && m_registersForm->isActiveWindow()
                          ? static_cast<QWidget *>(m_registersForm)
                          : this;
    if (m_deviceMaps->Directory.isEmpty())
        m_deviceMaps->Directory = QString::fromStdString(m_locations.DataDir);
    m_deviceMaps->ImportMapCommand(parent, m_current->MBid);
}

void TMainForm::ExportMap1Click()
{
    QWidget *parent = m_registersForm && m_registersForm->isActiveWindow()
                          ? static_cast<QWidget *>(m_registersForm)
                          : this;
    if (m_deviceMaps->Directory.isEmpty())
        m_deviceMaps->Directory = QString::fromStdString(m_locations.DataDir);
    m_deviceMaps->ExportMapCommand(parent);
}

void TMainForm::SlaveOptions1Click(int Id)
{
    QWidget *parent =
        SlavesForm && SlavesForm->isVisible() ? static_cast<QWidget *>(SlavesForm) : this;
    m_deviceMaps->EditOptions(parent, Id == 0 ? m_current->MBid : Id);
}

void TMainForm::deviceChanged()
{
    m_profile->ProfileSaved = false;
    // The sizes may have changed: the panels and the table copy afresh.
    RefreshPanels();
    if (m_registersForm)
        m_registersForm->MapChanged();
}

void TMainForm::loadDisplays(const TProfileSlaves &Slaves,
                             std::map<int, std::vector<TMapItem>> &Maps)
{
    m_displays.Clear();
    m_mapFolder = Slaves.Folder;
    for (int i = 0; i < m_slaves.Count(); ++i) {
        const TRegisterImage &image = m_slaves.At(i);
        TSlaveDisplay &display = m_displays.Of(&image);
        std::vector<TMapItem> own = std::move(Maps[image.MBid]);
        std::erase_if(own, [&](const TMapItem &item) { return item.Slave != image.MBid; });
        display.SetMap(std::move(own));
        const auto formats = Slaves.Formats.find(image.MBid);
        if (formats == Slaves.Formats.end())
            continue;
        for (const int type : {RegTypeInputReg, RegTypeHoldingReg})
            display.FormatsOf(type).SetRows(image.TableSize(type));
        for (const auto &[ref, format] : formats->second)
            display.FormatsOf(ref.RegType).Set(ref.RegAdr - 1, format);
    }
}

void TMainForm::readDisplays(TProfileSlaves &Slaves) const
{
    Slaves.Folder = m_mapFolder;
    for (int i = 0; i < m_slaves.Count(); ++i) {
        const TRegisterImage &image = m_slaves.At(i);
        const TSlaveDisplay *display = m_displays.Find(&image);
        if (!display)
            continue;
        TSlaveFormats formats;
        for (const int type : {RegTypeInputReg, RegTypeHoldingReg})
            for (const auto &[row, format] : display->FormatsOf(type).Entries())
                formats.push_back({{type, row + 1}, format});
        if (!formats.empty())
            Slaves.Formats[image.MBid] = std::move(formats);
    }
}

} // namespace quorlin
