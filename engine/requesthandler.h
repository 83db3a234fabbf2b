// SPDX-License-Identifier: MIT
// What every framing shares once a request has arrived whole: who answers it,
// the injected faults, the function handlers and the verdict. A framing (the
// serial line's RTU, Modbus TCP's MBAP, RTU over TCP) puts the request into
// RxBuf in RTU layout (slave id, function, data, two checksum bytes), says by
// its rules how the request is checked and addressed, and wraps the reply the
// handler leaves in TxBuf (same layout, checksum room included) for its wire.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "engine/faultplan.h"
#include "engine/frameobserver.h"
#include "engine/modbusdefs.h"
#include "engine/registerimage.h"
#include "engine/serialline.h"
#include "engine/slaveset.h"

namespace quorlin
{

// How a request's travel changes its handling.
struct TFramingRules {
    // The request ends in a CRC that must be right (RTU layouts); MBAP has none.
    bool Checksum = true;
    // Modbus TCP unit ids: 0 and 255 go to the default slave when no slave
    // has that id, an unknown id gets exception 11, and nothing is broadcast.
    bool GatewayIds = false;
    // With GatewayIds: the slave that answers 0 and 255; 0 = the lowest id.
    int DefaultId = 0;
    // A line whose queues are purged once a request is taken (the serial
    // line); null for connections, whose bytes are framed already.
    ISerialLine *Line = nullptr;
    // Which fault kinds the framing's replies can carry.
    TFaultMedium Medium = TFaultMedium::Serial;
};

class TRequestHandler
{
  public:
    // The handler reads the request from and writes the reply to buffers its
    // framing owns.
    TRequestHandler(TRegisterImage &Image, std::array<uint8_t, modbus::RxBufferSize> &Rx,
                    int &RxCount, int &ExpectedLen, std::array<uint8_t, modbus::MaxFrameLength> &Tx);
    TRequestHandler(const TRequestHandler &) = delete;
    TRequestHandler &operator=(const TRequestHandler &) = delete;

    // Answers as every slave of Slaves instead of Image alone (null: Image
    // again). The set must outlive the handler or be unset first.
    void SetSlaves(TSlaveSet *Slaves);
    TSlaveSet *Slaves() const { return m_slaves; }
    TRegisterImage &Image() const { return m_image; }
    std::mutex &Lock() const { return *m_lock; }

    // The faults this handler applies: its own plan, or one shared with the
    // other lines (null: its own again). Read and changed under Lock().
    TFaultPlan &Faults() { return *m_faults; }
    const TFaultPlan &Faults() const { return *m_faults; }
    void ShareFaults(TFaultPlan *Plan) { m_faults = Plan != nullptr ? Plan : &m_ownFaults; }

    // Under the lock: carries out the request in RxBuf (ExpectedLen bytes,
    // checksum room included), building the reply in TxBuf and returning its
    // length with the checksum room (the checksum itself is the framing's),
    // 0 for none; says what became of the request. Replaced: the request
    // cancelled a reply still held back.
    int Handle(const TFramingRules &Rules, bool Replaced, TVerdict &Verdict,
               TFaultDecision &Fault);
    // What became of the last request Handle called a broadcast.
    TBroadcastFate BroadcastFate() const { return m_broadcast; }

    int DispatchFunction();
    int ExceptionReply(uint8_t Code);

    using Handler = int (TRequestHandler::*)();
    // How long a request with this function code is, and who answers it. A code
    // with neither a fixed length nor a byte count never completes and is
    // never answered; one with a length but no handler gets exception 1.
    struct FunctionRule {
        int FixedLen = 0;    // whole request, CRC included; 0 when counted
        int CountOffset = 0; // position of the byte count
        int CountExtra = 0;  // bytes around the counted ones
        int MinCount = 0;    // bytes needed before the byte count is trusted
        Handler Fn = nullptr;
    };
    static const FunctionRule &ruleFor(uint8_t Function);
    // Whether a request with this code tells its own length (fixed or counted).
    static bool HasLength(uint8_t Function)
    {
        const FunctionRule &rule = ruleFor(Function);
        return rule.FixedLen != 0 || rule.CountExtra != 0;
    }
    // Whether the slave with this id keeps the protocol strictly; takes the lock.
    bool StrictFor(uint8_t Id) const;

