// SPDX-License-Identifier: MIT
#include "engine/requesthandler.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/bytes.h"
#include "engine/crc16.h"
#include "engine/modbusdefs.h"

namespace quorlin
{

using namespace modbus;

const TRequestHandler::FunctionRule &TRequestHandler::ruleFor(uint8_t Function)
{
    static constexpr std::array<FunctionRule, 256> rules = [] {
        std::array<FunctionRule, 256> r{};
        auto fixed = [&r](uint8_t fn, int len, Handler h) { r[fn] = {len, 0, 0, 0, h}; };
        auto counted = [&r](uint8_t fn, int offset, int extra, int min, Handler h) {
            r[fn] = {0, offset, extra, min, h};
        };
        fixed(FnReadCoils, 8, &TRequestHandler::readCoils);
        fixed(FnReadDiscreteInputs, 8, &TRequestHandler::readDiscreteInputs);
        fixed(FnReadHoldingRegisters, 8, &TRequestHandler::readHoldingRegisters);
        fixed(FnReadInputRegisters, 8, &TRequestHandler::readInputRegisters);
        fixed(FnWriteSingleCoil, 8, &TRequestHandler::writeSingleCoil);
        fixed(FnWriteSingleRegister, 8, &TRequestHandler::writeSingleRegister);
        fixed(FnReadExceptionStatus, 4, &TRequestHandler::readExceptionStatus);
        fixed(FnDiagnostics, 8, &TRequestHandler::diagnostics);
        fixed(FnGetCommEventCounter, 4, &TRequestHandler::getCommEventCounter);
        fixed(FnGetCommEventLog, 4, &TRequestHandler::getCommEventLog);
        counted(FnWriteMultipleCoils, OffByteCount, 9, 7, &TRequestHandler::writeMultipleCoils);
        counted(FnWriteMultipleRegisters, OffByteCount, 9, 7,
                &TRequestHandler::writeMultipleRegisters);
        fixed(FnReportSlaveId, 4, &TRequestHandler::reportSlaveId);
        counted(FnReadFileRecord, 2, 5, 5, &TRequestHandler::illegalFunction);
        counted(FnWriteFileRecord, 2, 5, 5, &TRequestHandler::illegalFunction);
        fixed(FnMaskWriteRegister, 10, &TRequestHandler::maskWriteRegister);
        counted(FnReadWriteRegisters, OffRwByteCount, 13, 11,
                &TRequestHandler::readWriteRegisters);
        fixed(FnReadFifoQueue, 10, &TRequestHandler::illegalFunction);
        // No length rule: the RTU framing recognises a whole 43 / 14 request.
        r[FnEncapsulatedInterface].Fn = &TRequestHandler::encapsulatedInterface;
        return r;
    }();
    return rules[Function];
}

TRequestHandler::TRequestHandler(TRegisterImage &Image, std::array<uint8_t, RxBufferSize> &Rx,
                                 int &RxCount, int &ExpectedLen,
                                 std::array<uint8_t, MaxFrameLength> &Tx)
    : RxBuf(Rx), RxCount(RxCount), ExpectedLen(ExpectedLen), TxBuf(Tx), m_image(Image),
      m_target(&Image), m_lock(&Image.ImageLock)
{
}

void TRequestHandler::SetSlaves(TSlaveSet *Slaves)
{
    m_slaves = Slaves;
    m_target = &m_image;
    m_lock = Slaves != nullptr ? &Slaves->Lock() : &m_image.ImageLock;
}

int TRequestHandler::Handle(const TFramingRules &Rules, bool Replaced, TVerdict &Verdict,
                            TFaultDecision &Fault)
{
    std::lock_guard<std::mutex> hold(*m_lock);
    m_broadcast = TBroadcastFate::None;
    if (Replaced)
        m_faults->CountCancelled();
    if (Rules.GatewayIds) {
        // Modbus TCP: the frame is whole and has no CRC; nothing is broadcast.
        if (!gatewayTarget(Rules.DefaultId)) {
            // Answered for the unit id asked; no slave's image is involved.
            Verdict = TVerdict::NoReply;
            TxBuf[0] = RxBuf[OffSlaveId];
            TxBuf[1] = uint8_t(RxBuf[OffFunction] | ExceptionFlag);
            TxBuf[2] = ExGatewayTargetFailed;
            return ExceptionReplyLength;
        }
        Verdict = TVerdict::NoReply;
        // An offline slave hears nothing, malformed requests included.
        if (m_target->Options.Offline) {
            m_target = &m_image;
            Fault.Kind = TFaultKind::Offline;
            return 0;
        }
        if (m_target->Options.Strict) {
            if (const uint8_t refused = strictRefusal()) {
                const int n = ExceptionReply(refused);
                m_target = &m_image;
                return n;
            }
        }
        // The header gave the length: one that disagrees with the function's
        // own is refused, so no handler reads past what arrived.
        if (const int need = ruleLength(); need != 0 && need != ExpectedLen) {
            const int n = ExceptionReply(ExIllegalDataValue);
            m_target = &m_image;
            return n;
        }
        Fault = m_faults->Decide(faultRequest());
        m_faults->DecideDelivery(Fault, Rules.Medium);
        const int n = Fault.Kind == TFaultKind::Exception ? ExceptionReply(Fault.ExceptionCode)
                                                          : DispatchFunction();
        m_target = &m_image;
        return n;
    }
    if (addressedToUs()) {
        purge(Rules);
        Verdict = TVerdict::BadCrc;
        if (Rules.Checksum && !crcIsRight())
            return 0;
        // An offline slave hears nothing: no reply, no write.
        if (m_target->Options.Offline) {
            Verdict = TVerdict::NoReply;
            Fault.Kind = TFaultKind::Offline;
            return 0;
        }
        Verdict = TVerdict::NoReply;
        // A code that tells no length reaches here only when silence framed
        // it; a slave that is not strict stays as silent on it as ever.
        const bool strict = m_target->Options.Strict;
        if (!strict && !HasLength(RxBuf[OffFunction]) && ruleFor(RxBuf[OffFunction]).Fn == nullptr)
            return 0;
        // An injected exception replaces the handler: the image stays as it is.
        Fault = m_faults->Decide(faultRequest());
        m_faults->DecideDelivery(Fault, Rules.Medium);
        if (Fault.Kind == TFaultKind::Exception)
            return ExceptionReply(Fault.ExceptionCode);
        if (strict)
            if (const uint8_t refused = strictRefusal())
                return ExceptionReply(refused);
        return DispatchFunction();
    }
    if (isAcceptedBroadcast()) {
        // Checked like any request, carried out by every slave, answered by
        // none: the replies the handlers build are never sent.
        purge(Rules);
        const bool right = !Rules.Checksum || crcIsRight();
        if (right) {
            for (int i = 0; i < m_slaves->Count(); ++i) {
                m_target = &m_slaves->At(i);
                // An offline slave hears nothing; a strict one carries out
                // no malformed write, asked or not.
                if (!m_target->Options.Offline &&
                    (!m_target->Options.Strict || strictRefusal() == 0))
                    DispatchFunction();
            }
        }
        m_target = &m_image;
        Verdict = right ? TVerdict::Broadcast : TVerdict::BadCrc;
        if (right)
            m_broadcast = TBroadcastFate::CarriedOut;
        return 0;
    }
    Verdict = RxBuf[OffSlaveId] == BroadcastId ? TVerdict::Broadcast : TVerdict::OtherSlave;
    if (Verdict == TVerdict::Broadcast)
        m_broadcast =
            isWriteFunction(RxBuf[OffFunction]) ? TBroadcastFate::Ignored : TBroadcastFate::NotAWrite;
    return 0;
}

TFaultRequest TRequestHandler::faultRequest() const
{
    const int length = std::clamp(std::min(ExpectedLen, RxCount) - CrcLength, 0, RxBufferSize);
    TFaultRequest r = FaultRequestOf(RxBuf.data(), length, m_target->Options.AddressOffset);
    r.SlaveId = m_target->MBid; // a gateway's 0 and 255 reach a slave of its own id
    return r;
}

int TRequestHandler::ruleLength() const
{
    const FunctionRule &rule = ruleFor(RxBuf[OffFunction]);
    if (rule.FixedLen != 0)
        return rule.FixedLen;
    if (rule.CountExtra != 0 && RxCount >= rule.MinCount)
        return RxBuf[rule.CountOffset] + rule.CountExtra;
    return rule.CountExtra != 0 ? -1 : 0; // too short to hold its byte count
}

void TRequestHandler::purge(const TFramingRules &Rules)
{
    if (Rules.Line != nullptr) {
        Rules.Line->PurgeIn();
        Rules.Line->PurgeOut();
    }
}

bool TRequestHandler::gatewayTarget(int DefaultId)
{
    const int id = RxBuf[OffSlaveId];
    if (m_slaves != nullptr) {
        m_target = m_slaves->Find(id);
        if (m_target == nullptr && (id == BroadcastId || id == MaxUnitId)) {
            m_target = m_slaves->Find(DefaultId);
            if (m_target == nullptr && m_slaves->Count() > 0)
                m_target = &m_slaves->At(0); // the lowest id
        }
    } else {
        const bool valid = m_image.MBid >= 1 && m_image.MBid <= 255;
        m_target = valid && (id == m_image.MBid || id == BroadcastId || id == MaxUnitId)
                       ? &m_image
                       : nullptr;
    }
    if (m_target == nullptr) {
        m_target = &m_image;
        return false;
    }
    return true;
}

int TRequestHandler::DispatchFunction()
{
    const Handler fn = ruleFor(RxBuf[OffFunction]).Fn;
    return fn != nullptr ? (this->*fn)() : illegalFunction();
}

int TRequestHandler::ExceptionReply(uint8_t Code)
{
    TxBuf[0] = uint8_t(m_target->MBid);
    TxBuf[1] = uint8_t(RxBuf[OffFunction] | ExceptionFlag);
    TxBuf[2] = Code;
    return ExceptionReplyLength;
}

bool TRequestHandler::addressedToUs()
{
    if (m_slaves != nullptr) {
        // One look-up, however many slaves share the line.
        m_target = m_slaves->Find(RxBuf[OffSlaveId]);
        if (m_target == nullptr) {
            m_target = &m_image;
            return false;
        }
        return true;
    }
    // An id outside 1..255 (0 is broadcast) must never make the slave answer.
    return m_image.MBid >= 1 && m_image.MBid <= 255 && RxBuf[OffSlaveId] == m_image.MBid;
}

bool TRequestHandler::isAcceptedBroadcast() const
{
    if (m_slaves == nullptr || !m_slaves->AcceptBroadcast || RxBuf[OffSlaveId] != BroadcastId)
        return false;
    return isWriteFunction(RxBuf[OffFunction]);
}

bool TRequestHandler::isWriteFunction(uint8_t Function)
{
    switch (Function) {
    case FnWriteSingleCoil:
    case FnWriteSingleRegister:
    case FnWriteMultipleCoils:
    case FnWriteMultipleRegisters:
        return true;
    default:
        return false;
    }
}

bool TRequestHandler::crcIsRight() const
{
    // The CRC is read from received bytes only.
    const int len = ExpectedLen;
    if (len < MinRequestLength || len > RxCount)
        return false;
    const uint16_t crc = Crc16(RxBuf.data(), size_t(len - CrcLength));
    return RxBuf[len - 2] == uint8_t(crc) && RxBuf[len - 1] == uint8_t(crc >> 8);
}

int TRequestHandler::beginReply()
{
    TxBuf[0] = uint8_t(m_target->MBid);
    TxBuf[1] = RxBuf[OffFunction];
    return 2;
}

int TRequestHandler::echoReply()
{
    beginReply();
    std::copy_n(RxBuf.begin() + OffAddress, 4, TxBuf.begin() + OffAddress);
    return EchoReplyLength;
}

int TRequestHandler::fixedReply(const uint8_t *Data, int Length)
{
    const int head = beginReply();
    std::copy_n(Data, Length, TxBuf.begin() + head);
    return head + Length + CrcLength;
}

int TRequestHandler::writeDataBytes() const
{
    // Data bytes of functions 15 and 16, as far as they were received: the
    // byte count never leads a handler past RxCount.
    const int received = std::max(0, RxCount - OffWriteData - CrcLength);
    return std::min<int>(RxBuf[OffByteCount], received);
}

namespace
{

// Up to eight table entries into one byte, the first in bit 0.
inline uint8_t packBits(const uint8_t *Entries, int Count)
{
    uint8_t packed = 0;
    for (int j = 0; j < Count; ++j)
        packed = uint8_t(packed | (Entries[j] != 0) << j);
    return packed;
}

// Eight entries at once: a read of 2000 coils packs 250 of these, and doing
// it a bit at a time costs more than the rest of the request.
inline uint8_t packEightBits(const uint8_t *Entries)
{
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t x;
        std::memcpy(&x, Entries, sizeof x); // entry j in byte j
        // Fold each byte onto its bit 0 (non-zero -> 1), within the byte only.
        x |= x >> 4;
        x |= x >> 2;
        x |= x >> 1;
        x &= 0x0101010101010101ULL;
        // Bit 8j moves to bit 56 + j; no two products meet, so nothing carries.
        return uint8_t((x * 0x0102040810204080ULL) >> 56);
    } else {
        return packBits(Entries, 8);
    }
}

} // namespace

