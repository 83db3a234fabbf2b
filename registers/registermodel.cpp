// SPDX-License-Identifier: MIT
#include "registers/registermodel.h"

#include <QBrush>
#include <QColor>

#include "engine/registercsv.h"
#include "registers/registersource.h"

namespace quorlin
{

namespace
{

const QColor BitOnColor(0, 255, 0); // the lamps' colours
const QColor BitOffColor(255, 0, 0);

int tableIndex(int RegType)
{
    return RegType == RegTypeDiscreteInput || RegType == RegTypeInputReg ? 0 : 1;
}

} // namespace

TRegisterModel::TRegisterModel(IRegisterSource &Source, QObject *Parent)
    : QAbstractTableModel(Parent), m_source(Source), m_wordFormats{TRowFormats(WordRegisterCount),
                                                                   TRowFormats(WordRegisterCount)},
      m_bitFormats{TRowFormats(BitRegisterCount), TRowFormats(BitRegisterCount)}
{
    m_changed.reserve(BitRegisterCount);
    Reload();
}

bool TRegisterModel::IsBitTable() const
{
    return m_type == RegTypeCoil || m_type == RegTypeDiscreteInput;
}

const TRowFormats &TRegisterModel::Formats() const
{
    return IsBitTable() ? m_bitFormats[tableIndex(m_type)] : m_wordFormats[tableIndex(m_type)];
}

void TRegisterModel::SetTable(int RegType)
{
    if (RegisterCount(RegType) == 0 || RegType == m_type)
        return;
    m_type = RegType;
    Reload();
}

uint16_t TRegisterModel::imageValue(const TRegisterTables &Image, int Register) const
{
    switch (m_type) {
    case RegTypeCoil:
        return Image.Coils[size_t(Register)];
    case RegTypeDiscreteInput:
        return Image.DiscreteInputs[size_t(Register)];
    case RegTypeInputReg:
        return Image.InputRegs[size_t(Register)];
    default:
        return Image.HoldingRegs[size_t(Register)];
    }
}

void TRegisterModel::Reload()
{
    beginResetModel();
    m_shownImage = &m_source.SelectedImage();
    const TRegisterTables &image = m_source.SelectedTables();
    const int count = RegisterCount(m_type);
    m_shown.assign(size_t(count) + 1, 0);
    for (int n = 1; n <= count; ++n)
        m_shown[size_t(n)] = imageValue(image, n);
    m_scripts = boundScripts();
    endResetModel();
}

void TRegisterModel::Refresh(int First, int Last)
{
    if (&m_source.SelectedImage() != m_shownImage) {
        Reload(); // another slave selected: every row changes
        return;
    }
    const TRegisterTables &image = m_source.SelectedTables();
    const TRowFormats &formats = Formats();
    m_changed.clear();
    auto scan = [&](const auto &Table) {
        const int count = RegisterCount(m_type);
        for (int n = 1; n <= count; ++n) {
            const uint16_t v = Table[size_t(n)];
            if (v == m_shown[size_t(n)])
                continue;
            m_shown[size_t(n)] = v;
            // The row showing this register's value is the one owning it.
            const int row = formats.Owner(n - 1);
            if (row >= First && row <= Last && (m_changed.empty() || m_changed.back() != row))
                m_changed.push_back(row);
        }
    };
    switch (m_type) {
    case RegTypeCoil:
        scan(image.Coils);
        break;
    case RegTypeDiscreteInput:
        scan(image.DiscreteInputs);
        break;
    case RegTypeInputReg:
        scan(image.InputRegs);
        break;
    default:
        scan(image.HoldingRegs);
        break;
    }
    emitValueRows(m_changed);

    auto scripts = boundScripts();
    if (scripts != m_scripts) {
        std::vector<int> rows;
        for (const auto &s : scripts)
            rows.push_back(s.first);
        for (const auto &s : m_scripts)
            rows.push_back(s.first);
        m_scripts = std::move(scripts);
        for (const int row : rows)
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
        emit dataChanged(index(Rows[i], ValueColumn), index(Rows[j], ValueColumn),
                         {Qt::DisplayRole, Qt::DecorationRole});
        i = j + 1;
    }
}

std::vector<std::pair<int, std::string>> TRegisterModel::boundScripts() const
{
    std::vector<std::pair<int, std::string>> bound;
    const int count = RegisterCount(m_type);
    for (const auto &[ref, name] : m_source.SelectedScripts())
        if (ref.RegType == m_type && ref.RegAdr >= 1 && ref.RegAdr <= count)
            bound.emplace_back(ref.RegAdr - 1, name);
    return bound;
}

int TRegisterModel::SetFormat(const std::vector<int> &Rows, TValueFormat Format)
{
    if (IsBitTable())
        return 0;
    const int done = m_wordFormats[tableIndex(m_type)].SetMany(Rows, Format);
    if (done > 0 && !Rows.empty()) {
        // Covering and uncovering reaches up to three rows past the last one.
        const int last = std::min(rowCount() - 1, Rows.back() + 3);
        emit dataChanged(index(0, ValueColumn), index(last, FormatColumn));
    }
    return done;
}

void TRegisterModel::ToggleBit(int Row)
{
    if (!IsBitTable() || Row < 0 || Row >= rowCount())
        return;
    // The value shown, as the lamps do.
    m_source.SelectedImage().QueueWrite(m_type, Row + 1,
                                        1 - imageValue(m_source.SelectedTables(), Row + 1));
}

QString TRegisterModel::WriteText(int Row, const QString &Text)
{
    if (Row < 0 || Row >= rowCount())
        return QStringLiteral("no such register");
    if (IsBitTable())
        return QStringLiteral("a bit is toggled, not typed");
    const TRowFormats &formats = Formats();
    if (formats.Covered(Row))
        return QStringLiteral("%1 is part of the value of %2")
            .arg(QString::fromStdString(RegisterName({m_type, Row + 1})),
                 QString::fromStdString(RegisterName({m_type, formats.Owner(Row) + 1})));
    const TValueFormat format = formats.Format(Row);
    const TParsedValue parsed = ParseValue(format, Text.toStdString());
    if (!parsed.Ok)
        return QString::fromStdString(parsed.Error);
    TRegisterImage &image = m_source.SelectedImage();
    for (int i = 0; i < RegisterSpan(format.Kind); ++i)
        image.QueueWrite(m_type, Row + 1 + i, parsed.Words[size_t(i)]);
    return {};
}

QString TRegisterModel::valueText(int Row) const
{
    const int n = Row + 1;
    if (IsBitTable())
        return m_shown[size_t(n)] ? QStringLiteral("1") : QStringLiteral("0");
    const TRowFormats &formats = Formats();
    const int owner = formats.Owner(Row);
    if (owner != Row) {
        const TValueFormat wide = formats.Format(owner);
        const QString head = QString::fromStdString(RegisterName({m_type, owner + 1}));
        if (RegisterSpan(wide.Kind) == 2)
            return QStringLiteral("(second half of %1)").arg(head);
        return QStringLiteral("(register %1 of 4 of %2)").arg(Row - owner + 1).arg(head);
    }
    const TValueFormat format = formats.Format(Row);
    const int span = RegisterSpan(format.Kind);
    return QString::fromStdString(
        FormatValue(format, std::span<const uint16_t>(m_shown.data() + n, size_t(span))));
}

int TRegisterModel::rowCount(const QModelIndex &Parent) const
{
    return Parent.isValid() ? 0 : RegisterCount(m_type);
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
    switch (Role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (Index.column()) {
        case RegisterColumn:
            return QString::fromStdString(RegisterName({m_type, row + 1}));
        case ValueColumn:
            return valueText(row);
        case FormatColumn:
            if (IsBitTable() || Formats().Covered(row))
                return QString();
            return QString::fromStdString(FormatName(Formats().Format(row)));
        case ScriptColumn: {
            QStringList names;
            for (const auto &s : m_scripts)
                if (s.first == row)
                    names << QString::fromStdString(s.second);
            return names.join(QStringLiteral(", "));
        }
        }
        break;
    case Qt::DecorationRole:
        if (Index.column() == ValueColumn && IsBitTable())
            return m_shown[size_t(row) + 1] ? BitOnColor : BitOffColor;
        break;
    case Qt::ForegroundRole:
        if (Index.column() == ValueColumn && !IsBitTable() && Formats().Covered(row))
            return QBrush(QColor(Qt::gray));
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
    case ValueColumn:
        return QStringLiteral("Value");
    case FormatColumn:
        return QStringLiteral("Format");
    case ScriptColumn:
        return QStringLiteral("Script");
    }
    return {};
}

Qt::ItemFlags TRegisterModel::flags(const QModelIndex &Index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(Index);
    if (Index.isValid() && Index.column() == ValueColumn && !IsBitTable() &&
        !Formats().Covered(Index.row()))
        f |= Qt::ItemIsEditable;
    return f;
}

bool TRegisterModel::setData(const QModelIndex &Index, const QVariant &Value, int Role)
{
    if (!Index.isValid() || Index.column() != ValueColumn || Role != Qt::EditRole)
        return false;
    const QString refused = WriteText(Index.row(), Value.toString());
    if (!refused.isEmpty()) {
        emit EditRefused(refused);
        return false;
    }
    return true;
}

} // namespace quorlin
