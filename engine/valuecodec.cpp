// SPDX-License-Identifier: MIT
#include "engine/valuecodec.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace quorlin
{

namespace
{

const char *orderName(TWordOrder Order)
{
    switch (Order) {
    case TWordOrder::ABCD:
        return "AB CD";
    case TWordOrder::CDAB:
        return "CD AB";
    case TWordOrder::BADC:
        return "BA DC";
    case TWordOrder::DCBA:
        return "DC BA";
    }
    return "";
}

std::string_view trim(std::string_view Text)
{
    while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t'))
        Text.remove_prefix(1);
    while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t'))
        Text.remove_suffix(1);
    return Text;
}

uint16_t swapBytes(uint16_t Word)
{
    return uint16_t(Word << 8 | Word >> 8);
}

TParsedValue refuse(std::string Reason)
{
    TParsedValue r;
    r.Error = std::move(Reason);
    return r;
}

TParsedValue accept(uint64_t Bits, TValueFormat Format)
{
    TParsedValue r;
    r.Ok = true;
    r.Words = EncodeBits(Bits, Format.Kind, Format.Order);
    return r;
}

std::string quoted(std::string_view Text)
{
    return "'" + std::string(Text) + "'";
}

// One optional sign in front of Text: "+-5" and "-+5" are no numbers. The
// '+' is dropped, because from_chars takes only a '-'.
bool dropPlus(std::string_view &Digits)
{
    if (!Digits.empty() && Digits.front() == '+') {
        Digits.remove_prefix(1);
        if (!Digits.empty() && (Digits.front() == '-' || Digits.front() == '+'))
            return false;
    }
    return true;
}

TParsedValue parseInteger(TValueFormat Format, std::string_view Text, int64_t Min, int64_t Max)
{
    int64_t v = 0;
    switch (ParseWholeNumber(Text, Min, Max, v)) {
    case TNumberCheck::Ok:
        return accept(uint64_t(v), Format);
    case TNumberCheck::NotWhole:
        return refuse(quoted(Text) + " is not a whole number");
    case TNumberCheck::OutOfRange:
        break;
    }
    return refuse(quoted(Text) + " does not fit " + FormatName(Format) + " (" +
                  std::to_string(Min) + " to " + std::to_string(Max) + ")");
}

// 0..2^64-1, which a signed 64-bit bound cannot express; a leading '+' allowed.
TParsedValue parseUnsigned64(TValueFormat Format, std::string_view Text)
{
    std::string_view digits = Text;
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    uint64_t v = 0;
    const char *last = digits.data() + digits.size();
    const auto [end, ec] = std::from_chars(digits.data(), last, v);
    if (digits.empty() || digits.front() == '-' || ec == std::errc::invalid_argument ||
        end != last) {
        if (!digits.empty() && digits.front() == '-' && digits.size() > 1 &&
            digits.find_first_not_of("0123456789", 1) == std::string_view::npos)
            return refuse(quoted(Text) + " does not fit " + FormatName(Format) +
                          " (0 to 18446744073709551615)");
        return refuse(quoted(Text) + " is not a whole number");
    }
    if (ec == std::errc::result_out_of_range)
        return refuse(quoted(Text) + " does not fit " + FormatName(Format) +
                      " (0 to 18446744073709551615)");
    return accept(v, Format);
}

// Out of a double's range: too large or too small? A long double still
// holds most such texts; beyond it the exponent's sign tells.
bool tooSmall(std::string_view Digits)
{
    long double v = 0;
    const char *last = Digits.data() + Digits.size();
    const auto [end, ec] = std::from_chars(Digits.data(), last, v);
    if (ec == std::errc())
        return std::fabs(v) < 1;
    return Digits.find("e-") != std::string_view::npos ||
           Digits.find("E-") != std::string_view::npos;
}

// A finite decimal number. Infinity and NaN are refused: typed by accident
// they would be stored silently; their bits can still be entered in Hex.
// A value too small for the format is refused like one too large, rather
// than stored as 0.
TParsedValue parseFloat(TValueFormat Format, std::string_view Text)
{
    std::string_view digits = Text;
    double v = 0;
    const char *last = digits.data() + digits.size();
    if (!dropPlus(digits) || digits.empty())
        return refuse(quoted(Text) + " is not a number");
    const auto [end, ec] = std::from_chars(digits.data(), last, v);
    if (ec == std::errc::invalid_argument || end != last)
        return refuse(quoted(Text) + " is not a number");
    const std::string fits = quoted(Text) + " does not fit " + FormatName(Format);
    const std::string small = fits + " (too small: it would be stored as 0)";
    if (ec == std::errc::result_out_of_range)
        return refuse(tooSmall(digits) ? small : fits);
    if (!std::isfinite(v))
        return refuse(quoted(Text) + " is not a finite number (enter its bits in Hex instead)");
    if (Format.Kind == TValueKind::F64)
        return accept(std::bit_cast<uint64_t>(v), Format);
    const float f = float(v);
    if (std::isinf(f))
        return refuse(fits);
    if (f == 0 && v != 0)
        return refuse(small);
    return accept(std::bit_cast<uint32_t>(f), Format);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Digits of base 16 or 2, after an optional 0x / 0b; spaces and underscores
// may group them.
TParsedValue parseDigits(TValueFormat Format, std::string_view Text, int Base)
{
    std::string_view body = Text;
    const char prefix = Base == 16 ? 'x' : 'b';
    if (body.size() >= 2 && body[0] == '0' && (body[1] == prefix || body[1] == prefix - 32))
        body.remove_prefix(2);
    uint32_t v = 0;
    for (const char c : body) {
        if (c == ' ' || c == '_')
            continue;
        const int d = hexDigit(c);
        if (d < 0 || d >= Base)
            return refuse(quoted(Text) + (Base == 16 ? " is not hexadecimal" : " is not binary"));
        if (v == 0 && d == 0)
            continue; // leading zeros never overflow
        v = v * uint32_t(Base) + uint32_t(d);
        if (v > 0xFFFF)
            return refuse(quoted(Text) + " does not fit " + FormatName(Format));
    }
    if (body.find_first_not_of(" _") == std::string_view::npos)
        return refuse(quoted(Text) + (Base == 16 ? " is not hexadecimal" : " is not binary"));
    return accept(v, Format);
}

// Exactly two characters: printable ones as themselves, any byte as \xNN,
// a backslash as "\\".
TParsedValue parseAscii(TValueFormat Format, std::string_view Text)
{
    uint8_t bytes[2] = {};
    int count = 0;
    for (size_t i = 0; i < Text.size();) {
        uint8_t b = 0;
        if (Text[i] == '\\') {
            if (i + 1 < Text.size() && Text[i + 1] == '\\') {
                b = '\\';
                i += 2;
            } else if (i + 3 < Text.size() && (Text[i + 1] == 'x' || Text[i + 1] == 'X') &&
                       hexDigit(Text[i + 2]) >= 0 && hexDigit(Text[i + 3]) >= 0) {
                b = uint8_t(hexDigit(Text[i + 2]) * 16 + hexDigit(Text[i + 3]));
                i += 4;
            } else {
                return refuse(quoted(Text) + ": write a backslash as \\\\ and a byte as \\xNN");
            }
        } else {
            b = uint8_t(Text[i]);
            if (b < 0x20 || b > 0x7E)
                return refuse(quoted(Text) + ": write a character outside ASCII as \\xNN");
            ++i;
        }
        if (count == 2)
            return refuse(quoted(Text) + " is more than two characters");
        bytes[count++] = b;
    }
    if (count != 2)
        return refuse(quoted(Text) + " is not two characters");
    return accept(uint64_t(bytes[0]) << 8 | bytes[1], Format);
}

void appendAsciiByte(std::string &Out, uint8_t Byte)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    if (Byte == '\\') {
        Out += "\\\\";
    } else if (Byte >= 0x20 && Byte <= 0x7E) {
        Out += char(Byte);
    } else {
        Out += "\\x";
        Out += digits[Byte >> 4];
        Out += digits[Byte & 15];
    }
}

template <typename T> std::string shortest(T Value)
{
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, Value);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

} // namespace

int RegisterSpan(TValueKind Kind)
{
    switch (Kind) {
    case TValueKind::U32:
    case TValueKind::S32:
    case TValueKind::F32:
        return 2;
    case TValueKind::F64:
    case TValueKind::U64:
    case TValueKind::S64:
        return 4;
    default:
        return 1;
    }
}

std::string FormatName(TValueFormat Format)
{
    switch (Format.Kind) {
    case TValueKind::Unsigned:
        return "Unsigned";
    case TValueKind::Signed:
        return "Signed";
    case TValueKind::Hex:
        return "Hex";
    case TValueKind::Binary:
        return "Binary";
    case TValueKind::Ascii:
        return "ASCII";
    case TValueKind::U32:
        return std::string("Unsigned 32 ") + orderName(Format.Order);
    case TValueKind::S32:
        return std::string("Signed 32 ") + orderName(Format.Order);
    case TValueKind::F32:
        return std::string("Float 32 ") + orderName(Format.Order);
    case TValueKind::F64:
        return std::string("Float 64 ") + orderName(Format.Order);
    case TValueKind::U64:
        return std::string("Unsigned 64 ") + orderName(Format.Order);
    case TValueKind::S64:
        return std::string("Signed 64 ") + orderName(Format.Order);
    }
    return "";
}

std::array<uint16_t, 4> EncodeBits(uint64_t Bits, TValueKind Kind, TWordOrder Order)
{
    const int span = RegisterSpan(Kind);
    std::array<uint16_t, 4> words{};
    // Big-endian first: register n holds the most significant word.
    for (int i = 0; i < span; ++i)
        words[size_t(i)] = uint16_t(Bits >> (16 * (span - 1 - i)));
    if (span == 1)
        return words;
    if (Order == TWordOrder::CDAB || Order == TWordOrder::DCBA)
        for (int i = 0; i < span / 2; ++i)
            std::swap(words[size_t(i)], words[size_t(span - 1 - i)]);
    if (Order == TWordOrder::BADC || Order == TWordOrder::DCBA)
        for (int i = 0; i < span; ++i)
            words[size_t(i)] = swapBytes(words[size_t(i)]);
    return words;
}

uint64_t DecodeBits(std::span<const uint16_t> Words, TValueKind Kind, TWordOrder Order)
{
    const int span = RegisterSpan(Kind);
    std::array<uint16_t, 4> w{};
    for (int i = 0; i < span && size_t(i) < Words.size(); ++i)
        w[size_t(i)] = Words[size_t(i)];
    if (span > 1) {
        // Each reordering is its own inverse.
        if (Order == TWordOrder::BADC || Order == TWordOrder::DCBA)
            for (int i = 0; i < span; ++i)
                w[size_t(i)] = swapBytes(w[size_t(i)]);
        if (Order == TWordOrder::CDAB || Order == TWordOrder::DCBA)
            for (int i = 0; i < span / 2; ++i)
                std::swap(w[size_t(i)], w[size_t(span - 1 - i)]);
    }
    uint64_t bits = 0;
    for (int i = 0; i < span; ++i)
        bits = bits << 16 | w[size_t(i)];
    return bits;
}

std::string FormatValue(TValueFormat Format, std::span<const uint16_t> Words)
{
    const uint64_t bits = DecodeBits(Words, Format.Kind, Format.Order);
    switch (Format.Kind) {
    case TValueKind::Unsigned:
    case TValueKind::U32:
    case TValueKind::U64:
        return std::to_string(bits);
    case TValueKind::S64:
        return std::to_string(int64_t(bits));
    case TValueKind::Signed:
        return std::to_string(int16_t(uint16_t(bits)));
    case TValueKind::S32:
        return std::to_string(int32_t(uint32_t(bits)));
    case TValueKind::Hex: {
        static constexpr char digits[] = "0123456789ABCDEF";
        std::string s = "0x";
        for (int shift = 12; shift >= 0; shift -= 4)
            s += digits[(bits >> shift) & 15];
        return s;
    }
    case TValueKind::Binary: {
        std::string s;
        for (int bit = 15; bit >= 0; --bit) {
            s += (bits >> bit) & 1 ? '1' : '0';
            if (bit % 4 == 0 && bit > 0)
                s += ' ';
        }
        return s;
    }
    case TValueKind::Ascii: {
        std::string s;
        appendAsciiByte(s, uint8_t(bits >> 8));
        appendAsciiByte(s, uint8_t(bits));
        return s;
    }
    case TValueKind::F32:
        return shortest(std::bit_cast<float>(uint32_t(bits)));
    case TValueKind::F64:
        return shortest(std::bit_cast<double>(bits));
    }
    return "";
}

TNumberCheck ParseWholeNumber(std::string_view Text, int64_t Min, int64_t Max, int64_t &Value)
{
    std::string_view digits = Text;
    if (!dropPlus(digits) || digits.empty())
        return TNumberCheck::NotWhole;
    const char *last = digits.data() + digits.size();
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(digits.data(), last, v);
    if (ec == std::errc::invalid_argument || end != last)
        return TNumberCheck::NotWhole;
    if (ec == std::errc::result_out_of_range || v < Min || v > Max)
        return TNumberCheck::OutOfRange;
    Value = v;
    return TNumberCheck::Ok;
}

TParsedValue ParseValue(TValueFormat Format, std::string_view Text)
{
    const std::string_view t = trim(Text);
    if (t.empty())
        return refuse("an empty field is no value");
    switch (Format.Kind) {
    case TValueKind::Unsigned:
        return parseInteger(Format, t, 0, 0xFFFF);
    case TValueKind::Signed:
        return parseInteger(Format, t, -32768, 32767);
    case TValueKind::U32:
        return parseInteger(Format, t, 0, 0xFFFFFFFF);
    case TValueKind::S32:
        return parseInteger(Format, t, std::numeric_limits<int32_t>::min(),
                            std::numeric_limits<int32_t>::max());
    case TValueKind::U64:
        return parseUnsigned64(Format, t);
    case TValueKind::S64:
        return parseInteger(Format, t, std::numeric_limits<int64_t>::min(),
                            std::numeric_limits<int64_t>::max());
    case TValueKind::Hex:
        return parseDigits(Format, t, 16);
    case TValueKind::Binary:
        return parseDigits(Format, t, 2);
    case TValueKind::Ascii:
        return parseAscii(Format, Text); // spaces are characters here
    case TValueKind::F32:
    case TValueKind::F64:
        return parseFloat(Format, t);
    }
    return refuse("unknown format");
}

} // namespace quorlin