uint8_t TRequestHandler::checkRange(int RegType, int Address, int Quantity, bool Write,
                                    int &First) const
{
    // A device documented from 0 where the master counts from 1 (or the
    // other way round) serves register A + 1 + offset for address A.
    First = Address + 1 + m_target->Options.AddressOffset;
    if (First < 1 || First - 1 + Quantity > m_target->TableSize(RegType))
        return ExIllegalDataAddress;
    // Strict addressing: what the map does not declare does not exist, and
    // a read-only register refuses a write; either way nothing is written.
    if (m_target->Options.MappedOnly && !m_target->Access.Empty()) {
        const int count = std::max(Quantity, 1);
        if (!m_target->Access.Covers(RegType, First, count))
            return ExIllegalDataAddress;
        if (Write && m_target->Access.AnyReadOnly(RegType, First, count))
            return ExIllegalDataAddress;
    }
    return 0;
}

template <typename Table> int TRequestHandler::readBits(int RegType, const Table &Bits)
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    int first = 0;
    if (const uint8_t refused = checkRange(RegType, a, q, false, first))
        return ExceptionReply(refused);
    if (q > MaxReadBits)
        return ExceptionReply(ExIllegalDataValue);
    const int byteCount = (q + 7) / 8;
    beginReply();
    TxBuf[OffReplyByteCount] = uint8_t(byteCount);
    // Register First + 8k goes to bit 0 of byte k; bits past the quantity stay 0.
    std::array<uint8_t, MaxReadBits + 8> entries;
    Bits.Read(first, q, entries.data());
    const uint8_t *from = entries.data();
    const int whole = q / 8;
    for (int k = 0; k < whole; ++k, from += 8)
        TxBuf[OffReplyData + k] = packEightBits(from);
    if (whole < byteCount)
        TxBuf[OffReplyData + whole] = packBits(from, q - 8 * whole);
    return byteCount + 5;
}

