// SPDX-License-Identifier: MIT
#include "platform/versioninfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/fileversion.h"

namespace quorlin
{

namespace
{

// The block handed to callers: the record in host byte order, its strings
// checked, the fixed part widened to the two 32-bit halves a query gives.
struct BlockHeader {
    uint32_t Length; // the whole block
    uint32_t StringsSize;
    FixedFileInfo Fixed;
    uint16_t Translation[2]; // language, code page
};
static_assert(sizeof(BlockHeader) == 28);

constexpr char SectionName[] = QUORLIN_FILE_VERSION_SECTION_NAME; // with its NUL
constexpr uint32_t ShtNobits = 8;
constexpr uint16_t ShnXindex = 0xFFFF;

// Random access to the bytes of a file or of a memory image; every read is
// checked against the size, so the parser never needs to.
class ByteSource
{
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    virtual bool readAt(uint64_t offset, void *out, size_t length) const = 0;

    bool contains(uint64_t offset, uint64_t length) const
    {
        return offset <= size() && length <= size() - offset;
    }
};

class MemorySource final : public ByteSource
{
  public:
    explicit MemorySource(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    uint64_t size() const override { return m_bytes.size(); }
    bool readAt(uint64_t offset, void *out, size_t length) const override
    {
        if (!contains(offset, length))
            return false;
        if (length)
            std::memcpy(out, m_bytes.data() + offset, length);
        return true;
    }

  private:
    std::span<const uint8_t> m_bytes;
};

class FileSource final : public ByteSource
{
  public:
    explicit FileSource(const std::string &fileName)
    {
        // O_NONBLOCK: a FIFO or device under the library's name must not hang the caller.
        m_fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return;
        struct stat st {
        };
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_size = uint64_t(st.st_size);
    }
    ~FileSource() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    uint64_t size() const override { return m_size; }
    bool readAt(uint64_t offset, void *out, size_t length) const override
    {
        if (m_fd < 0 || !contains(offset, length))
            return false;
        auto *dest = static_cast<uint8_t *>(out);
        while (length > 0) {
            if (offset > uint64_t(std::numeric_limits<off_t>::max()))
                return false;
            ssize_t n = ::pread(m_fd, dest, length, off_t(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) // error, or the file shrank under us
                return false;
            dest += n;
            offset += uint64_t(n);
            length -= size_t(n);
        }
        return true;
    }

  private:
    int m_fd = -1;
    uint64_t m_size = 0;
};

// Reads numbers in the byte order of the file.
struct Endian {
    bool big = false;
    uint16_t u16(const uint8_t *p) const
    {
        return big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
    }
    uint32_t u32(const uint8_t *p) const
    {
        return big ? uint32_t(u16(p)) << 16 | u16(p + 2) : uint32_t(u16(p + 2)) << 16 | u16(p);
    }
    uint64_t u64(const uint8_t *p) const
    {
        return big ? uint64_t(u32(p)) << 32 | u32(p + 4) : uint64_t(u32(p + 4)) << 32 | u32(p);
    }
};

struct SectionHeader {
    uint32_t name = 0;
    uint32_t type = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t link = 0;
};

// Field offsets of the ELF header and a section header for one class.
struct ElfLayout {
    bool is64;
    size_t headerSize;
    size_t shoff, shentsize, shnum, shstrndx;
    size_t minShentsize;

