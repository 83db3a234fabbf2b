// SPDX-License-Identifier: MIT
#include "engine/modbusslave.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/bytes.h"
#include "engine/crc16.h"
#include "engine/modbusdefs.h"

namespace quorlin
{

using namespace modbus;

// How long a request with this function code is, and who answers it. A code
// with neither a fixed length nor a byte count never completes and is never
// answered; one with a length but no handler gets exception 1.
struct TModbusSlave::FunctionRule {
    int FixedLen = 0;    // whole request, CRC included; 0 when counted
    int CountOffset = 0; // position of the byte count
    int CountExtra = 0;  // bytes around the counted ones
    int MinCount = 0;    // bytes needed before the byte count is trusted
    Handler Fn = nullptr;
};

const TModbusSlave::FunctionRule &TModbusSlave::ruleFor(uint8_t Function)
{
    static constexpr std::array<FunctionRule, 256> rules = [] {
        std::array<FunctionRule, 256> r{};
        auto fixed = [&r](uint8_t fn, int len, Handler h) { r[fn] = {len, 0, 0, 0, h}; };
        auto counted = [&r](uint8_t fn, int offset, int extra, int min, Handler h) {
            r[fn] = {0, offset, extra, min, h};
        };
        fixed(FnReadCoils, 8, &TModbusSlave::readCoils);
        fixed(FnReadDiscreteInputs, 8, &TModbusSlave::readDiscreteInputs);
        fixed(FnReadHoldingRegisters, 8, &TModbusSlave::readHoldingRegisters);
        fixed(FnReadInputRegisters, 8, &TModbusSlave::readInputRegisters);
        fixed(FnWriteSingleCoil, 8, &TModbusSlave::writeSingleCoil);
        fixed(FnWriteSingleRegister, 8, &TModbusSlave::writeSingleRegister);
        fixed(FnReadExceptionStatus, 4, &TModbusSlave::readExceptionStatus);
        fixed(FnDiagnostics, 8, &TModbusSlave::diagnostics);
        fixed(FnGetCommEventCounter, 4, &TModbusSlave::getCommEventCounter);
        fixed(FnGetCommEventLog, 4, &TModbusSlave::getCommEventLog);
        counted(FnWriteMultipleCoils, OffByteCount, 9, 7, &TModbusSlave::writeMultipleCoils);
        counted(FnWriteMultipleRegisters, OffByteCount, 9, 7,
                &TModbusSlave::writeMultipleRegisters);
        fixed(FnReportSlaveId, 4, &TModbusSlave::reportSlaveId);
        counted(FnReadFileRecord, 2, 5, 5, &TModbusSlave::illegalFunction);
        counted(FnWriteFileRecord, 2, 5, 5, &TModbusSlave::illegalFunction);
        fixed(FnMaskWriteRegister, 10, &TModbusSlave::illegalFunction);
        counted(FnReadWriteRegisters, 10, 13, 11, &TModbusSlave::illegalFunction);
        fixed(FnReadFifoQueue, 10, &TModbusSlave::illegalFunction);
        return r;
    }();
    return rules[Function];
}

TModbusSlave::TModbusSlave(TRegisterImage &Image, ISerialLine &Line, ITimeOutTimer &Timer)
    : m_image(Image), m_target(&Image), m_lock(&Image.ImageLock), m_line(Line), m_timer(Timer)
{
}

void TModbusSlave::SetSlaves(TSlaveSet *Slaves)
{
    m_slaves = Slaves;
    m_target = &m_image;
    m_lock = Slaves != nullptr ? &Slaves->Lock() : &m_image.ImageLock;
}

void TModbusSlave::Comm1RxChar(int Count)
{
    if (Count <= 0)
        return; // nothing arrived
    if (Count > RxBufferSize - RxCount) {
        // No request is that long: start again from nothing.
        m_line.PurgeIn();
        if (m_observer)
            report(TVerdict::TooLong, Count);
        RxCount = 0;
    } else {
        // Only what Read placed counts; a failed or short read must not turn
        // stale buffer bytes into received ones.
        const int placed = m_line.Read(RxBuf.data() + RxCount, Count);
        if (placed > 0)
            RxCount += std::min(placed, Count);
    }
    if (!m_timer.IsRunning())
        m_timer.Start();
    if (FrameComplete()) {
        m_timer.Stop();
        // A device still holding back a reply does not answer two requests:
        // the new one replaces it.
        m_replaced = m_sender.Cancel();
        ProcessFrame();
        m_replaced = false;
    }
}

void TModbusSlave::TimeOutTimerTimer()
{
    m_timer.Stop();
    if (m_observer && RxCount > 0) {
        // A code without a length rule could never have completed: the
        // time-out is how the engine stays silent on it.
        const FunctionRule &rule = ruleFor(RxBuf[OffFunction]);
        const bool silentCode = RxCount > OffFunction && rule.FixedLen == 0 && rule.CountExtra == 0;
        report(silentCode ? TVerdict::NoReply : TVerdict::TimedOut);
    }
    RxCount = 0;
}

bool TModbusSlave::FrameComplete()
{
    if (RxCount < MinRequestLength)
        return false;
    const FunctionRule &rule = ruleFor(RxBuf[OffFunction]);
    ExpectedLen = 0;
    if (rule.FixedLen != 0)
        ExpectedLen = rule.FixedLen;
    else if (rule.CountExtra != 0 && RxCount >= rule.MinCount)
        ExpectedLen = RxBuf[rule.CountOffset] + rule.CountExtra; // int: no wrap-around
    return ExpectedLen != 0 && RxCount >= ExpectedLen;
}

void TModbusSlave::ProcessFrame()
{
    TVerdict verdict = TVerdict::OtherSlave;
    m_fault = {};
    TFaultDecision fault;
    const int n = handleLocked(verdict, fault);
    // The reply leaves with the lock released: the write may wait on the line.
    int sent = 0;
    bool failed = false;
    if (n >= MinRequestLength && n <= MaxFrameLength) {
        putCrcLE(TxBuf.data(), size_t(n - CrcLength), Crc16(TxBuf.data(), size_t(n - CrcLength)));
        verdict = (TxBuf[OffFunction] & ExceptionFlag) != 0 ? TVerdict::Exception
                                                            : TVerdict::Answered;
        m_fault = fault;
        ShapeReply(TxBuf.data(), n, fault);
        if (fault.Kind != TFaultKind::NoReply) {
            failed = m_sender.Send(TxBuf.data(), n, fault) < 0;
            sent = n;
        }
    }
    if (m_observer)
        report(verdict, 0, sent, failed);
    RxCount = 0;
}

int TModbusSlave::handleLocked(TVerdict &Verdict, TFaultDecision &Fault)
{
    std::lock_guard<std::mutex> hold(*m_lock);
    if (m_replaced)
        m_faults.CountCancelled();
    if (addressedToUs()) {
        m_line.PurgeIn();
        m_line.PurgeOut();
        Verdict = TVerdict::BadCrc;
        if (!crcIsRight())
            return 0;
        // An injected exception replaces the handler: the image stays as it is.
        Fault = m_faults.Decide(RxBuf[OffSlaveId]);
        Verdict = TVerdict::NoReply;
        return Fault.Kind == TFaultKind::Exception ? ExceptionReply(Fault.ExceptionCode)
                                                   : DispatchFunction();
    }
    if (isAcceptedBroadcast()) {
        // Checked like any request, carried out by every slave, answered by
        // none: the replies the handlers build are never sent.
        m_line.PurgeIn();
        m_line.PurgeOut();
        const bool right = crcIsRight();
        if (right) {
            for (int i = 0; i < m_slaves->Count(); ++i) {
                m_target = &m_slaves->At(i);
                DispatchFunction();
            }
        }
        m_target = &m_image;
        Verdict = right ? TVerdict::Broadcast : TVerdict::BadCrc;
        return 0;
    }
    Verdict = RxBuf[OffSlaveId] == 0 ? TVerdict::Broadcast : TVerdict::OtherSlave;
    return 0;
}

int TModbusSlave::DispatchFunction()
{
    const Handler fn = ruleFor(RxBuf[OffFunction]).Fn;
    return fn != nullptr ? (this->*fn)() : illegalFunction();
}

int TModbusSlave::ExceptionReply(uint8_t Code)
{
    TxBuf[0] = uint8_t(m_target->MBid);
    TxBuf[1] = uint8_t(RxBuf[OffFunction] | ExceptionFlag);
    TxBuf[2] = Code;
    return ExceptionReplyLength;
}

bool TModbusSlave::addressedToUs()
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

bool TModbusSlave::isAcceptedBroadcast() const
{
    if (m_slaves == nullptr || !m_slaves->AcceptBroadcast || RxBuf[OffSlaveId] != BroadcastId)
        return false;
    switch (RxBuf[OffFunction]) {
    case FnWriteSingleCoil:
    case FnWriteSingleRegister:
    case FnWriteMultipleCoils:
    case FnWriteMultipleRegisters:
        return true;
    default:
        return false;
    }
}

bool TModbusSlave::crcIsRight() const
{
    // The CRC is read from received bytes only.
    const int len = ExpectedLen;
    if (len < MinRequestLength || len > RxCount)
        return false;
    const uint16_t crc = Crc16(RxBuf.data(), size_t(len - CrcLength));
    return RxBuf[len - 2] == uint8_t(crc) && RxBuf[len - 1] == uint8_t(crc >> 8);
}

void TModbusSlave::report(TVerdict Verdict, int Unread, int ReplyLen, bool ReplyFailed)
{
    TFrameReport r;
    r.Rx = std::span<const uint8_t>(RxBuf.data(), size_t(RxCount));
    r.Unread = Unread;
    r.Verdict = Verdict;
    if (Verdict == TVerdict::Exception)
        r.ExceptionCode = TxBuf[2];
    r.Reply = std::span<const uint8_t>(TxBuf.data(), size_t(ReplyLen));
    r.ReplyFailed = ReplyFailed;
    r.Injected = m_fault.Kind;
    r.DelayMs = m_fault.DelayMs;
    r.SplitMs = m_fault.SplitMs;
    r.Replaced = m_replaced;
    m_fault = {};
    m_observer->FrameDone(r);
}

int TModbusSlave::beginReply()
{
    TxBuf[0] = uint8_t(m_target->MBid);
    TxBuf[1] = RxBuf[OffFunction];
    return 2;
}

int TModbusSlave::echoReply()
{
    beginReply();
    std::copy_n(RxBuf.begin() + OffAddress, 4, TxBuf.begin() + OffAddress);
    return EchoReplyLength;
}

int TModbusSlave::fixedReply(const uint8_t *Data, int Length)
{
    const int head = beginReply();
    std::copy_n(Data, Length, TxBuf.begin() + head);
    return head + Length + CrcLength;
}

int TModbusSlave::writeDataBytes() const
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

template <typename Table> int TModbusSlave::readBits(const Table &Bits)
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    if (a + q > Bits.Count())
        return ExceptionReply(ExIllegalDataAddress);
    if (q > MaxReadBits)
        return ExceptionReply(ExIllegalDataValue);
    const int byteCount = (q + 7) / 8;
    beginReply();
    TxBuf[OffReplyByteCount] = uint8_t(byteCount);
    // Register A + 1 + 8k goes to bit 0 of byte k; bits past the quantity stay 0.
    std::array<uint8_t, MaxReadBits + 8> entries;
    Bits.Read(a + 1, q, entries.data());
    const uint8_t *from = entries.data();
    const int whole = q / 8;
    for (int k = 0; k < whole; ++k, from += 8)
        TxBuf[OffReplyData + k] = packEightBits(from);
    if (whole < byteCount)
        TxBuf[OffReplyData + whole] = packBits(from, q - 8 * whole);
    return byteCount + 5;
}

