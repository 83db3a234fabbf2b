// SPDX-License-Identifier: MIT
// RFC 4180 records, as the CSV files of values and maps are read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorlin
{

struct TRecord {
    int Line = 1; // where the record starts
    std::vector<std::string> Fields;
    std::vector<bool> Quoted;
    std::string Error; // a malformed record
};

// A field without the spaces and tabs around it.
inline std::string trimmed(std::string_view Text)
{
    const size_t first = Text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const size_t last = Text.find_last_not_of(" \t");
    return std::string(Text.substr(first, last - first + 1));
}

inline std::string lower(std::string Text)
{
    for (char &c : Text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return Text;
}

// An empty line (spaces only, nothing quoted): skipped wherever it stands.
inline bool IsBlankRecord(const TRecord &Record)
{
    return Record.Fields.size() == 1 && !Record.Quoted[0] && trimmed(Record.Fields[0]).empty();
}

// A header line as one comparable text: "slave,register,value", whatever the
// case and the spaces around its names.
inline std::string HeaderText(const TRecord &Record)
{
    std::string header;
    for (size_t i = 0; i < Record.Fields.size(); ++i)
        header += (i ? "," : "") + lower(trimmed(Record.Fields[i]));
    return header;
}

// Splits RFC 4180 text into records. CRLF, LF and a lone CR all end a line;
// a quoted field may hold commas, line breaks and doubled quotes.
class TRecordReader
{
  public:
    explicit TRecordReader(std::string_view Text) : m_text(Text)
    {
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF") // a spreadsheet's byte-order mark
            m_text.remove_prefix(3);
    }

    bool next(TRecord &Record)
    {
        if (m_at >= m_text.size())
            return false;
        Record = TRecord{};
        Record.Line = m_line;
        std::string field;
        bool quoted = false;
        for (;;) {
            if (m_at >= m_text.size()) {
                Record.Fields.push_back(std::move(field));
                Record.Quoted.push_back(quoted);
                return true;
            }
            const char c = m_text[m_at];
            if (c == '"' && !quoted && isBlank(field)) {
                field.clear();
                quoted = true;
                if (!readQuoted(field, Record))
                    return true;
                continue;
            }
            if (c == ',') {
                ++m_at;
                Record.Fields.push_back(std::move(field));
                Record.Quoted.push_back(quoted);
                field.clear();
                quoted = false;
                continue;
            }
            if (c == '\r' || c == '\n') {
                skipLineEnd();
                Record.Fields.push_back(std::move(field));
                Record.Quoted.push_back(quoted);
                return true;
            }
            if (quoted && c != ' ' && c != '\t') {
                Record.Error = "a closing quote must end its field";
                skipRestOfRecord();
                return true;
            }
            if (!quoted)
                field += c;
            ++m_at;
        }
    }

  private:
    static bool isBlank(const std::string &Field)
    {
        return Field.find_first_not_of(" \t") == std::string::npos;
    }

    void skipLineEnd()
    {
        if (m_text[m_at] == '\r' && m_at + 1 < m_text.size() && m_text[m_at + 1] == '\n')
            ++m_at;
        ++m_at;
        ++m_line;
    }

    // After the opening quote; stops behind the closing one.
    bool readQuoted(std::string &Field, TRecord &Record)
    {
        ++m_at;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            if (c == '"') {
                if (m_at + 1 < m_text.size() && m_text[m_at + 1] == '"') {
                    Field += '"';
                    m_at += 2;
                    continue;
                }
                ++m_at;
                return true;
            }
            if (c == '\r' || c == '\n') {
                Field += '\n';
                skipLineEnd();
                continue;
            }
            Field += c;
            ++m_at;
        }
        Record.Error = "a quoted field is not closed";
        return false;
    }

    void skipRestOfRecord()
    {
        while (m_at < m_text.size() && m_text[m_at] != '\r' && m_text[m_at] != '\n')
            ++m_at;
        if (m_at < m_text.size())
            skipLineEnd();
    }

    std::string_view m_text;
    size_t m_at = 0;
    int m_line = 1;
};

} // namespace quorlin
