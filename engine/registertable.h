// SPDX-License-Identifier: MIT
// One table of a slave's register image, of up to 65536 registers. Memory is
// taken a page at a time, when a register of the page first gets a value
// other than 0, so a slave that serves the whole address space costs only
// what it uses: a page never written reads as zeros.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorlin
{

inline constexpr int MaxTableRegisters = 65536; // register numbers 1..65536

template <typename T> class TRegisterTable
{
  public:
    static constexpr int PageBits = 8;
    static constexpr int PageSize = 1 << PageBits; // entries per page

    // Registers 1..Count; index 0 exists and is never addressed.
    explicit TRegisterTable(int Count) { Resize(Count); }
    TRegisterTable(const TRegisterTable &Other) { *this = Other; }
    TRegisterTable &operator=(const TRegisterTable &Other)
    {
        if (this == &Other)
            return *this;
        m_count = Other.m_count;
        m_pages.resize(Other.m_pages.size());
        for (size_t p = 0; p < m_pages.size(); ++p) {
            if (!Other.m_pages[p])
                m_pages[p].reset();
            else if (m_pages[p])
                *m_pages[p] = *Other.m_pages[p];
            else
                m_pages[p] = std::make_unique<Page>(*Other.m_pages[p]);
        }
        return *this;
    }
    TRegisterTable(TRegisterTable &&) noexcept = default;
    TRegisterTable &operator=(TRegisterTable &&) noexcept = default;

    // The highest register number.
    int Count() const { return m_count; }
    // Entries, index 0 included.
    size_t size() const { return size_t(m_count) + 1; }

    // Another size, 1..65536 (held to it). Registers that stay keep their
    // values; those beyond the new end are gone and read 0 if it grows again.
    void Resize(int Count)
    {
        m_count = std::clamp(Count, 1, MaxTableRegisters);
        const size_t pages = (size_t(m_count) + PageSize) / PageSize;
        m_pages.resize(pages);
        // Entries past the end in the last page must not survive a regrowth.
        if (Page *last = m_pages.back().get()) {
            const size_t from = (size_t(m_count) + 1) % PageSize;
            if (from != 0)
                std::fill(last->begin() + ptrdiff_t(from), last->end(), T(0));
        }
    }

    // The value of register N; 0 for an N outside 0..Count.
    T Get(int N) const
    {
        if (N < 0 || N > m_count)
            return T(0);
        const Page *page = m_pages[size_t(N) >> PageBits].get();
        return page ? (*page)[size_t(N) & (PageSize - 1)] : T(0);
    }
    // Stores into register N; false (nothing stored) outside 0..Count.
    bool Set(int N, T Value)
    {
        if (N < 0 || N > m_count)
            return false;
        auto &page = m_pages[size_t(N) >> PageBits];
        if (!page) {
            if (Value == T(0))
                return true; // a missing page already reads 0
            page = std::make_unique<Page>();
        }
        (*page)[size_t(N) & (PageSize - 1)] = Value;
        return true;
    }

    // Registers First..First+Count-1 into Out; the caller has checked that
    // they lie within the table.
    void Read(int First, int Count, T *Out) const
    {
        while (Count > 0) {
            const size_t p = size_t(First) >> PageBits;
            const int at = First & (PageSize - 1);
            const int n = std::min(Count, PageSize - at);
            if (const Page *page = m_pages[p].get())
                std::copy_n(page->begin() + at, n, Out);
            else
                std::fill_n(Out, n, T(0));
            Out += n;
            First += n;
            Count -= n;
        }
    }

    // Copies registers First..Last (held to the table) from Other, which has
    // the same size: what a view takes of what it shows.
    void CopyRange(const TRegisterTable &Other, int First, int Last)
    {
        First = std::max(First, 0);
        Last = std::min({Last, m_count, Other.m_count});
        for (int n = First; n <= Last;) {
            const size_t p = size_t(n) >> PageBits;
            const int at = n & (PageSize - 1);
            const int len = std::min(Last - n + 1, PageSize - at);
            const Page *from = Other.m_pages[p].get();
            if (from || m_pages[p]) {
                if (!m_pages[p])
                    m_pages[p] = std::make_unique<Page>();
                if (from)
                    std::copy_n(from->begin() + at, len, m_pages[p]->begin() + at);
                else
                    std::fill_n(m_pages[p]->begin() + at, len, T(0));
            }
            n += len;
        }
    }

    // Same size and the same value in every entry, pages or not.
    bool operator==(const TRegisterTable &Other) const
    {
        if (m_count != Other.m_count)
            return false;
        for (size_t p = 0; p < m_pages.size(); ++p) {
            const Page *a = m_pages[p].get();
            const Page *b = Other.m_pages[p].get();
            if (a == nullptr && b == nullptr)
                continue;
            for (int i = 0; i < PageSize; ++i)
                if ((a ? (*a)[size_t(i)] : T(0)) != (b ? (*b)[size_t(i)] : T(0)))
                    return false;
        }
        return true;
    }

    // Reading gives the value; writing through the reference takes the
    // page, as a store does.
    T operator[](size_t N) const { return Get(int(N)); }
    T &operator[](size_t N)
    {
        auto &page = m_pages[std::min(N, size_t(m_count)) >> PageBits];
        if (!page)
            page = std::make_unique<Page>();
        return (*page)[N & (PageSize - 1)];
    }

    // Walks the values of every entry, index 0 included.
    class const_iterator
    {
      public:
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        const_iterator() = default;
        const_iterator(const TRegisterTable *Table, int At) : m_table(Table), m_at(At) {}
        T operator*() const { return m_table->Get(m_at); }
        const_iterator &operator++()
        {
            ++m_at;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator was = *this;
            ++m_at;
            return was;
        }
        bool operator==(const const_iterator &Other) const { return m_at == Other.m_at; }

      private:
        const TRegisterTable *m_table = nullptr;
        int m_at = 0;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_count + 1}; }

    // Every entry, index 0 included; filling with 0 gives the memory back.
    void fill(T Value)
    {
        for (auto &page : m_pages) {
            if (Value == T(0)) {
                page.reset();
            } else {
                if (!page)
                    page = std::make_unique<Page>();
                page->fill(Value);
            }
        }
        Resize(m_count); // past-the-end entries of the last page stay 0
    }

    // Bytes the table holds on the heap.
    size_t MemoryUsed() const
    {
        size_t bytes = m_pages.capacity() * sizeof(m_pages[0]);
        for (const auto &page : m_pages)
            if (page)
                bytes += sizeof(Page);
        return bytes;
    }

  private:
    using Page = std::array<T, PageSize>;
    int m_count = 0;
    std::vector<std::unique_ptr<Page>> m_pages;
};

} // namespace quorlin