template <typename Table> int TModbusSlave::readWords(const Table &Words)
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    if (a + q > Words.Count())
        return ExceptionReply(ExIllegalDataAddress);
    if (q > MaxReadRegisters)
        return ExceptionReply(ExIllegalDataValue);
    beginReply();
    TxBuf[OffReplyByteCount] = uint8_t(2 * q);
    std::array<uint16_t, MaxReadRegisters> values;
    Words.Read(a + 1, q, values.data());
    for (int i = 0; i < q; ++i)
        putU16BE(TxBuf.data(), size_t(OffReplyData + 2 * i), values[size_t(i)]);
    return 2 * q + 5;
}

int TModbusSlave::readCoils()
{
    return readBits(m_target->Coils);
}
int TModbusSlave::readDiscreteInputs()
{
    return readBits(m_target->DiscreteInputs);
}
int TModbusSlave::readHoldingRegisters()
{
    return readWords(m_target->HoldingRegs);
}
int TModbusSlave::readInputRegisters()
{
    return readWords(m_target->InputRegs);
}

int TModbusSlave::writeSingleCoil()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    if (a >= m_target->Coils.Count())
        return ExceptionReply(ExIllegalDataAddress);
    const uint16_t v = readU16BE(RxBuf.data(), OffQuantity);
    if (v == CoilOn)
        m_target->Coils.Set(a + 1, 1);
    else if (v == CoilOff)
        m_target->Coils.Set(a + 1, 0);
    // Any other value leaves the coil alone but is echoed all the same.
    return echoReply();
}

