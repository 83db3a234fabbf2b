// SPDX-License-Identifier: MIT
#include "registers/rowformats.h"

namespace quorlin
{

TRowFormats::TRowFormats(int Rows)
{
    SetRows(Rows);
}

void TRowFormats::SetRows(int Rows)
{
    m_rows = Rows > 0 ? Rows : 0;
    for (auto it = m_formats.begin(); it != m_formats.end();) {
        if (it->first + RegisterSpan(it->second.Kind) > m_rows)
            it = m_formats.erase(it);
        else
            ++it;
    }
}

TValueFormat TRowFormats::Format(int Row) const
{
    const auto it = m_formats.find(Row);
    return it != m_formats.end() ? it->second : TValueFormat{};
}

int TRowFormats::Owner(int Row) const
{
    if (Row < 0 || Row >= m_rows)
        return Row;
    // The nearest formatted row at or above this one owns it when it reaches it.
    auto it = m_formats.upper_bound(Row);
    if (it == m_formats.begin())
        return Row;
    --it;
    return it->first + RegisterSpan(it->second.Kind) > Row ? it->first : Row;
}

bool TRowFormats::Fits(int Row, TValueFormat Format) const
{
    return Row >= 0 && Row + RegisterSpan(Format.Kind) <= m_rows;
}

bool TRowFormats::Set(int Row, TValueFormat Format)
{
    if (!Fits(Row, Format))
        return false;
    const int owner = Owner(Row);
    if (owner != Row)
        m_formats.erase(owner);
    const int span = RegisterSpan(Format.Kind);
    m_formats.erase(m_formats.upper_bound(Row), m_formats.lower_bound(Row + span));
    if (Format.Kind == TValueKind::Unsigned)
        m_formats.erase(Row);
    else
        m_formats[Row] = Format;
    return true;
}

int TRowFormats::SetMany(const std::vector<int> &Rows, TValueFormat Format)
{
    int done = 0;
    int coveredUntil = -1; // rows up to here belong to a format set by this call
    for (const int row : Rows) {
        if (row <= coveredUntil)
            continue;
        if (!Set(row, Format))
            continue;
        ++done;
        coveredUntil = row + RegisterSpan(Format.Kind) - 1;
    }
    return done;
}

} // namespace quorlin
