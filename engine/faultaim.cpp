// SPDX-License-Identifier: MIT
#include "engine/faultaim.h"

#include <algorithm>

#include "engine/bytes.h"
#include "engine/modbusdefs.h"
#include "engine/registercsv.h"

namespace quorlin
{

namespace
{

constexpr int MaxAimRegister = 65536;

std::string_view trimmed(std::string_view S)
{
    while (!S.empty() && (S.front() == ' ' || S.front() == '\t'))
        S.remove_prefix(1);
    while (!S.empty() && (S.back() == ' ' || S.back() == '\t'))
        S.remove_suffix(1);
    return S;
}

// The items between commas, each trimmed; false when one is empty.
template <typename Fn> bool eachItem(std::string_view Text, Fn &&Take)
{
    for (;;) {
        const size_t comma = Text.find(',');
        const std::string_view item = trimmed(Text.substr(0, comma));
        if (item.empty() || !Take(item))
            return false;
        if (comma == std::string_view::npos)
            return true;
        Text.remove_prefix(comma + 1);
    }
}

// A decimal number Min..Max, digits only.
std::optional<int> number(std::string_view S, int Min, int Max)
{
    if (S.empty() || S.size() > 6)
        return std::nullopt;
    int v = 0;
    for (char c : S) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < Min || v > Max)
        return std::nullopt;
    return v;
}

// "A-B" split at its dash; B empty for a single item.
std::pair<std::string_view, std::string_view> rangeParts(std::string_view Item)
{
    const size_t dash = Item.find('-');
    if (dash == std::string_view::npos)
        return {Item, {}};
    return {trimmed(Item.substr(0, dash)), trimmed(Item.substr(dash + 1))};
}

bool blank(std::string_view Text)
{
    return trimmed(Text).empty();
}

} // namespace

TFunctionList ParseFunctionList(std::string_view Text)
{
    if (blank(Text))
        return {};
    std::bitset<256> codes;
    const bool ok = eachItem(Text, [&codes](std::string_view Item) {
        const auto [a, b] = rangeParts(Item);
        const auto from = number(a, 1, 255);
        const auto to = Item.find('-') == std::string_view::npos ? from : number(b, 1, 255);
        if (!from || !to || *to < *from)
            return false;
        for (int f = *from; f <= *to; ++f)
            codes.set(size_t(f));
        return true;
    });
    if (!ok)
        return {false, std::nullopt};
    return {true, codes};
}

TRegisterList ParseRegisterList(std::string_view Text)
{
    if (blank(Text))
        return {};
    std::vector<TRegisterSpan> spans;
    const bool ok = eachItem(Text, [&spans](std::string_view Item) {
        const auto [a, b] = rangeParts(Item);
        const auto from = ParseRegisterName(a, MaxAimRegister);
        if (!from)
            return false;
        TRegisterSpan s{from->RegType, from->RegAdr, from->RegAdr};
        if (Item.find('-') != std::string_view::npos) {
            const auto to = ParseRegisterName(b, MaxAimRegister);
            if (!to || to->RegType != from->RegType || to->RegAdr < from->RegAdr)
                return false;
            s.Last = to->RegAdr;
        }
        spans.push_back(s);
        return spans.size() <= 1024; // a limit, not a map
    });
    if (!ok)
        return {false, std::nullopt};
    return {true, std::move(spans)};
}

TFaultRequest FaultRequestOf(const uint8_t *Rtu, int Length, int AddressOffset)
{
    using namespace modbus;
    TFaultRequest r;
    if (Length >= 1)
        r.SlaveId = Rtu[OffSlaveId];
    if (Length < 2)
        return r;
    r.Function = Rtu[OffFunction];
    // Quantity Q registers from address A; a quantity of 0 touches nothing.
    auto touch = [&r, Rtu, Length, AddressOffset](int RegType, int AtAddress, int AtQuantity,
                                                 bool Single) {
        if (Length < (Single ? AtAddress + 2 : AtQuantity + 2))
            return;
        const int q = Single ? 1 : readU16BE(Rtu, size_t(AtQuantity));
        if (q < 1)
            return;
        const int first = readU16BE(Rtu, size_t(AtAddress)) + 1 + AddressOffset;
        r.Touched[r.TouchedCount++] = {RegType, first, first + q - 1};
    };
    switch (r.Function) {
    case FnReadCoils:
    case FnWriteMultipleCoils:
        touch(0, OffAddress, OffQuantity, false);
        break;
    case FnReadDiscreteInputs:
        touch(1, OffAddress, OffQuantity, false);
        break;
    case FnReadInputRegisters:
        touch(3, OffAddress, OffQuantity, false);
        break;
    case FnReadHoldingRegisters:
    case FnWriteMultipleRegisters:
        touch(4, OffAddress, OffQuantity, false);
        break;
    case FnWriteSingleCoil:
        touch(0, OffAddress, 0, true);
        break;
    case FnWriteSingleRegister:
    case FnMaskWriteRegister:
        touch(4, OffAddress, 0, true);
        break;
    case FnReadWriteRegisters:
        touch(4, OffAddress, OffQuantity, false);
        touch(4, OffRwWriteAddress, OffRwWriteQuantity, false);
        break;
    default:
        break;
    }
    return r;
}

void TFaultAim::Set(std::string_view Functions, std::string_view Registers)
{
    const TFunctionList f = ParseFunctionList(Functions);
    TRegisterList r = ParseRegisterList(Registers);
    m_valid = f.Ok && r.Ok;
    m_functions = f.Codes;
    m_registers = std::move(r.Spans);
}

bool TFaultAim::Hits(const TFaultRequest &Request) const
{
    if (!m_valid)
        return false;
    if (m_functions &&
        (Request.Function < 0 || Request.Function > 255 || !m_functions->test(size_t(Request.Function))))
        return false;
    if (!m_registers)
        return true;
    for (int i = 0; i < Request.TouchedCount; ++i) {
        const TRegisterSpan &t = Request.Touched[i];
        for (const TRegisterSpan &s : *m_registers)
            if (s.RegType == t.RegType && s.First <= t.Last && t.First <= s.Last)
                return true;
    }
    return false;
}

} // namespace quorlin
