// SPDX-License-Identifier: MIT
// The register image of the emulated slave: four tables, the slave id, and the
// queue through which everything but a master's writes reaches the tables.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>

namespace quorlin
{

// Register type codes: the leading digit of the family's name.
enum : int32_t {
    RegTypeCoil = 0,          // "0x"
    RegTypeDiscreteInput = 1, // "1x"
    RegTypeInputReg = 3,      // "3x"
    RegTypeHoldingReg = 4,    // "4x"
};

inline constexpr int BitRegisterCount = 2048; // coils and discrete inputs: 1..2048
inline constexpr int WordRegisterCount = 256; // input and holding registers: 1..256

// Bit j of a packed coil byte carries the j-th lowest register of that byte.
inline constexpr std::array<uint8_t, 8> BitMask = {1, 2, 4, 8, 16, 32, 64, 128};

inline bool BitIsSet(uint8_t Byte, int j)
{
    return (Byte & BitMask[j & 7]) != 0;
}
inline uint8_t SetBit(uint8_t Byte, int j)
{
    return uint8_t(Byte | BitMask[j & 7]);
}

struct TPendingWrite {
    int32_t RegType;
    int32_t RegAdr;
    uint16_t Value;
};

// The four tables alone: what a view of a slave copies to show it.
struct TRegisterTables {
    // Register number n lives at index n; index 0 exists and is never addressed.
    std::array<uint8_t, BitRegisterCount + 1> Coils{};
    std::array<uint8_t, BitRegisterCount + 1> DiscreteInputs{};
    std::array<uint16_t, WordRegisterCount + 1> InputRegs{};
    std::array<uint16_t, WordRegisterCount + 1> HoldingRegs{};
};

class TRegisterImage : public TRegisterTables
{
  public:
    TRegisterImage() : ImageLock(m_ownLock) {}
    // An image guarded by a lock it shares: the slaves of one line share
    // one, so the engine and the window never need to hold two.
    explicit TRegisterImage(std::mutex &SharedLock) : ImageLock(SharedLock) {}
    TRegisterImage(const TRegisterImage &) = delete;
    TRegisterImage &operator=(const TRegisterImage &) = delete;

    int MBid = 1; // 1..255

    // Only the user-interface thread queues and applies; the engine never
    // looks at the queue.
    std::deque<TPendingWrite> PendingWrites;

  private:
    std::mutex m_ownLock; // before ImageLock, which may refer to it

  public:
    // Held by the engine while it handles one request, and by the tick while
    // it applies the pending writes and copies what the window shows. Never
    // held across a blocking system call. Lock order: the engine takes it
    // inside the port thread's line lock (TCommEventThread::HoldLine), so
    // whoever holds it never takes that one, nor the device's transfer lock.
    std::mutex &ImageLock;

    void ClearImage();
    // Keeps the low 16 bits of Value; takes no lock and checks nothing.
    void QueueWrite(int32_t RegType, int32_t RegAdr, uint32_t Value);
    // Oldest first; the caller holds ImageLock. Records naming no table, or a
    // register outside their table (0 included), are dropped.
    void ApplyPendingWrites();
    void ClearPendingWrites();
};

} // namespace quorlin