    SectionHeader section(const uint8_t *p, const Endian &e) const
    {
        SectionHeader s;
        s.name = e.u32(p);
        s.type = e.u32(p + 4);
        if (is64) {
            s.offset = e.u64(p + 24);
            s.size = e.u64(p + 32);
            s.link = e.u32(p + 40);
        } else {
            s.offset = e.u32(p + 16);
            s.size = e.u32(p + 20);
            s.link = e.u32(p + 24);
        }
        return s;
    }
};

constexpr ElfLayout Elf32{false, 52, 32, 46, 48, 50, 40};
constexpr ElfLayout Elf64{true, 64, 40, 58, 60, 62, 64};

// The key/value pair at Pos of a string table of N bytes, with Pos moved past
// it; false at the empty key that ends the table or at a pair that runs past it.
bool nextPair(const char *P, size_t N, size_t &Pos, std::string_view &Key, std::string_view &Value)
{
    if (Pos >= N)
        return false;
    const void *keyEnd = std::memchr(P + Pos, 0, N - Pos);
    if (!keyEnd)
        return false;
    const size_t keyLen = size_t(static_cast<const char *>(keyEnd) - (P + Pos));
    const size_t valuePos = Pos + keyLen + 1;
    if (keyLen == 0 || valuePos >= N)
        return false;
    const void *valueEnd = std::memchr(P + valuePos, 0, N - valuePos);
    if (!valueEnd)
        return false;
    const size_t valueLen = size_t(static_cast<const char *>(valueEnd) - (P + valuePos));
    Key = std::string_view(P + Pos, keyLen);
    Value = std::string_view(P + valuePos, valueLen);
    Pos = valuePos + valueLen + 1;
    return true;
}

// The well-formed key/value pairs of a string table, up to the empty key or
// the first pair that runs past the table, then the empty key.
std::vector<uint8_t> cleanStrings(const uint8_t *p, size_t n)
{
    size_t end = 0;
    std::string_view key, value;
    while (nextPair(reinterpret_cast<const char *>(p), n, end, key, value)) {
    }
    std::vector<uint8_t> out(p, p + end);
    out.push_back(0);
    return out;
}

// The record at the start of the section, as a host-order block.
std::vector<uint8_t> blockFromRecord(const std::vector<uint8_t> &rec, const Endian &e)
{
    constexpr size_t minHeader = QUORLIN_FILE_VERSION_HEADER_SIZE;
    if (rec.size() < minHeader || std::memcmp(rec.data(), QUORLIN_FILE_VERSION_MAGIC, 8) != 0)
        return {};
    const uint8_t *p = rec.data();
    uint16_t format = e.u16(p + 8);
    uint16_t headerSize = e.u16(p + 10);
    if (format < 1 || headerSize < minHeader || headerSize > rec.size())
        return {};
    uint32_t stringsSize = e.u32(p + 24);
    if (stringsSize > rec.size() - headerSize)
        return {};

    BlockHeader h{};
    h.Fixed.Signature = FixedFileInfoSignature;
    h.Fixed.StrucVersion = 0x00010000;
    h.Fixed.FileVersionMS = uint32_t(e.u16(p + 12)) << 16 | e.u16(p + 14);
    h.Fixed.FileVersionLS = uint32_t(e.u16(p + 16)) << 16 | e.u16(p + 18);
    h.Translation[0] = e.u16(p + 20);
    h.Translation[1] = e.u16(p + 22);

    std::vector<uint8_t> strings = cleanStrings(p + headerSize, stringsSize);
    h.StringsSize = uint32_t(strings.size());
    h.Length = uint32_t(sizeof(BlockHeader) + strings.size());

    std::vector<uint8_t> block(h.Length);
    std::memcpy(block.data(), &h, sizeof h);
    std::memcpy(block.data() + sizeof h, strings.data(), strings.size());
    return block;
}

std::vector<uint8_t> versionBlock(const ByteSource &src)
{
    uint8_t ident[64] = {};
    static constexpr uint8_t elfMagic[4] = {0x7f, 'E', 'L', 'F'};
    if (!src.readAt(0, ident, 16) || std::memcmp(ident, elfMagic, 4) != 0)
        return {};
    if (ident[6] != 1 || (ident[5] != 1 && ident[5] != 2))
        return {};
    const ElfLayout *layout = ident[4] == 1 ? &Elf32 : ident[4] == 2 ? &Elf64 : nullptr;
    if (!layout || !src.readAt(0, ident, layout->headerSize))
        return {};
    Endian e{ident[5] == 2};

    uint64_t shoff = layout->is64 ? e.u64(ident + layout->shoff) : e.u32(ident + layout->shoff);
    size_t shentsize = e.u16(ident + layout->shentsize);
    uint64_t shnum = e.u16(ident + layout->shnum);
    uint32_t shstrndx = e.u16(ident + layout->shstrndx);
    if (shoff == 0 || shentsize < layout->minShentsize)
        return {};

    // Extended numbering: the real count and string-table index sit in section 0.
    if (shnum == 0 || shstrndx == ShnXindex) {
        std::vector<uint8_t> first(shentsize);
        if (!src.readAt(shoff, first.data(), shentsize))
            return {};
        SectionHeader zero = layout->section(first.data(), e);
        if (shnum == 0)
            shnum = zero.size;
        if (shstrndx == ShnXindex)
            shstrndx = zero.link;
    }
    if (shnum == 0 || shnum > MaxSectionHeaderTableBytes / shentsize || shstrndx >= shnum)
        return {};
    std::vector<uint8_t> table(size_t(shnum) * shentsize);
    if (!src.readAt(shoff, table.data(), table.size()))
        return {};

    SectionHeader names = layout->section(table.data() + size_t(shstrndx) * shentsize, e);
    if (names.type == ShtNobits || !src.contains(names.offset, names.size))
        return {};

    for (size_t i = 0; i < shnum; ++i) {
        SectionHeader s = layout->section(table.data() + i * shentsize, e);
        if (s.name >= names.size || names.size - s.name < sizeof SectionName)
            continue;
        char name[sizeof SectionName];
        if (!src.readAt(names.offset + s.name, name, sizeof name) ||
            std::memcmp(name, SectionName, sizeof name) != 0)
            continue;
        if (s.type == ShtNobits || !src.contains(s.offset, s.size))
            return {};
        std::vector<uint8_t> record(size_t(std::min<uint64_t>(s.size, MaxVersionSectionBytes)));
        if (!src.readAt(s.offset, record.data(), record.size()))
            return {};
        return blockFromRecord(record, e);
    }
    return {};
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool parseHex32(std::string_view text, uint32_t &value)
{
    if (text.size() != 8)
        return false;
    value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0)
            return false;
        value = value << 4 | uint32_t(digit);
    }
    return true;
}

// Splits "\a\b\c" into its parts; false when it does not start with '\'.
bool splitPath(std::string_view path, std::vector<std::string_view> &parts)
{
    if (path.empty() || path.front() != '\\')
        return false;
    path.remove_prefix(1);
    while (!path.empty()) {
        size_t cut = path.find('\\');
        parts.push_back(path.substr(0, cut));
        if (cut == std::string_view::npos)
            break;
        path.remove_prefix(cut + 1);
        if (path.empty())
            parts.emplace_back(); // a trailing '\' names nothing
    }
    return true;
}

} // namespace

std::vector<uint8_t> versionBlockFromElf(std::span<const uint8_t> image)
{
    return versionBlock(MemorySource(image));
}

uint32_t getFileVersionInfoSize(const std::string &fileName)
{
    FileSource src(fileName);
    if (!src.isOpen())
        return 0;
    return uint32_t(versionBlock(src).size());
}

bool getFileVersionInfo(const std::string &fileName, uint32_t size, void *data)
{
    if (!data)
        return false;
    FileSource src(fileName);
    if (!src.isOpen())
        return false;
    std::vector<uint8_t> block = versionBlock(src);
    if (block.empty() || block.size() > size)
        return false;
    std::memcpy(data, block.data(), block.size());
    return true;
}

bool verQueryValue(const void *block, std::string_view subBlock, const void **buffer,
                   uint32_t *length)
{
    if (!block || !buffer || !length ||
        reinterpret_cast<uintptr_t>(block) % alignof(BlockHeader) != 0)
        return false;
    const auto *h = static_cast<const BlockHeader *>(block);
    if (h->Length < sizeof(BlockHeader) || h->StringsSize > h->Length - sizeof(BlockHeader))
        return false;

    std::vector<std::string_view> parts;
    if (!splitPath(subBlock, parts))
        return false;
    if (parts.empty()) {
        *buffer = &h->Fixed;
        *length = sizeof h->Fixed;
        return true;
    }
    if (parts.size() == 2 && equalsNoCase(parts[0], "VarFileInfo") &&
        equalsNoCase(parts[1], "Translation")) {
        *buffer = h->Translation;
        *length = sizeof h->Translation;
        return true;
    }
    uint32_t langCp = 0;
    if (parts.size() != 3 || !equalsNoCase(parts[0], "StringFileInfo") ||
        !parseHex32(parts[1], langCp) || parts[2].empty())
        return false;
    if (langCp != (uint32_t(h->Translation[0]) << 16 | h->Translation[1]))
        return false;

    const char *strings = static_cast<const char *>(block) + sizeof(BlockHeader);
    size_t pos = 0;
    std::string_view key, value;
    while (nextPair(strings, h->StringsSize, pos, key, value)) {
        if (equalsNoCase(key, parts[2])) {
            *buffer = value.data();
            *length = uint32_t(value.size() + 1);
            return true;
        }
    }
    return false;
}

} // namespace quorlin