int TModbusSlave::writeSingleRegister()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    if (a >= m_target->HoldingRegs.Count())
        return ExceptionReply(ExIllegalDataAddress);
    m_target->HoldingRegs.Set(a + 1, readU16BE(RxBuf.data(), OffQuantity));
    return echoReply();
}

int TModbusSlave::writeMultipleCoils()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    if (a + q > m_target->Coils.Count())
        return ExceptionReply(ExIllegalDataAddress);
    // Coils beyond the bits carried keep their values; bits beyond Q are ignored.
    const int bytes = std::min(writeDataBytes(), (q + 7) / 8);
    for (int k = 0; k < bytes; ++k) {
        const uint8_t packed = RxBuf[OffWriteData + k];
        for (int j = 0; j < 8; ++j) {
            const int r = a + 1 + 8 * k + j;
            if (r <= a + q)
                m_target->Coils.Set(r, BitIsSet(packed, j) ? 1 : 0);
        }
    }
    return echoReply();
}

int TModbusSlave::writeMultipleRegisters()
{
    const int a = readU16BE(RxBuf.data(), OffAddress);
    const int q = readU16BE(RxBuf.data(), OffQuantity);
    if (a + q > m_target->HoldingRegs.Count())
        return ExceptionReply(ExIllegalDataAddress);
    // A short byte count writes only the registers whose two bytes arrived.
    const int count = std::min(q, writeDataBytes() / 2);
    for (int i = 0; i < count; ++i)
        m_target->HoldingRegs.Set(a + 1 + i, readU16BE(RxBuf.data(), size_t(OffWriteData + 2 * i)));
    return echoReply();
}

