// SPDX-License-Identifier: MIT
// One table of the selected slave as rows of a view: register, value in the
// row's format, the format, and the bound script. The values shown are those
// of the last tick; Refresh tells the view only about visible rows whose
// value changed.
#pragma once

#include <QAbstractTableModel>

#include <string>
#include <utility>
#include <vector>

#include "engine/registerimage.h"
#include "registers/rowformats.h"

namespace quorlin
{

class IRegisterSource;

class TRegisterModel : public QAbstractTableModel
{
    Q_OBJECT
  public:
    enum Column { RegisterColumn, ValueColumn, FormatColumn, ScriptColumn, ColumnCount };

    explicit TRegisterModel(IRegisterSource &Source, QObject *Parent = nullptr);

    // Shows another table (type code 0, 1, 3 or 4); each keeps its formats.
    void SetTable(int RegType);
    int Table() const { return m_type; }
    bool IsBitTable() const;

    // Takes the values of the selected slave's table; rows First..Last are
    // the ones on screen. Called by the tick, after it copied the tables.
    void Refresh(int First, int Last);
    // Rereads everything, after the selected slave or the table changed.
    void Reload();

    const TRowFormats &Formats() const;
    // Gives the rows (sorted) the format, as far as it fits; returns how many took it.
    int SetFormat(const std::vector<int> &Rows, TValueFormat Format);

    // Queues a write that flips the bit of this row, as a lamp click does.
    void ToggleBit(int Row);
    // Queues the typed value's registers, all in the same tick. Empty on
    // success, else why the text was refused (nothing queued then).
    QString WriteText(int Row, const QString &Text);

    int rowCount(const QModelIndex &Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &Index, int Role) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
    Qt::ItemFlags flags(const QModelIndex &Index) const override;
    bool setData(const QModelIndex &Index, const QVariant &Value, int Role) override;

  signals:
    // A typed value that was refused, with the reason.
    void EditRefused(const QString &Reason);

  private:
    uint16_t imageValue(const TRegisterTables &Image, int Register) const;
    QString valueText(int Row) const;
    std::vector<std::pair<int, std::string>> boundScripts() const;
    void emitValueRows(const std::vector<int> &Rows);

    IRegisterSource &m_source;
    int m_type = 4;
    TRowFormats m_wordFormats[2];                       // input registers, holding registers
    TRowFormats m_bitFormats[2];                        // always one bit per row
    const TRegisterImage *m_shownImage = nullptr;       // the slave m_shown was read from
    std::vector<uint16_t> m_shown;                      // by register number, as of the last tick
    std::vector<std::pair<int, std::string>> m_scripts; // row, script name
    std::vector<int> m_changed;                         // reused by Refresh
};

} // namespace quorlin
