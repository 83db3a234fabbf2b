// SPDX-License-Identifier: MIT
// The one place where the API touches a register of a slave's tables: how
// many a table holds, and reading and writing one. Whatever way the image
// stores its registers, only these three functions follow it.
#pragma once

#include <cstdint>

#include "engine/registercsv.h"
#include "engine/registerimage.h"

namespace quorlin
{

// Registers numbered 1..TableSize(RegType); 0 for a code naming no table.
inline int TableSize(int32_t RegType)
{
    return RegisterCount(RegType);
}

// Register N (1..TableSize) of the table; a bit reads as 0 or 1.
inline uint16_t ReadRegister(const TRegisterTables &Tables, int32_t RegType, int N)
{
    switch (RegType) {
    case RegTypeCoil:
        return Tables.Coils[size_t(N)] != 0 ? 1 : 0;
    case RegTypeDiscreteInput:
        return Tables.DiscreteInputs[size_t(N)] != 0 ? 1 : 0;
    case RegTypeInputReg:
        return Tables.InputRegs[size_t(N)];
    case RegTypeHoldingReg:
        return Tables.HoldingRegs[size_t(N)];
    }
    return 0;
}

// The caller holds the image's lock; a bit takes any value but 0 as 1.
inline void WriteRegister(TRegisterTables &Tables, int32_t RegType, int N, uint16_t Value)
{
    switch (RegType) {
    case RegTypeCoil:
        Tables.Coils[size_t(N)] = Value != 0 ? 1 : 0;
        break;
    case RegTypeDiscreteInput:
        Tables.DiscreteInputs[size_t(N)] = Value != 0 ? 1 : 0;
        break;
    case RegTypeInputReg:
        Tables.InputRegs[size_t(N)] = Value;
        break;
    case RegTypeHoldingReg:
        Tables.HoldingRegs[size_t(N)] = Value;
        break;
    }
}

} // namespace quorlin
