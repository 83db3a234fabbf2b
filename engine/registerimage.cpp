// SPDX-License-Identifier: MIT
#include "engine/registerimage.h"

namespace quorlin
{

namespace
{

template <typename Table> bool inTable(const Table &T, int32_t RegAdr)
{
    // Index 0 is never addressed, so a record aimed at it is as stray as one past the end.
    return RegAdr >= 1 && RegAdr < int32_t(T.size());
}

} // namespace

void TRegisterImage::ClearImage()
{
    Coils.fill(0);
    DiscreteInputs.fill(0);
    InputRegs.fill(0);
    HoldingRegs.fill(0);
}

void TRegisterImage::QueueWrite(int32_t RegType, int32_t RegAdr, uint32_t Value)
{
    PendingWrites.push_back({RegType, RegAdr, uint16_t(Value & 0xFFFF)});
}

void TRegisterImage::ApplyPendingWrites()
{
    while (!PendingWrites.empty()) {
        const TPendingWrite w = PendingWrites.front();
        PendingWrites.pop_front();
        switch (w.RegType) {
        case RegTypeCoil:
            if (inTable(Coils, w.RegAdr))
                Coils[w.RegAdr] = w.Value != 0 ? 1 : 0;
            break;
        case RegTypeDiscreteInput:
            if (inTable(DiscreteInputs, w.RegAdr))
                DiscreteInputs[w.RegAdr] = w.Value != 0 ? 1 : 0;
            break;
        case RegTypeInputReg:
            if (inTable(InputRegs, w.RegAdr))
                InputRegs[w.RegAdr] = w.Value;
            break;
        case RegTypeHoldingReg:
            if (inTable(HoldingRegs, w.RegAdr))
                HoldingRegs[w.RegAdr] = w.Value;
            break;
        default:
            break; // names no table
        }
    }
}

void TRegisterImage::ClearPendingWrites()
{
    PendingWrites.clear();
}

} // namespace quorlin
