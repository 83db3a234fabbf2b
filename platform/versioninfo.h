// SPDX-License-Identifier: MIT
// Reading the version record that platform/fileversion.h stamps into an ELF
// file, with the three calls a version query needs: the size of the version
// block, the block itself, and a query of one value inside it.
//
// The reader never trusts the file: 32- and 64-bit ELF of either byte order are
// parsed with every offset and size checked against the file, at most a few
// bounded reads are made, and anything that is not a well-formed ELF file
// with a well-formed record (a text file, a directory, a truncated or hostile
// file, a missing file) simply has no version information.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin
{

// The fixed part, answered for the query "\".
struct FixedFileInfo {
    uint32_t Signature;     // FixedFileInfoSignature
    uint32_t StrucVersion;  // 0x00010000
    uint32_t FileVersionMS; // major << 16 | minor
    uint32_t FileVersionLS; // release << 16 | build
};
inline constexpr uint32_t FixedFileInfoSignature = 0xFEEF04BD;

// Caps on what the reader will look at; larger files are fine, larger parts are not.
inline constexpr size_t MaxSectionHeaderTableBytes = 4u << 20;
inline constexpr size_t MaxVersionSectionBytes = 64u << 10;

// Size of the version block of fileName in bytes, 0 when it has none.
uint32_t getFileVersionInfoSize(const std::string &fileName);

// Fills data (size bytes, as given by getFileVersionInfoSize) with the version
// block; false when the file has none or the block no longer fits.
bool getFileVersionInfo(const std::string &fileName, uint32_t size, void *data);

// Looks up subBlock in a block filled by getFileVersionInfo:
//   "\"                                 -> FixedFileInfo
//   "\VarFileInfo\Translation"          -> uint16_t[2]: language, code page
//   "\StringFileInfo\<lang><cp>\<name>" -> NUL-terminated text; <lang><cp> is
//                                          8 hex digits, e.g. 040904E4
// Path names and hex digits match without regard to case. *buffer points into
// the block; *length is the value's size in bytes (text: characters + NUL).
bool verQueryValue(const void *block, std::string_view subBlock, const void **buffer,
                   uint32_t *length);

// The version block of an ELF image held in memory; empty when it has none.
// The entry point the fuzzer and the tests drive.
std::vector<uint8_t> versionBlockFromElf(std::span<const uint8_t> image);

} // namespace quorlin