template <typename Table> int TRequestHandler::readWords(int RegType, const Table &Words)
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    int first = 0;
    if (const uint8_t refused = checkRange(RegType, a, q, false, first))
        return ExceptionReply(refused);
    if (q > MaxReadRegisters)
        return ExceptionReply(ExIllegalDataValue);
    beginReply();
    TxBuf[OffReplyByteCount] = uint8_t(2 * q);
    putWords(Words, first, q, OffReplyData);
    return 2 * q + 5;
}

template <typename Table>
void TRequestHandler::putWords(const Table &Words, int First, int Count, int At)
{
    std::array<uint16_t, MaxReadRegisters> values;
    Words.Read(First, Count, values.data());
    for (int i = 0; i < Count; ++i)
        putU16BE(TxBuf.data(), size_t(At + 2 * i), values[size_t(i)]);
}

int TRequestHandler::readCoils()
{
    return readBits(RegTypeCoil, m_target->Coils);
}
int TRequestHandler::readDiscreteInputs()
{
    return readBits(RegTypeDiscreteInput, m_target->DiscreteInputs);
}
int TRequestHandler::readHoldingRegisters()
{
    return readWords(RegTypeHoldingReg, m_target->HoldingRegs);
}
int TRequestHandler::readInputRegisters()
{
    return readWords(RegTypeInputReg, m_target->InputRegs);
}

