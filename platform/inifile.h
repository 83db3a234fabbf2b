// SPDX-License-Identifier: MIT
// INI-style files (profiles and quorlin.ini) read and written key by key:
// names match without regard to case, a write updates a key in place, appends
// a new key to its section and a new section to the file, and removes nothing.
// Contract for the layers above; the implementation may add to it.
#pragma once

#include <string>

namespace quorlin {

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

    // Each write replaces the file atomically; false when the file or its
    // directory may not be written, and the old file is then left whole.
    bool WriteString(const std::string &Section, const std::string &Key, const std::string &Value);
    bool WriteInteger(const std::string &Section, const std::string &Key, int Value);
    bool WriteBool(const std::string &Section, const std::string &Key, bool Value);

private:
    std::string m_fileName;
};

} // namespace quorlin
