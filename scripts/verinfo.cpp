// SPDX-License-Identifier: MIT
#include "scripts/verinfo.h"

#include <cstdio>

#include "platform/dynlib.h"
#include "platform/versioninfo.h"

namespace quorlin
{

namespace
{

// Longest query path the version lookup takes; a longer one finds nothing
// rather than a cut-off path that might name another value.
constexpr size_t MaxQueryPath = 255;

} // namespace

TVersionInfo::TVersionInfo(const std::string &FileName, const std::string &ProgramDir)
    : m_fileName(FileName)
{
    std::string path =
        findLibraryFile(FileName, ProgramDir.empty() ? programDirectory() : ProgramDir);
    if (path.empty())
        return;
    uint32_t size = getFileVersionInfoSize(path);
    if (size == 0)
        return;
    m_data = std::make_unique<uint32_t[]>((size + 3) / 4);
    m_valid = getFileVersionInfo(path, size, m_data.get());
}

std::string TVersionInfo::GetTranslation() const
{
    const void *value = nullptr;
    uint32_t length = 0;
    if (!m_valid || !verQueryValue(m_data.get(), "\\VarFileInfo\\Translation", &value, &length) ||
        length < 4)
        return {};
    const auto *pair = static_cast<const uint16_t *>(value);
    char text[9];
    std::snprintf(text, sizeof text, "%04X%04X", unsigned(pair[0]), unsigned(pair[1]));
    return text;
}

std::string TVersionInfo::GetStringValue(const std::string &Name) const
{
    if (!m_valid)
        return {};
    std::string path = "\\StringFileInfo\\" + GetTranslation() + "\\" + Name;
    if (path.size() > MaxQueryPath)
        return {};
    const void *value = nullptr;
    uint32_t length = 0;
    if (!verQueryValue(m_data.get(), path, &value, &length) || length == 0)
        return {};
    return std::string(static_cast<const char *>(value), length - 1);
}

bool TVersionInfo::GetFixedVersion(uint32_t &MS, uint32_t &LS) const
{
    const void *value = nullptr;
    uint32_t length = 0;
    if (!m_valid || !verQueryValue(m_data.get(), "\\", &value, &length) ||
        length < sizeof(FixedFileInfo))
        return false;
    const auto *fixed = static_cast<const FixedFileInfo *>(value);
    MS = fixed->FileVersionMS;
    LS = fixed->FileVersionLS;
    return true;
}

std::string TVersionInfo::GetFileVersion() const
{
    std::string text = GetStringValue("FileVersion");
    uint32_t ms = 0, ls = 0;
    if (!text.empty() || !GetFixedVersion(ms, ls))
        return text;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", unsigned(ms >> 16), unsigned(ms & 0xFFFF),
                  unsigned(ls >> 16), unsigned(ls & 0xFFFF));
    return buffer;
}

} // namespace quorlin