int TModbusSlave::readExceptionStatus()
{
    static constexpr uint8_t status[] = {0x00}; // no status bit set
    return fixedReply(status, sizeof status);
}

int TModbusSlave::diagnostics()
{
    // Every sub-function is echoed; the slave has no counters and no listen-only mode.
    return echoReply();
}

int TModbusSlave::getCommEventCounter()
{
    static constexpr uint8_t counter[] = {0x00, 0x00, 0xFF, 0xFF}; // status 0, count 0xFFFF
    return fixedReply(counter, sizeof counter);
}

int TModbusSlave::getCommEventLog()
{
    // Byte count 8, status 0, event count 0x0108, message count 0x0121, two event bytes.
    static constexpr uint8_t log[] = {0x08, 0x00, 0x00, 0x01, 0x08, 0x01, 0x21, 0x20, 0x00};
    return fixedReply(log, sizeof log);
}

int TModbusSlave::reportSlaveId()
{
    // Byte count 9 covers everything up to the CRC: slave-id byte, run indicator
    // on, seven device bytes. Nothing follows them but the CRC.
    static constexpr uint8_t id[] = {0x09, 0x09, 0xFF, 0x09, 0xFF, 0x01, 0x02, 0x0A, 0x00, 0xD0};
    return fixedReply(id, sizeof id);
}

int TModbusSlave::illegalFunction()
{
    return ExceptionReply(ExIllegalFunction);
}

} // namespace quorlin
