// SPDX-License-Identifier: MIT
// Typed views of registers: one register as a number, hexadecimal, binary or
// two characters; two registers as a 32-bit integer or float; four registers
// as a 64-bit integer or float, each wide value in one of four byte orders.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quorlin
{

enum class TValueKind : uint8_t {
    Unsigned, // 0..65535
    Signed,   // -32768..32767
    Hex,      // four hexadecimal digits
    Binary,   // sixteen binary digits
    Ascii,    // two characters, the register's high byte first
    U32,      // this register and the next
    S32,
    F32,
    F64, // this register and the next three
    U64,
    S64,
};

// The value's bytes, most significant first, are A B C D (E F G H for 64
// bits); each order names what the first and the second register hold, a
// register's high byte written first.
enum class TWordOrder : uint8_t {
    ABCD, // big-endian: register n = AB, n+1 = CD (n+2 = EF, n+3 = GH)
    CDAB, // words swapped: n = CD, n+1 = AB (GH EF CD AB)
    BADC, // bytes swapped in each word: n = BA, n+1 = DC (BA DC FE HG)
    DCBA, // little-endian: n = DC, n+1 = BA (HG FE DC BA)
};

struct TValueFormat {
    TValueKind Kind = TValueKind::Unsigned;
    TWordOrder Order = TWordOrder::ABCD; // ignored by one-register kinds

    bool operator==(const TValueFormat &) const = default;
};

// How many registers a value of this kind occupies: 1, 2 or 4.
int RegisterSpan(TValueKind Kind);

// "Unsigned", "Float 32 CD AB", ...: shown in menus and the format column.
std::string FormatName(TValueFormat Format);

// Turns the value into registers and back. Words holds RegisterSpan words,
// register n first.
std::array<uint16_t, 4> EncodeBits(uint64_t Bits, TValueKind Kind, TWordOrder Order);
uint64_t DecodeBits(std::span<const uint16_t> Words, TValueKind Kind, TWordOrder Order);

// The text shown for Words (RegisterSpan(Format.Kind) registers).
std::string FormatValue(TValueFormat Format, std::span<const uint16_t> Words);

struct TParsedValue {
    bool Ok = false;
    std::array<uint16_t, 4> Words{}; // the first RegisterSpan entries are used
    std::string Error;               // why the text was refused, when not Ok
};

enum class TNumberCheck { Ok, NotWhole, OutOfRange };

// A whole decimal number within [Min, Max]: one optional sign, then digits
// and nothing else ("1.0", "true" and "+-5" are NotWhole). Value is set only
// when Ok.
TNumberCheck ParseWholeNumber(std::string_view Text, int64_t Min, int64_t Max, int64_t &Value);

// Reads what a user typed for a value of this format. Text that is not such
// a value, or a value the format cannot hold, is refused with a reason.
TParsedValue ParseValue(TValueFormat Format, std::string_view Text);

} // namespace quorlin