int TRequestHandler::writeSingleCoil()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    int first = 0;
    if (const uint8_t refused = checkRange(RegTypeCoil, a, 1, true, first))
        return ExceptionReply(refused);
    const uint16_t v = readU16BE(RxBuf.data(), OffQuantity);
    if (v == CoilOn)
        m_target->Coils.Set(first, 1);
    else if (v == CoilOff)
        m_target->Coils.Set(first, 0);
    // Any other value leaves the coil alone but is echoed all the same.
    return echoReply();
}

int TRequestHandler::writeSingleRegister()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    int first = 0;
    if (const uint8_t refused = checkRange(RegTypeHoldingReg, a, 1, true, first))
        return ExceptionReply(refused);
    m_target->HoldingRegs.Set(first, readU16BE(RxBuf.data(), OffQuantity));
    return echoReply();
}

int TRequestHandler::writeMultipleCoils()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    int first = 0;
    if (const uint8_t refused = checkRange(RegTypeCoil, a, q, true, first))
        return ExceptionReply(refused);
    // Coils beyond the bits carried keep their values; bits beyond Q are ignored.
    const int bytes = std::min(writeDataBytes(), (q + 7) / 8);
    for (int k = 0; k < bytes; ++k) {
        const uint8_t packed = RxBuf[OffWriteData + k];
        for (int j = 0; j < 8; ++j) {
            const int i = 8 * k + j;
            if (i < q)
                m_target->Coils.Set(first + i, BitIsSet(packed, j) ? 1 : 0);
        }
    }
    return echoReply();
}

