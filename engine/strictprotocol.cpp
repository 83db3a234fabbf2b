// SPDX-License-Identifier: MIT
// What a strict slave refuses before any handler runs. A lenient slave stays
// silent on a code it does not know and carries out what it can of a request
// that does not add up; a strict one answers as the application protocol
// orders its checks: is the function served (else 1), do its quantity, byte
// count and value make sense (else 3). Whether the registers exist (2) is
// the handler's own check, which comes after these.
#include "engine/bytes.h"
#include "engine/modbusdefs.h"
#include "engine/requesthandler.h"

namespace quorlin
{

using namespace modbus;

bool TRequestHandler::StrictFor(uint8_t Id) const
{
    std::lock_guard<std::mutex> hold(*m_lock);
    if (m_slaves != nullptr) {
        const TRegisterImage *slave = m_slaves->Find(Id);
        return slave != nullptr && slave->Options.Strict;
    }
    return m_image.Options.Strict && m_image.MBid >= 1 && m_image.MBid <= 255 && Id == m_image.MBid;
}

bool TRequestHandler::strictServes(uint8_t Function) const
{
    const FunctionRule &rule = ruleFor(Function);
    if (rule.Fn == nullptr || rule.Fn == &TRequestHandler::illegalFunction)
        return false;
    if (Function == FnMaskWriteRegister || Function == FnReadWriteRegisters)
        return m_target->Options.Functions22And23;
    if (Function == FnEncapsulatedInterface)
        return m_target->Options.DeviceId;
    return true;
}

uint8_t TRequestHandler::strictRefusal() const
{
    const uint8_t function = RxBuf[OffFunction];
    if (!strictServes(function))
        return ExIllegalFunction;
    // The bytes the request carries after its function code, checksum room
    // taken off; the fields read below lie within them or are refused.
    const int data = ExpectedLen - CrcLength - OffAddress;
    if (function == FnEncapsulatedInterface) {
        if (data < 1)
            return ExIllegalDataValue;
        if (RxBuf[OffMeiType] != MeiReadDeviceId)
            return ExIllegalFunction;
        // MEI type, read code and object id: nothing more, nothing less.
        return data == DeviceIdRequestLength - CrcLength - OffAddress ? 0 : ExIllegalDataValue;
    }
    // A length that disagrees with the function's own (a Modbus TCP header
    // that says more or less) is malformed.
    if (const int need = ruleLength(); need != 0 && need != ExpectedLen)
        return ExIllegalDataValue;
    const int quantity = readU16BE(RxBuf.data(), OffQuantity);
    auto within = [quantity](int Max) { return quantity >= 1 && quantity <= Max; };
    switch (function) {
    case FnReadCoils:
    case FnReadDiscreteInputs:
        return within(MaxReadBits) ? 0 : ExIllegalDataValue;
    case FnReadHoldingRegisters:
    case FnReadInputRegisters:
        return within(MaxReadRegisters) ? 0 : ExIllegalDataValue;
    case FnWriteSingleCoil:
        return quantity == CoilOn || quantity == CoilOff ? 0 : ExIllegalDataValue;
    case FnWriteMultipleCoils:
        return within(MaxWriteCoils) && RxBuf[OffByteCount] == (quantity + 7) / 8
                   ? 0
                   : ExIllegalDataValue;
    case FnWriteMultipleRegisters:
        return within(MaxWriteRegisters) && RxBuf[OffByteCount] == 2 * quantity
                   ? 0
                   : ExIllegalDataValue;
    default:
        // Function 23 checks its own quantities before its addresses; the
        // others carry no quantity.
        return 0;
    }
}

} // namespace quorlin
