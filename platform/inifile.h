// SPDX-License-Identifier: MIT
// INI-style files (profiles and quorlin.ini) read and written key by key:
// names match without regard to case, a write updates a key in place, appends
// a new key to its section and a new section to the file, and removes nothing.
// Contract for the layers above; the implementation may add to it.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin {

// Longest value a read hands back; longer values are cut to their first characters.
inline constexpr std::size_t IniMaxValueLength = 2047;
// A larger file is no settings file or profile: it reads as missing, and a
// write to it fails rather than rewrite what it could not read.
inline constexpr std::size_t IniMaxFileSize = 4u << 20;

// An integer as the INI readers take it: leading blanks skipped, an optional
// sign, then hexadecimal after "0x"/"0X" (with at least one more character),
// "$", "x" or "X", decimal otherwise. Anything else, trailing characters
// included, or a number outside 32 bits gives nothing. Hexadecimal keeps all
// 32 bits ("$FFFFFFFF" is -1); decimal must lie within int.
std::optional<int> ParseIniInteger(std::string_view Text);

// One "Key=Value" update of a batch written with TIniFile::Write.
struct TIniEntry {
    std::string Section;
    std::string Key;
    std::string Value;
};

// The text of one INI file held in memory: every line as it was (comments,
// blank and unknown lines included), with an index for lookups. Reading and
// updating never touch the file system, so this is also what the fuzzer drives.
class TIniDocument {
public:
    TIniDocument() = default;
    // CRLF, LF and a lone CR all end a line; NUL bytes are kept as data.
    static TIniDocument Parse(std::string_view Text);

    // The first section of that name and its first key of that name.
    std::optional<std::string> Value(std::string_view Section, std::string_view Key) const;
    std::string ReadString(std::string_view Section, std::string_view Key,
                           const std::string &Default) const;
    int ReadInteger(std::string_view Section, std::string_view Key, int Default) const;
    bool ReadBool(std::string_view Section, std::string_view Key, bool Default) const;

    bool SectionExists(std::string_view Section) const;
    // Section names in file order as written there (duplicates once, first spelling).
    std::vector<std::string> Sections() const;
    // Key names of the first section of that name, in file order, each once.
    std::vector<std::string> SectionKeys(std::string_view Section) const;

    // Updates the first such key in place, or adds it after the last line of
    // its section, or adds the section with the key at the end. False (and
    // nothing changed) for a name or value that cannot be stored on one line.
    bool Update(const std::string &Section, const std::string &Key, const std::string &Value);

    // The file's text: every line ended by LF.
    std::string Text() const;

private:
    struct Section {
        std::string header; // the "[name]" line as it stood
        std::string name;   // the name as written there
        std::vector<std::string> body;
        std::size_t insertAt = 0; // after the last non-blank line of body
        std::map<std::string, std::size_t, std::less<>> keys; // folded key -> first line of body
    };
    const Section *find(std::string_view Section) const;

    std::vector<std::string> m_preamble; // lines before the first section
    std::vector<Section> m_sections;     // in file order
    std::map<std::string, std::size_t, std::less<>> m_sectionByName; // folded -> first
};

class TIniFile {
public:
    explicit TIniFile(std::string FileName);

    const std::string &FileName() const { return m_fileName; }

    // A missing file, section or key gives Default; a value is cut to 2047 characters.
    std::string ReadString(const std::string &Section, const std::string &Key,
                           const std::string &Default) const;
    // Decimal, or hexadecimal after "0x", "$" or "x"; text that is no number gives Default.
    int ReadInteger(const std::string &Section, const std::string &Key, int Default) const;
    bool ReadBool(const std::string &Section, const std::string &Key, bool Default) const;

    // The whole file at once, for callers that read many keys; a missing or
    // unreadable file gives an empty document.
    TIniDocument Load() const;
    std::vector<std::string> ReadSections() const;
    std::vector<std::string> ReadSectionKeys(const std::string &Section) const;

    // Each write replaces the file atomically (a temporary file renamed over
    // it). An existing file is written in place instead (write, truncate,
    // fsync) where the rename cannot or should not be used: its directory may
    // not be written, the file has hard links, or the replacement could not
    // keep the file's owner and group. False when the file (or, for a new
    // file, its directory) may not be written; the old text is then left.
    bool WriteString(const std::string &Section, const std::string &Key, const std::string &Value);
    bool WriteInteger(const std::string &Section, const std::string &Key, int Value);
    bool WriteBool(const std::string &Section, const std::string &Key, bool Value);

    // Several keys, applied in order as single writes would apply them, then
    // the file replaced once: all of them reach the file or none does.
    bool Write(const std::vector<TIniEntry> &Entries);
    // The file then holds these keys and nothing else: whatever it held
    // before is replaced, the same way (atomically, or in place) a write is.
    bool Replace(const std::vector<TIniEntry> &Entries);

    // Why the last write failed ("Permission denied", ...); empty after a success.
    const std::string &LastError() const { return m_lastError; }

    // The file's bytes as they are: 0, or the errno why it could not be read
    // (ENOENT when missing, EISDIR, EINVAL for no regular file, EFBIG above
    // IniMaxFileSize).
    int ReadText(std::string &Text) const;

private:
    bool readDocument(TIniDocument &Document, std::string &Text);
    bool replaceWith(const std::string &Text, const std::string &Old);

    std::string m_fileName;
    std::string m_lastError;
};

// Replaces the whole content of Path with Text as TIniFile writes do: a
// temporary file renamed over it, or in place where the folder, hard links or
// the owner require it. False with Error ("Permission denied", ...) when not.
bool ReplaceFileText(const std::string &Path, const std::string &Text, std::string &Error);

// Seam for tests: the write(2) used to fill the temporary file, so a test can
// make a write fail half-way as a full disk would.
using IniWriteFunction = long (*)(int Fd, const void *Data, std::size_t Size);
extern IniWriteFunction IniWriteHook;

// Seam for tests: whether a directory lets us create and rename files in it
// (access(2) by default), so a test run as root can take the in-place path.
using IniDirectoryWritableFunction = bool (*)(const std::string &Directory);
extern IniDirectoryWritableFunction IniDirectoryWritableHook;

} // namespace quorlin