int TRequestHandler::writeMultipleRegisters()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    int first = 0;
    if (const uint8_t refused = checkRange(RegTypeHoldingReg, a, q, true, first))
        return ExceptionReply(refused);
    // A short byte count writes only the registers whose two bytes arrived.
    const int count = std::min(q, writeDataBytes() / 2);
    for (int i = 0; i < count; ++i)
        m_target->HoldingRegs.Set(first + i, readU16BE(RxBuf.data(), size_t(OffWriteData + 2 * i)));
    return echoReply();
}

int TRequestHandler::maskWriteRegister()
{
    if (!m_target->Options.Functions22And23)
        return illegalFunction();
    const int a = readU16BE(RxBuf.data(), OffAddress);
    int first = 0;
    if (const uint8_t refused = checkRange(RegTypeHoldingReg, a, 1, true, first))
        return ExceptionReply(refused);
    const uint16_t andMask = readU16BE(RxBuf.data(), OffAndMask);
    const uint16_t orMask = readU16BE(RxBuf.data(), OffOrMask);
    const uint16_t current = m_target->HoldingRegs.Get(first);
    m_target->HoldingRegs.Set(first, uint16_t((current & andMask) | (orMask & ~andMask)));
    // The reply echoes the request.
    beginReply();
    std::copy_n(RxBuf.begin() + OffAddress, 6, TxBuf.begin() + OffAddress);
    return MaskWriteReplyLength;
}

int TRequestHandler::readWriteRegisters()
{
    if (!m_target->Options.Functions22And23)
        return illegalFunction();
    const int readAddress = readU16BE(RxBuf.data(), OffAddress);
    const int readCount = readU16BE(RxBuf.data(), OffQuantity);
    const int writeAddress = readU16BE(RxBuf.data(), OffRwWriteAddress);
    const int writeCount = readU16BE(RxBuf.data(), OffRwWriteQuantity);
    const int byteCount = RxBuf[OffRwByteCount];
    // Quantities first, as the protocol orders its checks.
    if (readCount < 1 || readCount > MaxReadWriteRead || writeCount < 1 ||
        writeCount > MaxReadWriteWrite || byteCount != 2 * writeCount)
        return ExceptionReply(ExIllegalDataValue);
    int readFirst = 0;
    int writeFirst = 0;
    if (const uint8_t refused =
            checkRange(RegTypeHoldingReg, writeAddress, writeCount, true, writeFirst))
        return ExceptionReply(refused);
    if (const uint8_t refused =
            checkRange(RegTypeHoldingReg, readAddress, readCount, false, readFirst))
        return ExceptionReply(refused);
    // The write is carried out before the read.
    for (int i = 0; i < writeCount; ++i)
        m_target->HoldingRegs.Set(writeFirst + i,
                                  readU16BE(RxBuf.data(), size_t(OffRwWriteData + 2 * i)));
    beginReply();
    TxBuf[OffReplyByteCount] = uint8_t(2 * readCount);
    putWords(m_target->HoldingRegs, readFirst, readCount, OffReplyData);
    return 2 * readCount + 5;
}

