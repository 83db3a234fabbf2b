/* SPDX-License-Identifier: MIT
 * File version information for ELF programs and libraries.
 *
 * ELF has no version resources, so a program or script library stamps one
 * record into a section of its own, ".fileversion", with this macro, used
 * once at file scope in one source file of the program or library:
 *
 *   #include "platform/fileversion.h"
 *   QUORLIN_FILE_VERSION(1, 0, 0, 1,      // fixed file version 1.0.0.1
 *                        0x0409, 1252,    // language, code page
 *                        QUORLIN_VERSION_STRING("FileVersion", "1.0.0.1")
 *                        QUORLIN_VERSION_STRING("ProductName", "Quorlin"));
 *
 * The strings are optional (a record without "FileVersion" reports its fixed
 * version as "1.0.0.1"); note that the QUORLIN_VERSION_STRING pairs are not
 * separated by commas. The macro works in C and C++. The section is allocated
 * (part of a loaded segment), marked used and retained, so neither the
 * compiler, --gc-sections nor strip(1) removes it.
 *
 * Layout of the record, every number in the byte order of the ELF file (the
 * compiler's target order) and at its natural alignment:
 *
 *   offset size  field
 *        0    8  Magic        "QFILEVER" (no terminator)
 *        8    2  Format       1; later formats only append header fields
 *       10    2  HeaderSize   28 for format 1; the strings start here
 *       12    8  Fixed[4]     file version: major, minor, release, build
 *       20    2  Language     e.g. 0x0409
 *       22    2  CodePage     e.g. 1252 (0x04E4)
 *       24    4  StringsSize  bytes of the string table that follows
 *       28    n  Strings      key NUL value NUL ... then an empty key (NUL)
 *
 * Keys and values are 8-bit text without embedded NULs. Readers treat a key
 * whose value or terminator falls outside StringsSize as the end of the
 * table. Should several records be linked into one file, the first counts.
 */
#ifndef QUORLIN_FILEVERSION_H
#define QUORLIN_FILEVERSION_H

#include <stdint.h>

#define QUORLIN_FILE_VERSION_MAGIC "QFILEVER"
#define QUORLIN_FILE_VERSION_FORMAT 1
#define QUORLIN_FILE_VERSION_HEADER_SIZE 28
#define QUORLIN_FILE_VERSION_SECTION_NAME ".fileversion"

#if defined(__has_attribute)
#if __has_attribute(retain)
#define QUORLIN_FILE_VERSION_RETAIN , retain
#endif
#endif
#ifndef QUORLIN_FILE_VERSION_RETAIN
#define QUORLIN_FILE_VERSION_RETAIN
#endif

/* One key/value pair of the string table; pairs follow each other without commas. */
#define QUORLIN_VERSION_STRING(key_, value_) key_ "\0" value_ "\0"

#define QUORLIN_FILE_VERSION(major_, minor_, release_, build_, language_, codepage_, ...)          \
    __attribute__((section(QUORLIN_FILE_VERSION_SECTION_NAME), used QUORLIN_FILE_VERSION_RETAIN))  \
    __attribute__((aligned(4))) static const struct {                                              \
        char Magic[8];                                                                             \
        uint16_t Format;                                                                           \
        uint16_t HeaderSize;                                                                       \
        uint16_t Fixed[4];                                                                         \
        uint16_t Language;                                                                         \
        uint16_t CodePage;                                                                         \
        uint32_t StringsSize;                                                                      \
        char Strings[sizeof(__VA_ARGS__ "")];                                                      \
    } quorlin_file_version_record = {{'Q', 'F', 'I', 'L', 'E', 'V', 'E', 'R'},                     \
                                     QUORLIN_FILE_VERSION_FORMAT,                                  \
                                     QUORLIN_FILE_VERSION_HEADER_SIZE,                             \
                                     {(major_), (minor_), (release_), (build_)},                   \
                                     (language_),                                                  \
                                     (codepage_),                                                  \
                                     sizeof(__VA_ARGS__ ""),                                       \
                                     __VA_ARGS__ ""}

#endif /* QUORLIN_FILEVERSION_H */
