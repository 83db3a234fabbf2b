// SPDX-License-Identifier: MIT
// The version text of a file, read once when the object is made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quorlin
{

class TVersionInfo
{
  public:
    // A bare name ("scripts.dll") is looked for as the script library is
    // loaded: in ProgramDir first, then through the linker's search. A name
    // with a '/' is read as it stands. An empty ProgramDir means the running
    // program's own directory.
    explicit TVersionInfo(const std::string &FileName, const std::string &ProgramDir = {});

    bool Valid() const { return m_valid; }
    const std::string &FileName() const { return m_fileName; }

    // First language and code page as 8 upper-case hex digits ("040904E4").
    std::string GetTranslation() const;
    // The string of that name under the first translation; empty when absent.
    std::string GetStringValue(const std::string &Name) const;
    // The fixed file version's two 32-bit halves; false when there is none.
    bool GetFixedVersion(uint32_t &MS, uint32_t &LS) const;
    // "FileVersion", or else the fixed version as "major.minor.release.build".
    std::string GetFileVersion() const;

  private:
    std::string m_fileName;
    std::unique_ptr<uint32_t[]> m_data; // the version block, 4-byte aligned
    bool m_valid = false;
};

} // namespace quorlin
