// SPDX-License-Identifier: MIT
// One table of the selected slave as rows of a view: register, the name the
// device map gives it, value in the row's format (or the map's type), the
// format, the engineering value with its unit, and the bound script. The
// values shown are those of the last tick; Refresh looks only at the rows on
// screen and tells the view about those whose value changed, so a table of
// 65536 registers costs a tick what a screenful costs.
#pragma once

#include <QAbstractTableModel>

#include <string>
#include <utility>
#include <vector>

#include "engine/registerimage.h"
#include "registers/rowformats.h"
#include "registers/slavedisplay.h"

namespace quorlin
{

class IRegisterSource;

class TRegisterModel : public QAbstractTableModel
{
    Q_OBJECT
  public:
    enum Column {
        RegisterColumn,
        NameColumn,
        ValueColumn,
        FormatColumn,
        EngineeringColumn,
        UnitColumn,
        ScriptColumn,
        ColumnCount
    };

    explicit TRegisterModel(IRegisterSource &Source, QObject *Parent = nullptr);

    // Shows another table (type code 0, 1, 3 or 4); each keeps its formats.
    void SetTable(int RegType);
    int Table() const { return m_type; }
    bool IsBitTable() const;

    // Takes the values of the selected slave's table; rows First..Last are
    // the ones on screen. Called by the tick, after it copied the tables.
    void Refresh(int First, int Last);
    // Rereads everything, after the selected slave, its map or the table changed.
    void Reload();

    const TRowFormats &Formats() const;
    // Gives the rows (sorted) the format, as far as it fits and the rows are
    // not the map's; returns how many took it.
    int SetFormat(const std::vector<int> &Rows, TValueFormat Format);

    // Shows only the rows of map items whose name holds Text (any case);
    // an empty text shows every register again.
    void SetFilter(const QString &Text);
    const QString &Filter() const { return m_filter; }
    // The register (1-based) a row shows, and the row showing a register
    // (-1 when the filter hides it or the table has no such register).
    int RegisterOf(int Row) const;
    int RowOf(int Register) const;
    // The registers (1-based) the rows First..Last show, with every register
    // their values are made of: what the tick must copy.
    void RegistersOfRows(int First, int Last, int &FirstRegister, int &LastRegister) const;
    // The map item whose value the row shows or is part of, or null.
    const TMapItem *ItemAt(int Row) const;

    // Queues a write that flips the bit of this row, as a lamp click does.
    void ToggleBit(int Row);
    // Queues the typed value's registers, all in the same tick. Empty on
    // success, else why the text was refused (nothing queued then).
    QString WriteText(int Row, const QString &Text);
    // The same for an engineering value of a mapped row: the registers of
    // (Text - offset) / scale in the item's type.
    QString WriteEngineering(int Row, const QString &Text);

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
    // A map item of the shown table: registers First..Last, index in the map.
    struct TItemSpan {
        int First;
        int Last;
        size_t Index;
    };

    TSlaveDisplay &display();
    const TSlaveDisplay &display() const;
    const TItemSpan *spanAt(int Register) const;
    // The register whose value includes this one, and how many registers
    // that value has.
    int ownerOf(int Register, int &Span) const;
    QString valueText(int Row) const;
    std::vector<uint16_t> shownWords(int First, int Count) const;
    std::vector<std::pair<int, std::string>> boundScripts() const;
    void indexMap();
    void copyShown();
    void emitValueRows(const std::vector<int> &Rows);
    QString queueWords(int Register, const std::vector<uint16_t> &Words);

    IRegisterSource &m_source;
    int m_type = 4;
    TSlaveDisplay m_ownDisplay;                      // when the source keeps none
    const TRegisterImage *m_shownImage = nullptr;    // the slave m_shown was read from
    const TSlaveDisplay *m_indexedDisplay = nullptr; // the display m_items indexes
    unsigned m_indexedGeneration = 0;
    int m_tableSize = 0;            // registers of the shown table
    TRegisterTables m_shown;        // the shown table, as of the last tick
    std::vector<TItemSpan> m_items; // sorted by First, disjoint
    QString m_filter;
    std::vector<int> m_filtered;                        // registers shown while filtering
    std::vector<std::pair<int, std::string>> m_scripts; // row, script name
    std::vector<int> m_changed;                         // reused by Refresh
};

} // namespace quorlin
