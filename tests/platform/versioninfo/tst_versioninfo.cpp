// SPDX-License-Identifier: MIT
// The ELF version reader. Images are written here field by field from the ELF
// format (32/64-bit, both byte orders) with a record laid out as
// platform/fileversion.h documents it, then bent into hostile shapes.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/versioninfo.h"

using namespace quorlin;

namespace
{

using Bytes = std::vector<uint8_t>;

struct Writer {
    bool big;
    Bytes &out;
    void put(size_t at, uint64_t value, int width)
    {
        if (out.size() < at + size_t(width))
            out.resize(at + size_t(width));
        for (int i = 0; i < width; ++i) {
            int shift = big ? 8 * (width - 1 - i) : 8 * i;
            out[at + size_t(i)] = uint8_t(value >> shift);
        }
    }
};

struct RecordSpec {
    uint16_t fixed[4] = {1, 2, 3, 4};
    uint16_t lang = 0x0409, codePage = 1252;
    std::string strings = std::string("FileVersion\0"
                                      "2.1\0"
                                      "ProductName\0"
                                      "Demo\0",
                                      33);
    uint16_t format = 1, headerSize = 28;
    int64_t stringsSize = -1; // -1: the real size
    std::string magic = "QFILEVER";
};

Bytes makeRecord(bool big, const RecordSpec &r)
{
    Bytes out;
    Writer w{big, out};
    out.assign(r.magic.begin(), r.magic.end());
    w.put(8, r.format, 2);
    w.put(10, r.headerSize, 2);
    for (int i = 0; i < 4; ++i)
        w.put(12 + 2 * size_t(i), r.fixed[i], 2);
    w.put(20, r.lang, 2);
    w.put(22, r.codePage, 2);
    w.put(24, r.stringsSize < 0 ? r.strings.size() : uint64_t(r.stringsSize), 4);
    out.resize(r.headerSize > 28 ? r.headerSize : 28);
    out.insert(out.end(), r.strings.begin(), r.strings.end());
    return out;
}

// Section 0 null, 1 ".shstrtab", 2 ".fileversion"; data first, table last.
struct ElfSpec {
    bool is64 = true;
    bool big = false;
    Bytes record;
    std::string sectionName = ".fileversion";
    uint32_t versionType = 1; // SHT_PROGBITS
    // Applied to the finished image (offsets of the header fields are passed in).
    std::function<void(Bytes &, Writer &, size_t shoff, size_t shentsize)> bend;
};

Bytes makeElf(const ElfSpec &e)
{
    Bytes out;
    Writer w{e.big, out};
    const size_t ehsize = e.is64 ? 64 : 52, shentsize = e.is64 ? 64 : 40;
    out.resize(ehsize);
    const uint8_t ident[] = {0x7f, 'E', 'L', 'F', uint8_t(e.is64 ? 2 : 1), uint8_t(e.big ? 2 : 1),
                             1};
    std::copy(std::begin(ident), std::end(ident), out.begin());
    w.put(16, 3, 2);               // ET_DYN
    w.put(18, e.is64 ? 62 : 3, 2); // x86-64 / i386
    w.put(20, 1, 4);               // EV_CURRENT

    const std::string names = std::string("\0.shstrtab\0", 11) + e.sectionName + '\0';
    const size_t namesAt = out.size();
    out.insert(out.end(), names.begin(), names.end());
    while (out.size() % 8)
        out.push_back(0);
    const size_t recordAt = out.size();
    out.insert(out.end(), e.record.begin(), e.record.end());
    while (out.size() % 8)
        out.push_back(0);
    const size_t shoff = out.size();

    auto section = [&](size_t index, uint32_t name, uint32_t type, uint64_t offset, uint64_t size) {
        size_t at = shoff + index * shentsize;
        out.resize(at + shentsize, 0);
        w.put(at, name, 4);
        w.put(at + 4, type, 4);
        w.put(at + (e.is64 ? 24 : 16), offset, e.is64 ? 8 : 4);
        w.put(at + (e.is64 ? 32 : 20), size, e.is64 ? 8 : 4);
    };
    section(0, 0, 0, 0, 0);
    section(1, 1, 3, namesAt, names.size()); // SHT_STRTAB
    section(2, 11, e.versionType, recordAt, e.record.size());

    if (e.is64) {
        w.put(40, shoff, 8);
        w.put(52, ehsize, 2);
        w.put(58, shentsize, 2);
        w.put(60, 3, 2);
        w.put(62, 1, 2);
    } else {
        w.put(32, shoff, 4);
        w.put(40, ehsize, 2);
        w.put(46, shentsize, 2);
        w.put(48, 3, 2);
        w.put(50, 1, 2);
    }
    if (e.bend)
        e.bend(out, w, shoff, shentsize);
    return out;
}

// The block in the aligned storage a caller keeps it in.
struct Block {
    std::vector<uint32_t> words;
    bool empty() const { return words.empty(); }
    const void *data() const { return words.data(); }
};

Block readBlock(const Bytes &image)
{
    Bytes b = versionBlockFromElf(image);
    Block out;
    out.words.resize((b.size() + 3) / 4);
    if (!b.empty())
        std::memcpy(out.words.data(), b.data(), b.size());
    return out;
}

std::string queryText(const Block &b, const std::string &path)
{
    const void *value = nullptr;
    uint32_t length = 0;
    if (!verQueryValue(b.data(), path, &value, &length))
        return "<none>";
    return std::string(static_cast<const char *>(value), length ? length - 1 : 0);
}

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Form {
    const char *label;
    bool is64, big;
};

class ElfForms : public ::testing::TestWithParam<Form>
{
};

} // namespace

