// SPDX-License-Identifier: MIT
// A serial line and a time-out timer that the tests and the fuzzer drive by
// hand: the line holds the driver's input queue and records everything the
// engine does to it; the timer only remembers whether it runs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "engine/crc16.h"
#include "engine/modbusslave.h"
#include "engine/registerimage.h"
#include "engine/serialline.h"

namespace quorlin::test
{

using Bytes = std::vector<uint8_t>;

class FakeLine : public ISerialLine
{
  public:
    std::deque<uint8_t> Input; // the driver's input queue
    std::vector<Bytes> Writes; // every Write, in order
    std::string Log;           // "R" read, "I" purge in, "O" purge out, "W" write
    int FailingReads = 0;      // the next reads return -1
    int ReadLimit = 0;         // > 0: a read places at most this many bytes

    int Read(void *Buffer, int Count) override
    {
        Log += 'R';
        if (FailingReads > 0) {
            --FailingReads;
            return -1;
        }
        int n = std::min<int>(Count, int(Input.size()));
        if (ReadLimit > 0)
            n = std::min(n, ReadLimit);
        auto *out = static_cast<uint8_t *>(Buffer);
        std::copy_n(Input.begin(), n, out);
        Input.erase(Input.begin(), Input.begin() + n);
        return n;
    }
    int Write(const void *Buffer, int Count) override
    {
        Log += 'W';
        const auto *p = static_cast<const uint8_t *>(Buffer);
        Writes.emplace_back(p, p + Count);
        return Count;
    }
    void PurgeIn() override
    {
        Log += 'I';
        Input.clear();
    }
    void PurgeOut() override { Log += 'O'; }
};

class FakeTimer : public ITimeOutTimer
{
  public:
    bool Running = false;
    int Starts = 0;
    int LastMs = 100; // the interval of the last start
    void Start() override
    {
        Running = true;
        ++Starts;
        LastMs = 100;
    }
    void StartFor(int Ms) override
    {
        Start();
        LastMs = Ms;
    }
    void Stop() override { Running = false; }
    bool IsRunning() const override { return Running; }
    int64_t AllowanceUs = 0; // the last allowance asked for
    void SetAllowanceUs(int64_t Us) override { AllowanceUs = Us; }
};

// One slave wired to its fakes, with id 1 and a cleared image.
struct Rig {
    TRegisterImage Image;
    FakeLine Line;
    FakeTimer Timer;
    TModbusSlave Slave{Image, Line, Timer};

    // Bytes reach the driver, which then reports everything it holds.
    void arrive(const Bytes &B)
    {
        Line.Input.insert(Line.Input.end(), B.begin(), B.end());
        if (!Line.Input.empty())
            Slave.Comm1RxChar(int(Line.Input.size()));
    }
    // Delivers B in pieces of Piece bytes, each its own event (0: one piece).
    void arriveInPieces(const Bytes &B, size_t Piece)
    {
        if (Piece == 0)
            Piece = B.size();
        for (size_t at = 0; at < B.size(); at += Piece)
            arrive(Bytes(B.begin() + at, B.begin() + std::min(B.size(), at + Piece)));
    }
    void fireTimer()
    {
        if (Timer.Running)
            Slave.TimeOutTimerTimer();
    }
};

// Appends the Modbus CRC of everything in Frame, low-order byte first.
inline void appendCrc(Bytes &Frame)
{
    const uint16_t c = Crc16(Frame.data(), Frame.size());
    Frame.push_back(uint8_t(c));
    Frame.push_back(uint8_t(c >> 8));
}

// "01 03 00 0A crc": hexadecimal bytes; the token "crc" appends the Modbus CRC
// of everything before it, low-order byte first.
inline Bytes hex(const std::string &Text)
{
    Bytes out;
    std::istringstream in(Text);
    std::string tok;
    while (in >> tok) {
        if (tok == "crc") {
            appendCrc(out);
        } else {
            out.push_back(uint8_t(std::stoul(tok, nullptr, 16)));
        }
    }
    return out;
}

inline std::string toHex(const Bytes &B)
{
    std::string s;
    char buf[4];
    for (uint8_t b : B) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        s += buf;
    }
    if (!s.empty())
        s.pop_back();
    return s;
}

} // namespace quorlin::test
