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

// Registers numbered 1..TableSize(Tables, RegType): the usual 2048 or 256
// unless the slave serves more; 0 for a code naming no table.
inline int TableSize(const TRegisterTables &Tables, int32_t RegType)
{
    return Tables.TableSize(RegType);
}

// Register N (1..TableSize) of the table; a bit reads as 0 or 1.
inline uint16_t ReadRegister(const TRegisterTables &Tables, int32_t RegType, int N)
{
    return Tables.ReadRegister(RegType, N);
}

// The caller holds the image's lock; a bit takes any value but 0 as 1. A
// register the slave's tables do not have (a slave set to fewer) stores nothing.
inline void WriteRegister(TRegisterTables &Tables, int32_t RegType, int N, uint16_t Value)
{
    Tables.WriteRegister(RegType, N, Value);
}

} // namespace quorlin