TEST_P(ElfForms, RecordIsReadInTheFilesByteOrder)
{
    RecordSpec r;
    r.fixed[0] = 0x0102;
    r.fixed[3] = 0xFFFE;
    ElfSpec e;
    e.is64 = GetParam().is64;
    e.big = GetParam().big;
    e.record = makeRecord(e.big, r);
    Block b = readBlock(makeElf(e));
    ASSERT_FALSE(b.empty());

    const void *value = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(verQueryValue(b.data(), "\\", &value, &length));
    ASSERT_EQ(length, sizeof(FixedFileInfo));
    const auto *fixed = static_cast<const FixedFileInfo *>(value);
    EXPECT_EQ(fixed->Signature, FixedFileInfoSignature);
    EXPECT_EQ(fixed->FileVersionMS, 0x01020002u);
    EXPECT_EQ(fixed->FileVersionLS, 0x0003FFFEu);

    ASSERT_TRUE(verQueryValue(b.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(static_cast<const uint16_t *>(value)[0], 0x0409);
    EXPECT_EQ(static_cast<const uint16_t *>(value)[1], 1252);

    EXPECT_EQ(queryText(b, "\\StringFileInfo\\040904E4\\FileVersion"), "2.1");
    EXPECT_EQ(queryText(b, "\\StringFileInfo\\040904E4\\ProductName"), "Demo");
}

INSTANTIATE_TEST_SUITE_P(Forms, ElfForms,
                         ::testing::Values(Form{"Elf64Little", true, false},
                                           Form{"Elf64Big", true, true},
                                           Form{"Elf32Little", false, false},
                                           Form{"Elf32Big", false, true}),
                         [](const auto &info) { return std::string(info.param.label); });

TEST(VerQueryValue, PathsAndNames)
{
    ElfSpec e;
    e.record = makeRecord(false, RecordSpec{});
    Block b = readBlock(makeElf(e));
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(queryText(b, "\\stringfileinfo\\040904e4\\fileversion"), "2.1");
    EXPECT_EQ(queryText(b, "\\StringFileInfo\\040904E5\\FileVersion"), "<none>"); // other code page
    EXPECT_EQ(queryText(b, "\\StringFileInfo\\04090\\FileVersion"), "<none>");
    EXPECT_EQ(queryText(b, "\\StringFileInfo\\040904E4\\"), "<none>");
    EXPECT_EQ(queryText(b, "\\StringFileInfo\\040904E4\\Missing"), "<none>");
    EXPECT_EQ(queryText(b, "\\StringFileInfo\\040904E4\\FileVersion\\x"), "<none>");
    EXPECT_EQ(queryText(b, "\\StringFileInfo\\040904E4\\2.1"), "<none>"); // a value is no key
    EXPECT_EQ(queryText(b, "StringFileInfo\\040904E4\\FileVersion"), "<none>");
    EXPECT_EQ(queryText(b, ""), "<none>");
    const void *value = nullptr;
    uint32_t length = 0;
    EXPECT_FALSE(verQueryValue(nullptr, "\\", &value, &length));
    EXPECT_FALSE(verQueryValue(static_cast<const uint8_t *>(b.data()) + 1, "\\", &value, &length));
}

TEST(VersionRecord, StringTableEdges)
{
    struct Row {
        const char *label;
        std::string strings;
        int64_t stringsSize;
        const char *fileVersion, *product;
    } rows[] = {
        {"NoStrings", std::string(), -1, "<none>", "<none>"},
        {"EmptyValue", std::string("FileVersion\0\0", 13), -1, "", "<none>"},
        {"KeyWithoutValueEndsTable",
         std::string("FileVersion\0"
                     "2.1\0"
                     "ProductName",
                     27),
         -1, "2.1", "<none>"},
        {"ValueWithoutTerminatorEndsTable",
         std::string("ProductName\0Demo\0FileVersion\0"
                     "2.1",
                     32),
         -1, "<none>", "Demo"},
        {"EmptyKeyEndsTable",
         std::string("\0FileVersion\0"
                     "2.1\0",
                     17),
         -1, "<none>", "<none>"},
        {"SizeCutsTheValue",
         std::string("FileVersion\0"
                     "2.1\0",
                     16),
         14, "<none>", "<none>"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        RecordSpec r;
        r.strings = row.strings;
        r.stringsSize = row.stringsSize;
        ElfSpec e;
        e.record = makeRecord(false, r);
        Block b = readBlock(makeElf(e));
        ASSERT_FALSE(b.empty());
        EXPECT_EQ(queryText(b, "\\StringFileInfo\\040904E4\\FileVersion"), row.fileVersion);
        EXPECT_EQ(queryText(b, "\\StringFileInfo\\040904E4\\ProductName"), row.product);
    }
}

TEST(VersionRecord, LongerHeaderOfALaterFormatIsSkipped)
{
    RecordSpec r;
    r.format = 2;
    r.headerSize = 36;
    ElfSpec e;
    e.record = makeRecord(false, r);
    EXPECT_EQ(queryText(readBlock(makeElf(e)), "\\StringFileInfo\\040904E4\\FileVersion"), "2.1");
}

struct Hostile {
    const char *label;
    std::function<void(ElfSpec &)> make;
};

class HostileImages : public ::testing::TestWithParam<Hostile>
{
};

TEST_P(HostileImages, GiveNoVersionInformation)
{
    for (bool is64 : {true, false}) {
        ElfSpec e;
        e.is64 = is64;
        e.record = makeRecord(false, RecordSpec{});
        GetParam().make(e);
        EXPECT_TRUE(readBlock(makeElf(e)).empty()) << (is64 ? "64-bit" : "32-bit");
    }
}

namespace
{

// Helpers that bend one field of the finished image.
std::function<void(Bytes &, Writer &, size_t, size_t)> header(size_t off64, size_t off32,
                                                              uint64_t v, int w64, int w32)
{
    return [=](Bytes &out, Writer &w, size_t, size_t) {
        bool is64 = out[4] == 2;
        w.put(is64 ? off64 : off32, v, is64 ? w64 : w32);
    };
}
std::function<void(Bytes &, Writer &, size_t, size_t)>
sectionField(size_t index, size_t off64, size_t off32, uint64_t v, int w64, int w32)
{
    return [=](Bytes &out, Writer &w, size_t shoff, size_t shentsize) {
        bool is64 = out[4] == 2;
        w.put(shoff + index * shentsize + (is64 ? off64 : off32), v, is64 ? w64 : w32);
    };
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Elf, HostileImages,
    ::testing::Values(
        Hostile{"NoSection", [](ElfSpec &e) { e.sectionName = ".fileversio"; }},
        Hostile{"LongerName", [](ElfSpec &e) { e.sectionName = ".fileversion2"; }},
        Hostile{"NobitsSection", [](ElfSpec &e) { e.versionType = 8; }},
        Hostile{"BadMagic", [](ElfSpec &e) { e.record[0] = 'X'; }},
        Hostile{"RecordShorterThanHeader", [](ElfSpec &e) { e.record.resize(27); }},
        Hostile{"HeaderSizeBelow28", [](ElfSpec &e) {
            RecordSpec r; r.headerSize = 20; e.record = makeRecord(false, r); e.record.resize(28); }},
        Hostile{"HeaderSizePastSection", [](ElfSpec &e) { e.record[10] = 0xFF; e.record[11] = 0x7F; }},
        Hostile{"FormatZero", [](ElfSpec &e) { e.record[8] = 0; }},
        Hostile{"StringsSizePastSection", [](ElfSpec &e) {
            RecordSpec r; r.stringsSize = 34; e.record = makeRecord(false, r); }},
        Hostile{"StringsSizeHuge", [](ElfSpec &e) {
            RecordSpec r; r.stringsSize = 0xFFFFFFFF; e.record = makeRecord(false, r); }},
        Hostile{"NoSectionTable", [](ElfSpec &e) { e.bend = header(40, 32, 0, 8, 4); }},
        Hostile{"SectionTablePastEnd", [](ElfSpec &e) { e.bend = header(40, 32, 0xFFFFFFF0, 8, 4); }},
        Hostile{"SectionTableOffsetWraps", [](ElfSpec &e) { e.bend = header(40, 32, ~uint64_t(0) - 8, 8, 4); }},
        Hostile{"EntrySizeTooSmall", [](ElfSpec &e) { e.bend = header(58, 46, 16, 2, 2); }},
        Hostile{"EntrySizeZero", [](ElfSpec &e) { e.bend = header(58, 46, 0, 2, 2); }},
        Hostile{"MoreSectionsThanFile", [](ElfSpec &e) { e.bend = header(60, 48, 0xFFFE, 2, 2); }},
        Hostile{"NameTableIndexOutOfRange", [](ElfSpec &e) { e.bend = header(62, 50, 3, 2, 2); }},
        Hostile{"ExtendedIndexWithoutSectionZero", [](ElfSpec &e) { e.bend = header(62, 50, 0xFFFF, 2, 2); }},
        Hostile{"ExtendedCountHuge", [](ElfSpec &e) {
            auto count = header(60, 48, 0, 2, 2);
            auto size = sectionField(0, 32, 20, 0xFFFFFFFF, 8, 4);
            e.bend = [=](Bytes &o, Writer &w, size_t s, size_t n) { count(o, w, s, n); size(o, w, s, n); }; }},
        Hostile{"NameTablePastEnd", [](ElfSpec &e) { e.bend = sectionField(1, 24, 16, 0xFFFFFF00, 8, 4); }},
        Hostile{"NameTableSizeWraps", [](ElfSpec &e) { e.bend = sectionField(1, 32, 20, ~uint64_t(0), 8, 4); }},
        Hostile{"NameOffsetAtEndOfTable", [](ElfSpec &e) { e.bend = sectionField(2, 0, 0, 22, 4, 4); }},
        Hostile{"NameOffsetHuge", [](ElfSpec &e) { e.bend = sectionField(2, 0, 0, 0xFFFFFFFF, 4, 4); }},
        Hostile{"RecordPastEnd", [](ElfSpec &e) { e.bend = sectionField(2, 32, 20, 0x7FFFFFFF, 8, 4); }},
        Hostile{"RecordOffsetWraps", [](ElfSpec &e) { e.bend = sectionField(2, 24, 16, ~uint64_t(0), 8, 4); }},
        Hostile{"UnknownClass", [](ElfSpec &e) { e.bend = [](Bytes &o, Writer &, size_t, size_t) { o[4] = 3; }; }},
        Hostile{"UnknownByteOrder", [](ElfSpec &e) { e.bend = [](Bytes &o, Writer &, size_t, size_t) { o[5] = 0; }; }},
        Hostile{"BadElfVersion", [](ElfSpec &e) { e.bend = [](Bytes &o, Writer &, size_t, size_t) { o[6] = 2; }; }},
        Hostile{"NotElf", [](ElfSpec &e) { e.bend = [](Bytes &o, Writer &, size_t, size_t) { o[1] = 'e'; }; }}),
    [](const auto &info) { return std::string(info.param.label); });

TEST(VersionRecord, EveryTruncationOfAnImageGivesNothing)
{
    for (bool is64 : {true, false}) {
        ElfSpec e;
        e.is64 = is64;
        e.record = makeRecord(false, RecordSpec{});
        const Bytes whole = makeElf(e);
        ASSERT_FALSE(readBlock(whole).empty());
        for (size_t n = 0; n < whole.size(); ++n)
            EXPECT_TRUE(versionBlockFromElf(std::span(whole.data(), n)).empty()) << n;
    }
}

TEST(FileVersionInfo, RealLibraryStampedFromC)
{
    for (const char *path : {QUORLIN_STAMPED_LIB, QUORLIN_STAMPED_STRIPPED}) {
        SCOPED_TRACE(path);
        uint32_t size = getFileVersionInfoSize(path);
        ASSERT_GT(size, 0u);
        std::vector<uint32_t> data((size + 3) / 4);
        ASSERT_TRUE(getFileVersionInfo(path, size, data.data()));
        EXPECT_FALSE(getFileVersionInfo(path, size - 1, data.data())); // no longer fits
        Block b{data};
        EXPECT_EQ(queryText(b, "\\StringFileInfo\\040704E4\\FileVersion"), "2.1");
        EXPECT_EQ(queryText(b, "\\StringFileInfo\\040704E4\\ProductName"), "Stamped test library");
        const void *value = nullptr;
        uint32_t length = 0;
        ASSERT_TRUE(verQueryValue(b.data(), "\\", &value, &length));
        EXPECT_EQ(static_cast<const FixedFileInfo *>(value)->FileVersionLS, 0x00000007u);
        // The same bytes read from memory give the same block.
        Bytes fromMemory = versionBlockFromElf(readFile(path));
        ASSERT_EQ(fromMemory.size(), size);
        EXPECT_EQ(std::memcmp(fromMemory.data(), data.data(), size), 0);
    }
}

TEST(FileVersionInfo, FilesWithoutVersionInformation)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string d = dir.path().toStdString();
    std::ofstream(d + "/text.txt") << "QFILEVER .fileversion FileVersion 2.1\n";
    std::ofstream(d + "/empty.so");
    const Bytes lib = readFile(QUORLIN_STAMPED_LIB);
    std::ofstream(d + "/truncated.so", std::ios::binary)
        .write(reinterpret_cast<const char *>(lib.data()), std::streamsize(lib.size() / 2));
    ASSERT_EQ(::mkfifo((d + "/fifo").c_str(), 0600), 0); // must not block the reader
    for (const std::string &name : {d + "/text.txt", d + "/empty.so", d + "/truncated.so",
                                    d + "/fifo", d, d + "/missing.so", std::string()}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(getFileVersionInfoSize(name), 0u);
        uint32_t word = 0;
        EXPECT_FALSE(getFileVersionInfo(name, sizeof word, &word));
    }
}