  private:
    // Picks the image that answers the request in RxBuf; false for none.
    // The caller holds the lock.
    bool addressedToUs();
    // Modbus TCP's unit id rules; false when no slave answers the unit id.
    bool gatewayTarget(int DefaultId);
    bool isAcceptedBroadcast() const;
    // The functions a broadcast may carry: the four writes.
    static bool isWriteFunction(uint8_t Function);
    bool crcIsRight() const;
    void purge(const TFramingRules &Rules);
    // The request's length by its function's rule (checksum room included):
    // 0 for a code without one, -1 when too short to hold its byte count.
    int ruleLength() const;
    // A strict slave's checks before the handler runs, in the protocol's
    // order: the function (1), then quantities, byte counts and values (3);
    // the address (2) is the handler's. 0 when the request passes.
    // In engine/strictprotocol.cpp.
    uint8_t strictRefusal() const;
    bool strictServes(uint8_t Function) const;
    // The request at hand as the faults' aim sees it, for the slave m_target.
    TFaultRequest faultRequest() const;
    int beginReply();
    int echoReply();
    int fixedReply(const uint8_t *Data, int Length);
    int writeDataBytes() const;

    // Whether Quantity registers of the table from request address Address
    // exist on the slave at hand (and, for a write, may be written): 0 when
    // they do, else the exception code. First: the register Address serves.
    uint8_t checkRange(int RegType, int Address, int Quantity, bool Write, int &First) const;
    template <typename Table> int readBits(int RegType, const Table &Bits);
    template <typename Table> int readWords(int RegType, const Table &Words);
    // Count registers from First into TxBuf at At, high-order byte first.
    template <typename Table> void putWords(const Table &Words, int First, int Count, int At);

    // One handler per function code; each fills TxBuf and returns the reply
    // length, CRC included.
    int readCoils();
    int readDiscreteInputs();
    int readHoldingRegisters();
    int readInputRegisters();
    int writeSingleCoil();
    int writeSingleRegister();
    int writeMultipleCoils();
    int writeMultipleRegisters();
    int readExceptionStatus();
    int diagnostics();
    int getCommEventCounter();
    int getCommEventLog();
    int reportSlaveId();
    int maskWriteRegister();
    int readWriteRegisters();
    int encapsulatedInterface();
    int illegalFunction();

    std::array<uint8_t, modbus::RxBufferSize> &RxBuf;
    int &RxCount;
    int &ExpectedLen;
    std::array<uint8_t, modbus::MaxFrameLength> &TxBuf;

    TRegisterImage &m_image;
    TRegisterImage *m_target;      // the slave answering the request at hand
    TSlaveSet *m_slaves = nullptr; // null: m_image is the only slave
    std::mutex *m_lock;            // m_image's lock or the set's
    TFaultPlan m_ownFaults;
    TFaultPlan *m_faults = &m_ownFaults;
    TBroadcastFate m_broadcast = TBroadcastFate::None;
};

} // namespace quorlin

namespace quorlin
{

// A request handler with buffers of its own, for framings that copy each
// request in (one per network thread, shared by all its connections).
struct TRequestWorkspace {
    explicit TRequestWorkspace(TRegisterImage &Image)
        : Handler(Image, RxBuf, RxCount, ExpectedLen, TxBuf)
    {
    }
    std::array<uint8_t, modbus::RxBufferSize> RxBuf{};
    int RxCount = 0;
    int ExpectedLen = 0;
    std::array<uint8_t, modbus::MaxFrameLength> TxBuf{};
    TRequestHandler Handler;
};

} // namespace quorlin
