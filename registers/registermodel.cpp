// SPDX-License-Identifier: MIT
#include "registers/registermodel.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

#include "engine/registercsv.h"
#include "registers/registersource.h"

namespace quorlin
{

namespace
{

const QColor BitOnColor(0, 255, 0); // the lamps' colours
const QColor BitOffColor(255, 0, 0);
const QColor MapColor(0, 0, 160); // the name of a mapped register

bool isBitType(int RegType)
{
    return RegType == RegTypeCoil || RegType == RegTypeDiscreteInput;
}

// A bit table has no formats: every row is one bit.
const TRowFormats NoFormats;

QString coveredText(int Register, int Owner, int Span, int RegType)
{
    const QString head = QString::fromStdString(RegisterName({RegType, Owner}));
    if (Span == 2)
        return QStringLiteral("(second half of %1)").arg(head);
    return QStringLiteral("(register %1 of %2 of %3)")
        .arg(Register - Owner + 1)
        .arg(Span)
        .arg(head);
}

} // namespace

TRegisterModel::TRegisterModel(IRegisterSource &Source, QObject *Parent)
    : QAbstractTableModel(Parent), m_source(Source)
{
    Reload();
}

bool TRegisterModel::IsBitTable() const
{
    return isBitType(m_type);
}

TSlaveDisplay &TRegisterModel::display()
{
    TSlaveDisplay *d = m_source.SelectedDisplay();
    return d ? *d : m_ownDisplay;
}

const TSlaveDisplay &TRegisterModel::display() const
{
    const TSlaveDisplay *d = m_source.SelectedDisplay();
    return d ? *d : m_ownDisplay;
}

const TRowFormats &TRegisterModel::Formats() const
{
    return IsBitTable() ? NoFormats : display().FormatsOf(m_type);
}

void TRegisterModel::SetTable(int RegType)
{
    if (RegisterCount(RegType) == 0 || RegType == m_type)
        return;
    m_type = RegType;
    Reload();
}

void TRegisterModel::copyShown()
{
    // Only the pages in use are copied: a few hundred bytes for a small
    // slave, at most 128 KiB for a full table of 65536 registers.
    const TRegisterTables &from = m_source.SelectedTables();
    switch (m_type) {
    case RegTypeCoil:
        m_shown.Coils = from.Coils;
        break;
    case RegTypeDiscreteInput:
        m_shown.DiscreteInputs = from.DiscreteInputs;
        break;
    case RegTypeInputReg:
        m_shown.InputRegs = from.InputRegs;
        break;
    default:
        m_shown.HoldingRegs = from.HoldingRegs;
        break;
    }
}

void TRegisterModel::indexMap()
{
    const TSlaveDisplay &d = display();
    m_indexedDisplay = &d;
    m_indexedGeneration = d.MapGeneration;
    m_items.clear();
    for (size_t i = 0; i < d.Map.size(); ++i) {
        const TMapItem &item = d.Map[i];
        if (item.Register.RegType != m_type || item.Register.RegAdr > m_tableSize)
            continue;
        const int last = std::min(item.Register.RegAdr + ItemSpan(item) - 1, m_tableSize);
        m_items.push_back({item.Register.RegAdr, last, i});
    }
    std::sort(m_items.begin(), m_items.end(),
              [](const TItemSpan &a, const TItemSpan &b) { return a.First < b.First; });
    // A map read from a file never overlaps; one built by hand might.
    m_items.erase(
        std::unique(m_items.begin(), m_items.end(),
                    [](const TItemSpan &a, const TItemSpan &b) { return b.First <= a.Last; }),
        m_items.end());
}

void TRegisterModel::Reload()
{
    beginResetModel();
    m_shownImage = &m_source.SelectedImage();
    m_tableSize = m_source.SelectedTables().TableSize(m_type);
    if (!IsBitTable())
        display().FormatsOf(m_type).SetRows(m_tableSize);
    copyShown();
    indexMap();
    m_filtered.clear();
    if (!m_filter.isEmpty()) {
        for (const TItemSpan &s : m_items)
            if (QString::fromStdString(display().Map[s.Index].Name)
                    .contains(m_filter, Qt::CaseInsensitive))
                m_filtered.push_back(s.First);
    }
    m_scripts = boundScripts();
    endResetModel();
}

void TRegisterModel::SetFilter(const QString &Text)
{
    m_filter = Text.trimmed();
    Reload();
}

int TRegisterModel::RegisterOf(int Row) const
{
    if (m_filter.isEmpty())
        return Row + 1;
    return Row >= 0 && size_t(Row) < m_filtered.size() ? m_filtered[size_t(Row)] : 0;
}

int TRegisterModel::RowOf(int Register) const
{
    if (Register < 1 || Register > m_tableSize)
        return -1;
    if (m_filter.isEmpty())
        return Register - 1;
    const auto it = std::lower_bound(m_filtered.begin(), m_filtered.end(), Register);
    return it != m_filtered.end() && *it == Register ? int(it - m_filtered.begin()) : -1;
}

const TRegisterModel::TItemSpan *TRegisterModel::spanAt(int Register) const
{
    auto it = std::upper_bound(m_items.begin(), m_items.end(), Register,
                               [](int n, const TItemSpan &s) { return n < s.First; });
    if (it == m_items.begin())
        return nullptr;
    --it;
    return Register <= it->Last ? &*it : nullptr;
}

const TMapItem *TRegisterModel::ItemAt(int Row) const
{
    const TItemSpan *s = spanAt(RegisterOf(Row));
    const TSlaveDisplay &d = display();
    if (!s || &d != m_indexedDisplay || d.MapGeneration != m_indexedGeneration ||
        s->Index >= d.Map.size())
        return nullptr;
    return &d.Map[s->Index];
}

int TRegisterModel::ownerOf(int Register, int &Span) const
{
    if (const TItemSpan *s = spanAt(Register)) {
        Span = s->Last - s->First + 1;
        return s->First;
    }
    if (IsBitTable()) {
        Span = 1;
        return Register;
    }
    const TRowFormats &formats = Formats();
    const int owner = formats.Owner(Register - 1) + 1;
    Span = RegisterSpan(formats.Format(owner - 1).Kind);
    return owner;
}

void TRegisterModel::RegistersOfRows(int First, int Last, int &FirstRegister,
                                     int &LastRegister) const
{
    FirstRegister = 1;
    LastRegister = 0;
    const int rows = rowCount();
    First = std::max(First, 0);
    Last = std::min(Last, rows - 1);
    for (int row = First; row <= Last; ++row) {
        int span = 1;
        const int owner = ownerOf(RegisterOf(row), span);
        if (LastRegister < FirstRegister) {
            FirstRegister = owner;
            LastRegister = owner + span - 1;
        } else {
            FirstRegister = std::min(FirstRegister, owner);
            LastRegister = std::max(LastRegister, owner + span - 1);
        }
    }
}

std::vector<uint16_t> TRegisterModel::shownWords(int First, int Count) const
{
    std::vector<uint16_t> words(size_t(std::max(Count, 0)));
    for (int i = 0; i < Count; ++i)
        words[size_t(i)] = m_shown.ReadRegister(m_type, First + i);
    return words;
}

void TRegisterModel::Refresh(int First, int Last)
{
    const TSlaveDisplay &d = display();
    if (&m_source.SelectedImage() != m_shownImage ||
        m_source.SelectedTables().TableSize(m_type) != m_tableSize || &d != m_indexedDisplay ||
        d.MapGeneration != m_indexedGeneration) {
        Reload(); // another slave, size or map: every row changes
        return;
    }
    // A row is repainted when a register of its value changed.
    const TRegisterTables &now = m_source.SelectedTables();
    m_changed.clear();
    First = std::max(First, 0);
    Last = std::min(Last, rowCount() - 1);
    for (int row = First; row <= Last; ++row) {
        const int n = RegisterOf(row);
        int span = 1;
        if (ownerOf(n, span) != n)
            continue; // a covered row names its owner, whatever the values
        for (int i = 0; i < span; ++i) {
            if (now.ReadRegister(m_type, n + i) != m_shown.ReadRegister(m_type, n + i)) {
                m_changed.push_back(row);
                break;
            }
        }
    }
    copyShown();
    emitValueRows(m_changed);

    auto scripts = boundScripts();
    if (scripts != m_scripts) {
        std::vector<int> registers;
        for (const auto &s : scripts)
            registers.push_back(s.first);
        for (const auto &s : m_scripts)
            registers.push_back(s.first);
        m_scripts = std::move(scripts);
        for (const int n : registers)
            if (const int row = RowOf(n); row >= 0)
                emit dataChanged(index(row, ScriptColumn), index(row, ScriptColumn));
    }
}

void TRegisterModel::emitValueRows(const std::vector<int> &Rows)
{
    // One signal per run of neighbouring rows.
    size_t i = 0;
    while (i < Rows.size()) {
        size_t j = i;
        while (j + 1 < Rows.size() && Rows[j + 1] == Rows[j] + 1)
            ++j;
        emit dataChanged(index(Rows[i], ValueColumn), index(Rows[j], EngineeringColumn),
                         {Qt::DisplayRole, Qt::DecorationRole});
        i = j + 1;
    }
}

std::vector<std::pair<int, std::string>> TRegisterModel::boundScripts() const
{
    std::vector<std::pair<int, std::string>> bound;
    for (const auto &[ref, name] : m_source.SelectedScripts())
        if (ref.RegType == m_type && ref.RegAdr >= 1 && ref.RegAdr <= m_tableSize)
            bound.emplace_back(ref.RegAdr, name);
    return bound;
}

int TRegisterModel::SetFormat(const std::vector<int> &Rows, TValueFormat Format)
{
    if (IsBitTable())
        return 0;
    // The map types its own registers; a format may not reach into them.
    std::vector<int> free;
    const int span = RegisterSpan(Format.Kind);
    for (const int row : Rows) {
        const int n = RegisterOf(row);
        bool mapped = n == 0;
        for (int i = 0; i < span && !mapped; ++i)
            mapped = spanAt(n + i) != nullptr;
        if (!mapped)
            free.push_back(n - 1);
    }
    const int done = display().FormatsOf(m_type).SetMany(free, Format);
    if (done > 0)
        emit dataChanged(index(0, ValueColumn), index(rowCount() - 1, EngineeringColumn));
    return done;
}

void TRegisterModel::ToggleBit(int Row)
{
    if (!IsBitTable() || Row < 0 || Row >= rowCount())
        return;
    // The value shown, as the lamps do.
    const int n = RegisterOf(Row);
    m_source.SelectedImage().QueueWrite(m_type, n,
                                        1 - m_source.SelectedTables().ReadRegister(m_type, n));
}

QString TRegisterModel::queueWords(int Register, const std::vector<uint16_t> &Words)
{
    TRegisterImage &image = m_source.SelectedImage();
    for (size_t i = 0; i < Words.size(); ++i)
        image.QueueWrite(m_type, Register + int(i), Words[i]);
    return {};
}

QString TRegisterModel::WriteText(int Row, const QString &Text)
{
    if (Row < 0 || Row >= rowCount())
        return QStringLiteral("no such register");
    if (IsBitTable())
        return QStringLiteral("a bit is toggled, not typed");
    const int n = RegisterOf(Row);
    int span = 1;
    const int owner = ownerOf(n, span);
    if (owner != n)
        return QStringLiteral("%1 is part of the value of %2")
            .arg(QString::fromStdString(RegisterName({m_type, n})),
                 QString::fromStdString(RegisterName({m_type, owner})));
    if (const TMapItem *item = ItemAt(Row)) {
        const TItemWords w = ItemWordsFromText(*item, Text.toStdString());
        if (!w.Ok)
            return QString::fromStdString(w.Error);
        return queueWords(n, w.Words);
    }
    const TValueFormat format = Formats().Format(n - 1);
    const TParsedValue parsed = ParseValue(format, Text.toStdString());
    if (!parsed.Ok)
        return QString::fromStdString(parsed.Error);
    return queueWords(n, std::vector<uint16_t>(parsed.Words.begin(),
                                               parsed.Words.begin() + RegisterSpan(format.Kind)));
}

QString TRegisterModel::WriteEngineering(int Row, const QString &Text)
{
    const TMapItem *item = ItemAt(Row);
    if (!item || item->Register.RegAdr != RegisterOf(Row))
        return QStringLiteral("only the first row of a mapped value has an engineering value");
    const TItemWords w = ItemWordsFromEngineering(*item, Text.toStdString());
    if (!w.Ok)
        return QString::fromStdString(w.Error);
    return queueWords(item->Register.RegAdr, w.Words);
}

QString TRegisterModel::valueText(int Row) const
{
    const int n = RegisterOf(Row);
    if (IsBitTable())
        return m_shown.ReadRegister(m_type, n) ? QStringLiteral("1") : QStringLiteral("0");
    int span = 1;
    const int owner = ownerOf(n, span);
    if (owner != n)
        return coveredText(n, owner, span, m_type);
    const std::vector<uint16_t> words = shownWords(n, span);
    if (const TMapItem *item = ItemAt(Row))
        return QString::fromStdString(ItemValueText(*item, words));
    return QString::fromStdString(FormatValue(Formats().Format(n - 1), words));
}

int TRegisterModel::rowCount(const QModelIndex &Parent) const
{
    if (Parent.isValid())
        return 0;
    return m_filter.isEmpty() ? m_tableSize : int(m_filtered.size());
}

int TRegisterModel::columnCount(const QModelIndex &Parent) const
{
    return Parent.isValid() ? 0 : ColumnCount;
}

QVariant TRegisterModel::data(const QModelIndex &Index, int Role) const
{
    if (!Index.isValid() || Index.row() >= rowCount())
        return {};
    const int row = Index.row();
    const int n = RegisterOf(row);
    const TMapItem *item = ItemAt(row);
    const bool head = item && item->Register.RegAdr == n;
    switch (Role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (Index.column()) {
        case RegisterColumn:
            return QString::fromStdString(RegisterName({m_type, n}));
        case NameColumn:
            return head ? QString::fromStdString(item->Name) : QString();
        case ValueColumn:
            return valueText(row);
        case FormatColumn: {
            if (head) {
                // The map's words: "f32 CDAB", "ascii8", "bit".
                const bool ordered = !IsBitTable() && item->Format.Kind != TValueKind::Ascii &&
                                     RegisterSpan(item->Format.Kind) > 1;
                return QString::fromStdString(ordered ? FormatTypeText(item->Format)
                                                      : ItemTypeName(*item));
            }
            int span = 1;
            if (IsBitTable() || item || ownerOf(n, span) != n)
                return QString();
            return QString::fromStdString(FormatName(Formats().Format(n - 1)));
        }
        case EngineeringColumn: {
            if (!head)
                return QString();
            return QString::fromStdString(
                ItemEngineeringText(*item, shownWords(n, ItemSpan(*item))));
        }
        case UnitColumn:
            return head ? QString::fromStdString(item->Unit) : QString();
        case ScriptColumn: {
            QStringList names;
            for (const auto &s : m_scripts)
                if (s.first == n)
                    names << QString::fromStdString(s.second);
            return names.join(QStringLiteral(", "));
        }
        }
        break;
    case Qt::DecorationRole:
        if (Index.column() == ValueColumn && IsBitTable())
            return m_shown.ReadRegister(m_type, n) ? BitOnColor : BitOffColor;
        break;
    case Qt::ForegroundRole:
        if (Index.column() == ValueColumn && !IsBitTable()) {
            int span = 1;
            if (ownerOf(n, span) != n)
                return QBrush(QColor(Qt::gray));
        }
        if (Index.column() == NameColumn && head)
            return QBrush(MapColor);
        break;
    case Qt::ToolTipRole:
        if (head && item->ReadOnly)
            return QStringLiteral("Read-only for a master");
        break;
    default:
        break;
    }
    return {};
}

QVariant TRegisterModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Role != Qt::DisplayRole || Orientation != Qt::Horizontal)
        return {};
    switch (Section) {
    case RegisterColumn:
        return QStringLiteral("Register");
    case NameColumn:
        return QStringLiteral("Name");
    case ValueColumn:
        return QStringLiteral("Value");
    case FormatColumn:
        return QStringLiteral("Format");
    case EngineeringColumn:
        return QStringLiteral("Engineering");
    case UnitColumn:
        return QStringLiteral("Unit");
    case ScriptColumn:
        return QStringLiteral("Script");
    }
    return {};
}

Qt::ItemFlags TRegisterModel::flags(const QModelIndex &Index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(Index);
    if (!Index.isValid() || IsBitTable())
        return f;
    const int n = RegisterOf(Index.row());
    int span = 1;
    const bool own = ownerOf(n, span) == n;
    if (Index.column() == ValueColumn && own)
        f |= Qt::ItemIsEditable;
    if (Index.column() == EngineeringColumn && own) {
        const TMapItem *item = ItemAt(Index.row());
        if (item && item->Format.Kind != TValueKind::Ascii)
            f |= Qt::ItemIsEditable;
    }
    return f;
}

bool TRegisterModel::setData(const QModelIndex &Index, const QVariant &Value, int Role)
{
    if (!Index.isValid() || Role != Qt::EditRole)
        return false;
    QString refused;
    if (Index.column() == ValueColumn)
        refused = WriteText(Index.row(), Value.toString());
    else if (Index.column() == EngineeringColumn)
        refused = WriteEngineering(Index.row(), Value.toString());
    else
        return false;
    if (!refused.isEmpty()) {
        emit EditRefused(refused);
        return false;
    }
    return true;
}

} // namespace quorlin
