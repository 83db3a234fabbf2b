// SPDX-License-Identifier: MIT
#include "engine/registercsv.h"
#include "engine/csvrecords.h"
#include "engine/valuecodec.h"

#include <charconv>
#include <system_error>

namespace quorlin
{

namespace
{

constexpr int32_t AllTypes[] = {RegTypeCoil, RegTypeDiscreteInput, RegTypeInputReg,
                                RegTypeHoldingReg};

// A decimal number with nothing else around it.
std::optional<int64_t> decimal(std::string_view Text)
{
    int64_t v = 0;
    const char *last = Text.data() + Text.size();
    const auto [end, ec] = std::from_chars(Text.data(), last, v);
    if (Text.empty() || ec != std::errc() || end != last)
        return std::nullopt;
    return v;
}

// A word: -32768..65535 (negatives as two's complement) or 0x0000..0xFFFF.
TNumberCheck wordValue(std::string_view Text, uint16_t &Word)
{
    if (Text.size() >= 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
        const std::string_view digits = Text.substr(2);
        const char *last = digits.data() + digits.size();
        uint64_t v = 0;
        const auto [end, ec] = std::from_chars(digits.data(), last, v, 16);
        if (digits.empty() || ec == std::errc::invalid_argument || end != last)
            return TNumberCheck::NotWhole;
        if (ec == std::errc::result_out_of_range || v > 0xFFFF)
            return TNumberCheck::OutOfRange;
        Word = uint16_t(v);
        return TNumberCheck::Ok;
    }
    int64_t v = 0;
    const TNumberCheck check = ParseWholeNumber(Text, -32768, 65535, v);
    if (check == TNumberCheck::Ok)
        Word = uint16_t(v);
    return check;
}

} // namespace

int RegisterCount(int32_t RegType)
{
    switch (RegType) {
    case RegTypeCoil:
    case RegTypeDiscreteInput:
        return BitRegisterCount;
    case RegTypeInputReg:
    case RegTypeHoldingReg:
        return WordRegisterCount;
    default:
        return 0;
    }
}

std::string RegisterName(TRegisterRef Ref)
{
    std::string number = std::to_string(Ref.RegAdr);
    if (number.size() < 4)
        number.insert(0, 4 - number.size(), '0');
    return std::to_string(Ref.RegType) + "x" + number;
}

std::optional<TRegisterRef> ParseRegisterName(std::string_view Text)
{
    const auto ref = ParseRegisterName(Text, MaxTableRegisters);
    if (!ref || ref->RegAdr > RegisterCount(ref->RegType))
        return std::nullopt;
    return ref;
}

std::optional<TRegisterRef> ParseRegisterName(std::string_view Text, int MaxRegister)
{
    if (Text.size() < 3 || Text.size() > 12 || (Text[1] != 'x' && Text[1] != 'X'))
        return std::nullopt;
    const int32_t type = Text[0] - '0';
    if (RegisterCount(type) == 0)
        return std::nullopt;
    const std::string_view digits = Text.substr(2);
    if (digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const auto n = decimal(digits);
    if (!n || *n < 1 || *n > MaxRegister)
        return std::nullopt;
    return TRegisterRef{type, int32_t(*n)};
}

std::string WriteValuesCsv(std::span<const TSlaveImage> Slaves)
{
    std::string out = "slave,register,value\r\n";
    for (const TSlaveImage &slave : Slaves) {
        if (!slave.Image)
            continue;
        const TRegisterTables &image = *slave.Image;
        const std::string id = std::to_string(slave.Id) + ",";
        for (const int32_t type : AllTypes) {
            const int count = image.TableSize(type);
            for (int n = 1; n <= count; ++n) {
                const unsigned value = image.ReadRegister(type, n);
                out += id;
                out += RegisterName({type, n});
                out += ',';
                out += std::to_string(value);
                out += "\r\n";
            }
        }
    }
    return out;
}

TValuesImport ReadValuesCsv(std::string_view Text, int SelectedSlave,
                            const std::function<bool(int)> &IsEmulated)
{
    return ReadValuesCsv(Text, SelectedSlave, [&IsEmulated](int Slave, int32_t RegType) {
        return IsEmulated && IsEmulated(Slave) ? RegisterCount(RegType) : 0;
    });
}

TValuesImport ReadValuesCsv(std::string_view Text, int SelectedSlave,
                            const TSlaveTableSize &TableSize)
{
    TValuesImport result;
    std::string firstError;
    int badLines = 0;
    auto bad = [&](int Line, const std::string &Why) {
        if (badLines++ == 0)
            firstError = "line " + std::to_string(Line) + ": " + Why;
    };

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
            if (header == "slave,register,value") {
                withSlave = true;
            } else if (header != "register,value") {
                bad(record.Line, "the header must be slave,register,value or register,value");
                break; // without columns nothing below can be read
            }
            continue;
        }
        const size_t columns = withSlave ? 3 : 2;
        if (record.Fields.size() != columns) {
            bad(record.Line, "expected " + std::to_string(columns) + " fields, found " +
                                 std::to_string(record.Fields.size()));
            continue;
        }
        TValueEntry entry;
        entry.Slave = SelectedSlave;
        size_t at = 0;
        if (withSlave) {
            const std::string id = trimmed(record.Fields[at++]);
            if (!id.empty()) {
                const auto n = decimal(id);
                if (!n || *n < 1 || *n > 255) {
                    bad(record.Line, id + " is not a slave id");
                    continue;
                }
                entry.Slave = int(*n);
            }
        }
        // Any table's size tells whether the slave is emulated: none is empty.
        if (!TableSize || TableSize(entry.Slave, RegTypeHoldingReg) <= 0) {
            bad(record.Line, "slave " + std::to_string(entry.Slave) + " is not emulated");
            continue;
        }
        const std::string name = trimmed(record.Fields[at++]);
        const auto ref = ParseRegisterName(name, MaxTableRegisters);
        if (!ref) {
            bad(record.Line,
                (name.empty() ? std::string("an empty field") : name) + " is not a register");
            continue;
        }
        if (const int size = TableSize(entry.Slave, ref->RegType); ref->RegAdr > size) {
            bad(record.Line, name + " is past the end of slave " + std::to_string(entry.Slave) +
                                 "'s table (" + RegisterName({ref->RegType, 1}) + " to " +
                                 RegisterName({ref->RegType, size}) + ")");
            continue;
        }
        entry.Register = *ref;
        const std::string value = trimmed(record.Fields[at]);
        const bool bit = ref->RegType == RegTypeCoil || ref->RegType == RegTypeDiscreteInput;
        uint16_t word = 0;
        int64_t bitValue = 0;
        const TNumberCheck check =
            bit ? ParseWholeNumber(value, 0, 1, bitValue) : wordValue(value, word);
        if (check != TNumberCheck::Ok) {
            const std::string range = bit ? "0 or 1" : "0 to 65535";
            const std::string why =
                value.empty() ? name + " has no value (" + range + ")"
                : check == TNumberCheck::NotWhole
                    ? value + " is not a whole number (" + name + " takes " + range + ")"
                    : value + " is out of range for " + name + " (" + range + ")";
            bad(record.Line, why);
            continue;
        }
        entry.Value = bit ? uint16_t(bitValue) : word;
        result.Entries.push_back(entry);
    }
    if (!haveHeader && badLines == 0)
        bad(1, "the file is empty; the header must be slave,register,value or register,value");
    if (badLines > 0) {
        result.Entries.clear();
        result.Error = firstError;
        if (badLines > 1)
            result.Error += " (and " + std::to_string(badLines - 1) + " more bad line" +
                            (badLines > 2 ? "s" : "") + ")";
        return result;
    }
    result.Ok = true;
    return result;
}

} // namespace quorlin
