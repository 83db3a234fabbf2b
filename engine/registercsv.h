// SPDX-License-Identifier: MIT
// Register names ("4x0001", "0x2048") and register values in CSV files
// (RFC 4180): a header "slave,register,value" or "register,value", then one
// register per line, e.g. "1,4x0001,1234".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/registerimage.h"

namespace quorlin
{

struct TRegisterRef {
    int32_t RegType = RegTypeHoldingReg;
    int32_t RegAdr = 1;

    bool operator==(const TRegisterRef &) const = default;
};

// 2048 for the bit tables, 256 for the word tables, 0 for a code naming none.
int RegisterCount(int32_t RegType);

// The family digit, "x" and four decimal digits: "4x0001", "0x2048".
std::string RegisterName(TRegisterRef Ref);

// A register of the image, or nothing. The "x" may be upper case and the
// number may have fewer or more leading zeros ("4x1", "4x00001").
std::optional<TRegisterRef> ParseRegisterName(std::string_view Text);
// The same for tables of MaxRegister registers ("3x30001" with 65536).
std::optional<TRegisterRef> ParseRegisterName(std::string_view Text, int MaxRegister);

struct TSlaveImage {
    int Id = 1;
    const TRegisterTables *Image = nullptr;
};

// Every register of every slave given, with the header slave,register,value
// and CRLF line ends: coils, discrete inputs, input and holding registers.
std::string WriteValuesCsv(std::span<const TSlaveImage> Slaves);

struct TValueEntry {
    int Slave = 1;
    TRegisterRef Register;
    uint16_t Value = 0; // 0 or 1 for the bit tables

    bool operator==(const TValueEntry &) const = default;
};

struct TValuesImport {
    bool Ok = false;
    std::string Error;                // "line 12: 5x0001 is not a register", when not Ok
    std::vector<TValueEntry> Entries; // in file order; empty when not Ok
};

// How many registers a slave's table of type RegType holds (1..65536); 0
// for a slave that is not emulated.
using TSlaveTableSize = std::function<int(int Slave, int32_t RegType)>;

// Reads a whole file; any bad line refuses all of it. Lines without a slave
// column (or with an empty one) are for SelectedSlave. A word value is
// 0..65535, -32768..-1 (two's complement) or 0x0000..0xFFFF; a bit is 0 or 1.
// A register past the end of its slave's table refuses the file as a
// master's request for it gets exception 2.
TValuesImport ReadValuesCsv(std::string_view Text, int SelectedSlave,
                            const TSlaveTableSize &TableSize);
// The same for slaves that all have the usual sizes (2048 bits, 256 words).
TValuesImport ReadValuesCsv(std::string_view Text, int SelectedSlave,
                            const std::function<bool(int)> &IsEmulated);

} // namespace quorlin
