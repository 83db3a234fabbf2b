// SPDX-License-Identifier: MIT
// The display format of each row of a register table. A row whose format
// spans several registers covers the rows below it; a covered row shows no
// value of its own. Only rows given a format other than Unsigned are held,
// so a table of 65536 rows costs what its formatted rows cost. Pure standard
// C++, so it is tested without widgets.
#pragma once

#include <map>
#include <vector>

#include "engine/valuecodec.h"

namespace quorlin
{

class TRowFormats
{
  public:
    explicit TRowFormats(int Rows = 0);

    int Rows() const { return m_rows; }
    // Another number of rows; formats that no longer fit are dropped.
    void SetRows(int Rows);
    // The format of the row's own value (Unsigned for a covered row).
    TValueFormat Format(int Row) const;
    // The row whose value includes this row's register: Row itself unless a
    // wider format above covers it.
    int Owner(int Row) const;
    bool Covered(int Row) const { return Owner(Row) != Row; }
    // Whether the format's registers all lie within the table from Row on.
    bool Fits(int Row, TValueFormat Format) const;

    // Gives Row the format. The rows it now covers lose their own formats;
    // a wider format above that covered Row falls back to Unsigned. False
    // (and nothing changed) when the format does not fit.
    bool Set(int Row, TValueFormat Format);
    // The same for a selection, top down, skipping the rows that a format
    // set by this call has just covered: rows 1 to 10 as floats become five
    // pairs. Rows is sorted and holds no duplicates. Returns how many rows
    // took the format.
    int SetMany(const std::vector<int> &Rows, TValueFormat Format);

    // The rows whose format is not Unsigned, by row.
    const std::map<int, TValueFormat> &Entries() const { return m_formats; }

  private:
    int m_rows = 0;
    std::map<int, TValueFormat> m_formats; // row -> format, Unsigned left out
};

} // namespace quorlin