int TRequestHandler::encapsulatedInterface()
{
    // Without the option the slave knows nothing of function 43 and stays silent.
    if (!m_target->Options.DeviceId)
        return 0;
    if (RxBuf[OffMeiType] != MeiReadDeviceId)
        return illegalFunction();
    const uint8_t code = RxBuf[OffReadDevIdCode];
    int object = RxBuf[OffObjectId];
    if (code < ReadDevIdBasic || code > ReadDevIdOne)
        return ExceptionReply(ExIllegalDataValue);

    const auto &identity = m_target->Options.Identity;
    // The basic objects always exist; a regular one exists when it has a value.
    auto exists = [&identity](int Id) {
        return Id >= 0 && Id < DeviceIdObjectCount &&
               (Id <= LastBasicObject || !identity[size_t(Id)].empty());
    };
    bool regular = false;
    for (int id = LastBasicObject + 1; id < DeviceIdObjectCount; ++id)
        regular = regular || exists(id);
    // A slave asked above its level answers at its level.
    const int last = code == ReadDevIdBasic || !regular ? LastBasicObject : DeviceIdObjectCount - 1;

    if (code == ReadDevIdOne) {
        if (!exists(object))
            return ExceptionReply(ExIllegalDataAddress);
    } else if (object > last || !exists(object)) {
        object = 0; // an object the slave lacks restarts the stream
    }

    beginReply();
    TxBuf[OffMeiType] = MeiReadDeviceId;
    TxBuf[OffReadDevIdCode] = code;
    TxBuf[4] = uint8_t((regular ? ConformityRegular : ConformityBasic) | ConformityIndividual);
    TxBuf[5] = 0x00; // more follows
    TxBuf[6] = 0x00; // next object id
    TxBuf[7] = 0;    // number of objects
    int at = 8;
    const int end = code == ReadDevIdOne ? object : last;
    for (int id = object; id <= end; ++id) {
        if (!exists(id))
            continue;
        const std::string &value = identity[size_t(id)];
        const int length = std::min<int>(int(value.size()), MaxDeviceIdObjectLength);
        if (at + 2 + length + CrcLength > MaxFrameLength) {
            TxBuf[5] = 0xFF;
            TxBuf[6] = uint8_t(id);
            break;
        }
        TxBuf[size_t(at)] = uint8_t(id);
        TxBuf[size_t(at + 1)] = uint8_t(length);
        std::copy_n(value.begin(), length, TxBuf.begin() + at + 2);
        at += 2 + length;
        ++TxBuf[7];
    }
    return at + CrcLength;
}

int TRequestHandler::readExceptionStatus()
{
    static constexpr uint8_t status[] = {0x00}; // no status bit set
    return fixedReply(status, sizeof status);
}

int TRequestHandler::diagnostics()
{
    // Every sub-function is echoed; the slave has no counters and no listen-only mode.
    return echoReply();
}

int TRequestHandler::getCommEventCounter()
{
    static constexpr uint8_t counter[] = {0x00, 0x00, 0xFF, 0xFF}; // status 0, count 0xFFFF
    return fixedReply(counter, sizeof counter);
}

int TRequestHandler::getCommEventLog()
{
    // Byte count 8, status 0, event count 0x0108, message count 0x0121, two event bytes.
    static constexpr uint8_t log[] = {0x08, 0x00, 0x00, 0x01, 0x08, 0x01, 0x21, 0x20, 0x00};
    return fixedReply(log, sizeof log);
}

int TRequestHandler::reportSlaveId()
{
    // Byte count 9 covers everything up to the CRC: slave-id byte, run indicator
    // on, seven device bytes. Nothing follows them but the CRC.
    static constexpr uint8_t id[] = {0x09, 0x09, 0xFF, 0x09, 0xFF, 0x01, 0x02, 0x0A, 0x00, 0xD0};
    return fixedReply(id, sizeof id);
}

int TRequestHandler::illegalFunction()
{
    return ExceptionReply(ExIllegalFunction);
}

} // namespace quorlin
