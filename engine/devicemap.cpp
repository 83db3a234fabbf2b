// SPDX-License-Identifier: MIT
#include "engine/devicemap.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <map>
#include <system_error>

#include "engine/csvrecords.h"

namespace quorlin
{

namespace
{

constexpr const char *FullHeader = "slave,register,name,type,order,scale,offset,unit,access,value";
constexpr int Columns = 10;

bool isBitTable(int RegType)
{
    return RegType == RegTypeCoil || RegType == RegTypeDiscreteInput;
}

struct TTypeName {
    const char *Name;
    TValueKind Kind;
};
constexpr TTypeName TypeNames[] = {
    {"u16", TValueKind::Unsigned}, {"s16", TValueKind::Signed}, {"hex", TValueKind::Hex},
    {"bits", TValueKind::Binary},  {"ascii", TValueKind::Ascii}, {"u32", TValueKind::U32},
    {"s32", TValueKind::S32},      {"f32", TValueKind::F32},     {"u64", TValueKind::U64},
    {"s64", TValueKind::S64},      {"f64", TValueKind::F64},
};

constexpr const char *OrderNames[] = {"ABCD", "CDAB", "BADC", "DCBA"};

// "ascii" alone is one register; "ascii8" is eight characters in four.
bool parseType(const std::string &Text, TMapItem &Item)
{
    const std::string t = lower(Text);
    if (t.rfind("ascii", 0) == 0 && t.size() > 5) {
        int n = 0;
        const char *last = t.data() + t.size();
        const auto [end, ec] = std::from_chars(t.data() + 5, last, n);
        if (ec != std::errc() || end != last || n < 1 || n > MaxAsciiLength)
            return false;
        Item.Format = {TValueKind::Ascii, TWordOrder::ABCD};
        Item.AsciiLength = n;
        return true;
    }
    for (const TTypeName &tn : TypeNames) {
        if (t == tn.Name) {
            Item.Format = {tn.Kind, TWordOrder::ABCD};
            Item.AsciiLength = tn.Kind == TValueKind::Ascii ? 2 : 0;
            return true;
        }
    }
    return false;
}

std::optional<TWordOrder> parseOrder(std::string Text)
{
    Text.erase(std::remove(Text.begin(), Text.end(), ' '), Text.end());
    for (char &c : Text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    if (Text.empty())
        return TWordOrder::ABCD;
    for (int i = 0; i < 4; ++i)
        if (Text == OrderNames[i])
            return TWordOrder(i);
    return std::nullopt;
}

std::optional<double> parseNumber(const std::string &Text, double Default)
{
    if (Text.empty())
        return Default;
    std::string_view digits = Text;
    if (digits.front() == '+')
        digits.remove_prefix(1);
    double v = 0;
    const char *last = digits.data() + digits.size();
    const auto [end, ec] = std::from_chars(digits.data(), last, v);
    if (ec != std::errc() || end != last || digits.empty() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::string numberText(double Value)
{
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, Value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

// A field as CSV writes it: quoted when it holds a separator, quote or line end.
std::string csvField(const std::string &Text, bool Always = false)
{
    if (!Always && Text.find_first_of(",\"\r\n") == std::string::npos)
        return Text;
    std::string q = "\"";
    for (char c : Text) {
        if (c == '"')
            q += '"';
        q += c;
    }
    return q + "\"";
}

} // namespace

int ItemSpan(const TMapItem &Item)
{
    if (isBitTable(Item.Register.RegType))
        return 1;
    if (Item.Format.Kind == TValueKind::Ascii)
        return std::max(1, (Item.AsciiLength + 1) / 2);
    return RegisterSpan(Item.Format.Kind);
}

std::string ItemTypeName(const TMapItem &Item)
{
    if (isBitTable(Item.Register.RegType))
        return "bit";
    if (Item.Format.Kind == TValueKind::Ascii)
        return Item.AsciiLength == 2 ? "ascii" : "ascii" + std::to_string(Item.AsciiLength);
    for (const TTypeName &tn : TypeNames)
        if (tn.Kind == Item.Format.Kind)
            return tn.Name;
    return "u16";
}

std::optional<std::vector<uint16_t>> ItemWords(const TMapItem &Item)
{
    if (Item.Value.empty())
        return std::nullopt;
    if (isBitTable(Item.Register.RegType)) {
        if (Item.Value == "0" || Item.Value == "1")
            return std::vector<uint16_t>{uint16_t(Item.Value == "1")};
        return std::nullopt;
    }
    if (Item.Format.Kind == TValueKind::Ascii) {
        // High byte first, the rest of the item filled with NUL.
        if (int(Item.Value.size()) > Item.AsciiLength)
            return std::nullopt;
        std::vector<uint16_t> words(size_t(ItemSpan(Item)), 0);
        for (size_t i = 0; i < Item.Value.size(); ++i) {
            const auto c = uint8_t(Item.Value[i]);
            if (c < 0x20 || c > 0x7E)
                return std::nullopt;
            words[i / 2] = uint16_t(words[i / 2] | (i % 2 == 0 ? c << 8 : c));
        }
        return words;
    }
    const TParsedValue parsed = ParseValue(Item.Format, Item.Value);
    if (!parsed.Ok)
        return std::nullopt;
    const int span = RegisterSpan(Item.Format.Kind);
    return std::vector<uint16_t>(parsed.Words.begin(), parsed.Words.begin() + span);
}

TMapImport ReadMapCsv(std::string_view Text, int SelectedSlave)
{
    TMapImport result;
    std::string firstError;
    int badLines = 0;
    auto bad = [&](int Line, const std::string &Why) {
        if (badLines++ == 0)
            firstError = "line " + std::to_string(Line) + ": " + Why;
    };

    // Per slave and table: first register -> (last register, line), to find overlaps.
    std::map<std::pair<int, int>, std::map<int, std::pair<int, int>>> taken;

    TRecordReader reader(Text);
    TRecord record;
    bool haveHeader = false;
    bool withSlave = false;
    while (reader.next(record)) {
        if (!record.Error.empty()) {
            bad(record.Line, record.Error);
            continue;
        }
        if (IsBlankRecord(record))
            continue;
        if (!haveHeader) {
            haveHeader = true;
            const std::string header = HeaderText(record);
            withSlave = header == FullHeader;
            if (!withSlave && header != std::string(FullHeader).substr(6)) {
                bad(record.Line, std::string("the header must be ") + FullHeader);
                break; // without columns nothing below can be read
            }
            continue;
        }
        const size_t columns = withSlave ? Columns : Columns - 1;
        if (record.Fields.size() != columns) {
            bad(record.Line, "expected " + std::to_string(columns) + " fields, found " +
                                 std::to_string(record.Fields.size()));
            continue;
        }
        TMapItem item;
        item.Slave = SelectedSlave;
        size_t at = 0;
        if (withSlave) {
            const std::string id = trimmed(record.Fields[at++]);
            if (!id.empty()) {
                int n = 0;
                const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), n);
                if (ec != std::errc() || end != id.data() + id.size() || n < 1 || n > 255) {
                    bad(record.Line, id + " is not a slave id");
                    continue;
                }
                item.Slave = n;
            }
        }
        const std::string reg = trimmed(record.Fields[at++]);
        const auto ref = ParseRegisterName(reg, MaxTableRegisters);
        if (!ref) {
            bad(record.Line, (reg.empty() ? std::string("an empty field") : reg) +
                                 " is not a register");
            continue;
        }
        item.Register = *ref;
        item.Name = trimmed(record.Fields[at++]);
        const std::string type = trimmed(record.Fields[at++]);
        const std::string order = trimmed(record.Fields[at++]);
        const std::string scale = trimmed(record.Fields[at++]);
        const std::string offset = trimmed(record.Fields[at++]);
        item.Unit = trimmed(record.Fields[at++]);
        const std::string access = lower(trimmed(record.Fields[at++]));
        // An ASCII value keeps its spaces.
        item.Value = record.Fields[at];
        if (isBitTable(item.Register.RegType)) {
            if (!type.empty() && lower(type) != "bit") {
                bad(record.Line, reg + " is a bit: its type is bit or empty, not " + type);
                continue;
            }
        } else if (type.empty() || !parseType(type, item)) {
            bad(record.Line, (type.empty() ? std::string("an empty type") : type) +
                                 " is not a type (u16, s16, hex, bits, ascii, asciiN, u32, "
                                 "s32, f32, u64, s64, f64)");
            continue;
        }
        const auto ord = parseOrder(order);
        if (!ord) {
            bad(record.Line, order + " is not an order (ABCD, CDAB, BADC, DCBA)");
            continue;
        }
        if (RegisterSpan(item.Format.Kind) > 1)
            item.Format.Order = *ord;
        const auto sc = parseNumber(scale, 1);
        const auto of = parseNumber(offset, 0);
        if (!sc || *sc == 0) {
            bad(record.Line, scale + " is not a scale (a number other than 0)");
            continue;
        }
        if (!of) {
            bad(record.Line, offset + " is not an offset");
            continue;
        }
        item.Scale = *sc;
        item.Offset = *of;
        if (access == "ro" || access == "rw" || access.empty()) {
            item.ReadOnly = access == "ro";
        } else {
            bad(record.Line, access + " is not an access (rw or ro)");
            continue;
        }
        if (item.Format.Kind != TValueKind::Ascii)
            item.Value = trimmed(item.Value);
        if (!item.Value.empty() && !ItemWords(item)) {
            bad(record.Line, "'" + item.Value + "' is not a value of type " + ItemTypeName(item));
            continue;
        }
        const int first = item.Register.RegAdr;
        const int last = first + ItemSpan(item) - 1;
        if (last > MaxTableRegisters) {
            bad(record.Line, reg + " as " + ItemTypeName(item) + " runs past register 65536");
            continue;
        }
        auto &ranges = taken[{item.Slave, item.Register.RegType}];
        auto next = ranges.lower_bound(first);
        bool overlaps = next != ranges.end() && next->first <= last;
        if (!overlaps && next != ranges.begin())
            overlaps = std::prev(next)->second.first >= first;
        if (overlaps) {
            const int other = next != ranges.end() && next->first <= last
                                  ? next->second.second
                                  : std::prev(next)->second.second;
            bad(record.Line, reg + " overlaps the item of line " + std::to_string(other));
            continue;
        }
        ranges[first] = {last, record.Line};
        result.Items.push_back(std::move(item));
    }
    if (!haveHeader && badLines == 0)
        bad(1, std::string("the file is empty; the header must be ") + FullHeader);
    if (badLines > 0) {
        result.Items.clear();
        result.Error = firstError;
        if (badLines > 1)
            result.Error += " (and " + std::to_string(badLines - 1) + " more bad line" +
                            (badLines > 2 ? "s" : "") + ")";
        return result;
    }
    result.Ok = true;
    return result;
}

std::string WriteMapCsv(const std::vector<TMapItem> &Items)
{
    std::string out = std::string(FullHeader) + "\r\n";
    for (const TMapItem &item : Items) {
        const bool wide = RegisterSpan(item.Format.Kind) > 1 && !isBitTable(item.Register.RegType);
        out += std::to_string(item.Slave) + ',';
        out += RegisterName(item.Register) + ',';
        out += csvField(item.Name) + ',';
        out += ItemTypeName(item) + ',';
        out += (wide ? OrderNames[int(item.Format.Order)] : "") + std::string(",");
        out += numberText(item.Scale) + ',';
        out += numberText(item.Offset) + ',';
        out += csvField(item.Unit) + ',';
        out += item.ReadOnly ? "ro," : "rw,";
        // Leading or trailing spaces of an ASCII value survive only quoted.
        const bool padded = !item.Value.empty() &&
                            (item.Value.front() == ' ' || item.Value.back() == ' ');
        out += csvField(item.Value, padded);
        out += "\r\n";
    }
    return out;
}

int MapExtent(const std::vector<TMapItem> &Items, int Slave)
{
    int extent = 0;
    for (const TMapItem &item : Items)
        if (item.Slave == Slave)
            extent = std::max(extent, item.Register.RegAdr + ItemSpan(item) - 1);
    return extent;
}

void ApplyMap(const std::vector<TMapItem> &Items, int Slave, TRegisterTables &Tables,
              TAccessMap &Access)
{
    Access.Clear();
    for (const TMapItem &item : Items) {
        if (item.Slave != Slave)
            continue;
        const int first = item.Register.RegAdr;
        const int last = std::min(first + ItemSpan(item) - 1, Tables.TableSize(item.Register.RegType));
        if (last < first)
            continue;
        Access.Add(item.Register.RegType, first, last, item.ReadOnly);
        if (const auto words = ItemWords(item))
            for (int i = 0; first + i <= last; ++i)
                Tables.WriteRegister(item.Register.RegType, first + i, (*words)[size_t(i)]);
    }
}

namespace
{

bool isIntegerKind(TValueKind Kind)
{
    return Kind != TValueKind::Ascii && Kind != TValueKind::F32 && Kind != TValueKind::F64;
}

// The raw number the registers hold, for a numeric item.
double rawNumber(TValueFormat Format, std::span<const uint16_t> Words)
{
    const uint64_t bits = DecodeBits(Words, Format.Kind, Format.Order);
    switch (Format.Kind) {
    case TValueKind::Signed:
        return int16_t(uint16_t(bits));
    case TValueKind::S32:
        return int32_t(uint32_t(bits));
    case TValueKind::S64:
        return double(int64_t(bits));
    case TValueKind::F32:
        return std::bit_cast<float>(uint32_t(bits));
    case TValueKind::F64:
        return std::bit_cast<double>(bits);
    default:
        return double(bits);
    }
}

// Twelve significant digits: enough for any scaled reading, and no
// 0.30000000000000004 from a scale of 0.1.
std::string engineeringText(double Value)
{
    if (std::isnan(Value))
        return "nan";
    if (std::isinf(Value))
        return Value < 0 ? "-inf" : "inf";
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, Value,
                                         std::chars_format::general, 12);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

TItemWords refused(std::string Why)
{
    TItemWords w;
    w.Error = std::move(Why);
    return w;
}

} // namespace

std::string FormatTypeText(TValueFormat Format)
{
    TMapItem item;
    item.Format = Format;
    item.AsciiLength = Format.Kind == TValueKind::Ascii ? 2 : 0;
    std::string text = ItemTypeName(item);
    if (RegisterSpan(Format.Kind) > 1)
        text += std::string(" ") + OrderNames[int(Format.Order)];
    return text;
}

std::optional<TValueFormat> ParseFormatType(std::string_view Text)
{
    const std::string t = trimmed(Text);
    const size_t space = t.find(' ');
    TMapItem item;
    if (!parseType(t.substr(0, space), item) || item.AsciiLength > 2)
        return std::nullopt;
    const auto order = parseOrder(space == std::string::npos ? std::string() : t.substr(space));
    if (!order)
        return std::nullopt;
    if (RegisterSpan(item.Format.Kind) > 1)
        item.Format.Order = *order;
    else if (space != std::string::npos)
        return std::nullopt; // "u16 CDAB" names an order a register does not have
    return item.Format;
}

std::string ItemValueText(const TMapItem &Item, std::span<const uint16_t> Words)
{
    if (isBitTable(Item.Register.RegType))
        return !Words.empty() && Words[0] ? "1" : "0";
    if (Item.Format.Kind != TValueKind::Ascii) {
        if (Words.size() < size_t(RegisterSpan(Item.Format.Kind)))
            return {};
        return FormatValue(Item.Format, Words);
    }
    // The characters up to the first NUL, as the value column writes them.
    std::string text;
    for (int i = 0; i < Item.AsciiLength && size_t(i / 2) < Words.size(); ++i) {
        const auto c = uint8_t(i % 2 == 0 ? Words[size_t(i / 2)] >> 8 : Words[size_t(i / 2)]);
        if (c == 0)
            break;
        text += c >= 0x20 && c <= 0x7E ? char(c) : '?';
    }
    return text;
}

std::string ItemEngineeringText(const TMapItem &Item, std::span<const uint16_t> Words)
{
    if (isBitTable(Item.Register.RegType) || Item.Format.Kind == TValueKind::Ascii ||
        Words.size() < size_t(RegisterSpan(Item.Format.Kind)))
        return {};
    // An unscaled integer is shown whole, 64 bits included.
    if (Item.Scale == 1 && Item.Offset == 0 && isIntegerKind(Item.Format.Kind) &&
        Item.Format.Kind != TValueKind::Hex && Item.Format.Kind != TValueKind::Binary)
        return FormatValue(Item.Format, Words);
    return engineeringText(rawNumber(Item.Format, Words) * Item.Scale + Item.Offset);
}

TItemWords ItemWordsFromText(const TMapItem &Item, std::string_view Text)
{
    TMapItem typed = Item;
    typed.Value = std::string(Text);
    if (typed.Format.Kind != TValueKind::Ascii)
        typed.Value = trimmed(typed.Value);
    if (typed.Value.empty())
        return refused("an empty field is no value");
    const auto words = ItemWords(typed);
    if (!words)
        return refused("'" + std::string(Text) + "' is not a value of type " + ItemTypeName(Item));
    TItemWords w;
    w.Ok = true;
    w.Words = *words;
    return w;
}

TItemWords ItemWordsFromEngineering(const TMapItem &Item, std::string_view Text)
{
    if (isBitTable(Item.Register.RegType) || Item.Format.Kind == TValueKind::Ascii)
        return refused(ItemTypeName(Item) + " has no engineering value");
    const auto number = parseNumber(trimmed(Text), std::nan(""));
    if (!number || std::isnan(*number))
        return refused("'" + std::string(Text) + "' is not a number");
    const double raw = (*number - Item.Offset) / Item.Scale;
    std::string rawText;
    TValueFormat format = Item.Format;
    if (!isIntegerKind(format.Kind)) {
        rawText = numberText(raw);
    } else {
        // The range check is made on the rounded double, before any conversion.
        const double whole = std::round(raw);
        if (!std::isfinite(whole) || whole >= 18446744073709551616.0 ||
            whole < -9223372036854775808.0)
            return refused(std::string(Text) + " is out of the range of " + ItemTypeName(Item));
        if (format.Kind == TValueKind::S64 || whole < 0) {
            if (whole >= 9223372036854775808.0)
                return refused(std::string(Text) + " is out of the range of " +
                               ItemTypeName(Item));
            rawText = std::to_string(int64_t(whole));
        } else {
            rawText = std::to_string(uint64_t(whole));
        }
        // Hexadecimal and binary registers take the number as a plain one.
        if (format.Kind == TValueKind::Hex || format.Kind == TValueKind::Binary)
            format.Kind = TValueKind::Unsigned;
    }
    const TParsedValue parsed = ParseValue(format, rawText);
    if (!parsed.Ok)
        return refused(std::string(Text) + " is out of the range of " + ItemTypeName(Item));
    TItemWords w;
    w.Ok = true;
    w.Words.assign(parsed.Words.begin(), parsed.Words.begin() + RegisterSpan(format.Kind));
    return w;
}

} // namespace quorlin
