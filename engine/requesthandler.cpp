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
        fixed(FnMaskWriteRegister, 10, &TRequestHandler::illegalFunction);
        counted(FnReadWriteRegisters, 10, 13, 11, &TRequestHandler::illegalFunction);
        fixed(FnReadFifoQueue, 10, &TRequestHandler::illegalFunction);
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
        // The header gave the length: one that disagrees with the function's
        // own is refused, so no handler reads past what arrived.
        if (const int need = ruleLength(); need != 0 && need != ExpectedLen) {
            const int n = ExceptionReply(ExIllegalDataValue);
            m_target = &m_image;
            return n;
        }
        Fault = m_faults->Decide(m_target->MBid);
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
        // An injected exception replaces the handler: the image stays as it is.
        Fault = m_faults->Decide(RxBuf[OffSlaveId]);
        Verdict = TVerdict::NoReply;
        return Fault.Kind == TFaultKind::Exception ? ExceptionReply(Fault.ExceptionCode)
                                                   : DispatchFunction();
    }
    if (isAcceptedBroadcast()) {
        // Checked like any request, carried out by every slave, answered by
        // none: the replies the handlers build are never sent.
        purge(Rules);
        const bool right = !Rules.Checksum || crcIsRight();
        if (right) {
            for (int i = 0; i < m_slaves->Count(); ++i) {
                m_target = &m_slaves->At(i);
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

template <typename Table> int TRequestHandler::readBits(const Table &Bits)
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    if (a + q > BitRegisterCount)
        return ExceptionReply(ExIllegalDataAddress);
    if (q > MaxReadBits)
        return ExceptionReply(ExIllegalDataValue);
    const int byteCount = (q + 7) / 8;
    beginReply();
    TxBuf[OffReplyByteCount] = uint8_t(byteCount);
    // Register A + 1 + 8k goes to bit 0 of byte k; bits past the quantity stay 0.
    const uint8_t *from = Bits.data() + a + 1;
    const int whole = q / 8;
    for (int k = 0; k < whole; ++k, from += 8)
        TxBuf[OffReplyData + k] = packEightBits(from);
    if (whole < byteCount)
        TxBuf[OffReplyData + whole] = packBits(from, q - 8 * whole);
    return byteCount + 5;
}

template <typename Table> int TRequestHandler::readWords(const Table &Words)
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    if (a + q > WordRegisterCount)
        return ExceptionReply(ExIllegalDataAddress);
    if (q > MaxReadRegisters)
        return ExceptionReply(ExIllegalDataValue);
    beginReply();
    TxBuf[OffReplyByteCount] = uint8_t(2 * q);
    for (int i = 0; i < q; ++i)
        putU16BE(TxBuf.data(), size_t(OffReplyData + 2 * i), Words[a + 1 + i]);
    return 2 * q + 5;
}

int TRequestHandler::readCoils()
{
    return readBits(m_target->Coils);
}
int TRequestHandler::readDiscreteInputs()
{
    return readBits(m_target->DiscreteInputs);
}
int TRequestHandler::readHoldingRegisters()
{
    return readWords(m_target->HoldingRegs);
}
int TRequestHandler::readInputRegisters()
{
    return readWords(m_target->InputRegs);
}

int TRequestHandler::writeSingleCoil()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    if (a >= BitRegisterCount)
        return ExceptionReply(ExIllegalDataAddress);
    const uint16_t v = readU16BE(RxBuf.data(), OffQuantity);
    if (v == CoilOn)
        m_target->Coils[a + 1] = 1;
    else if (v == CoilOff)
        m_target->Coils[a + 1] = 0;
    // Any other value leaves the coil alone but is echoed all the same.
    return echoReply();
}

int TRequestHandler::writeSingleRegister()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    if (a >= WordRegisterCount)
        return ExceptionReply(ExIllegalDataAddress);
    m_target->HoldingRegs[a + 1] = readU16BE(RxBuf.data(), OffQuantity);
    return echoReply();
}

int TRequestHandler::writeMultipleCoils()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    if (a + q > BitRegisterCount)
        return ExceptionReply(ExIllegalDataAddress);
    // Coils beyond the bits carried keep their values; bits beyond Q are ignored.
    const int bytes = std::min(writeDataBytes(), (q + 7) / 8);
    for (int k = 0; k < bytes; ++k) {
        const uint8_t packed = RxBuf[OffWriteData + k];
        for (int j = 0; j < 8; ++j) {
            const int r = a + 1 + 8 * k + j;
            if (r <= a + q)
                m_target->Coils[r] = BitIsSet(packed, j) ? 1 : 0;
        }
    }
    return echoReply();
}

int TRequestHandler::writeMultipleRegisters()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    if (a + q > WordRegisterCount)
        return ExceptionReply(ExIllegalDataAddress);
    // A short byte count writes only the registers whose two bytes arrived.
    const int count = std::min(q, writeDataBytes() / 2);
    for (int i = 0; i < count; ++i)
        m_target->HoldingRegs[a + 1 + i] = readU16BE(RxBuf.data(), size_t(OffWriteData + 2 * i));
    return echoReply();
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
