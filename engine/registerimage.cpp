// SPDX-License-Identifier: MIT
#include "engine/registerimage.h"

namespace quorlin
{

void TRegisterTables::SetRegisterCount(int Count)
{
    const bool usual = Count <= 0;
    Coils.Resize(usual ? BitRegisterCount : Count);
    DiscreteInputs.Resize(usual ? BitRegisterCount : Count);
    InputRegs.Resize(usual ? WordRegisterCount : Count);
    HoldingRegs.Resize(usual ? WordRegisterCount : Count);
}

int TRegisterTables::TableSize(int RegType) const
{
    switch (RegType) {
    case RegTypeCoil:
        return Coils.Count();
    case RegTypeDiscreteInput:
        return DiscreteInputs.Count();
    case RegTypeInputReg:
        return InputRegs.Count();
    case RegTypeHoldingReg:
        return HoldingRegs.Count();
    default:
        return 0;
    }
}

uint16_t TRegisterTables::ReadRegister(int RegType, int Register) const
{
    if (Register < 1)
        return 0;
    switch (RegType) {
    case RegTypeCoil:
        return Coils.Get(Register);
    case RegTypeDiscreteInput:
        return DiscreteInputs.Get(Register);
    case RegTypeInputReg:
        return InputRegs.Get(Register);
    case RegTypeHoldingReg:
        return HoldingRegs.Get(Register);
    default:
        return 0;
    }
}

bool TRegisterTables::WriteRegister(int RegType, int Register, uint16_t Value)
{
    if (Register < 1)
        return false;
    switch (RegType) {
    case RegTypeCoil:
        return Coils.Set(Register, Value != 0 ? 1 : 0);
    case RegTypeDiscreteInput:
        return DiscreteInputs.Set(Register, Value != 0 ? 1 : 0);
    case RegTypeInputReg:
        return InputRegs.Set(Register, Value);
    case RegTypeHoldingReg:
        return HoldingRegs.Set(Register, Value);
    default:
        return false;
    }
}

void TRegisterTables::CopyRange(const TRegisterTables &Other, int RegType, int First, int Last)
{
    switch (RegType) {
    case RegTypeCoil:
        Coils.CopyRange(Other.Coils, First, Last);
        break;
    case RegTypeDiscreteInput:
        DiscreteInputs.CopyRange(Other.DiscreteInputs, First, Last);
        break;
    case RegTypeInputReg:
        InputRegs.CopyRange(Other.InputRegs, First, Last);
        break;
    case RegTypeHoldingReg:
        HoldingRegs.CopyRange(Other.HoldingRegs, First, Last);
        break;
    default:
        break;
    }
}

size_t TRegisterTables::MemoryUsed() const
{
    return Coils.MemoryUsed() + DiscreteInputs.MemoryUsed() + InputRegs.MemoryUsed() +
           HoldingRegs.MemoryUsed();
}

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
        // A record naming no table, or a register outside it, stores nothing.
        WriteRegister(w.RegType, w.RegAdr, w.Value);
    }
}

void TRegisterImage::ClearPendingWrites()
{
    PendingWrites.clear();
}

} // namespace quorlin
