// SPDX-License-Identifier: MIT
#include "registers/rowformats.h"

namespace quorlin
{

TRowFormats::TRowFormats(int Rows) : m_formats(size_t(Rows > 0 ? Rows : 0))
{
    recomputeOwners();
}

TValueFormat TRowFormats::Format(int Row) const
{
    if (Row < 0 || Row >= Rows())
        return {};
    return m_formats[size_t(Row)];
}

int TRowFormats::Owner(int Row) const
{
    if (Row < 0 || Row >= Rows())
        return Row;
    return m_owner[size_t(Row)];
}

bool TRowFormats::Fits(int Row, TValueFormat Format) const
{
    return Row >= 0 && Row + RegisterSpan(Format.Kind) <= Rows();
}

bool TRowFormats::Set(int Row, TValueFormat Format)
{
    if (!Fits(Row, Format))
        return false;
    const int owner = Owner(Row);
    if (owner != Row)
        m_formats[size_t(owner)] = {};
    const int span = RegisterSpan(Format.Kind);
    for (int r = Row + 1; r < Row + span; ++r)
        m_formats[size_t(r)] = {};
    m_formats[size_t(Row)] = Format;
    recomputeOwners();
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

void TRowFormats::recomputeOwners()
{
    m_owner.resize(m_formats.size());
    int row = 0;
    while (row < Rows()) {
        const int span = RegisterSpan(m_formats[size_t(row)].Kind);
        for (int r = row; r < row + span && r < Rows(); ++r)
            m_owner[size_t(r)] = row;
        row += span;
    }
}

} // namespace quorlin
