// SPDX-License-Identifier: MIT
// The only two things the engine knows of the outside world: the serial line
// it answers on and the one-shot timer that drops incomplete requests. The
// serial device and a QTimer fill these in the program; fakes fill them in
// tests and the fuzzer.
#pragma once

#include <cstdint>

namespace quorlin
{

class ISerialLine
{
  public:
    virtual ~ISerialLine() = default;
    // Places up to Count already-queued bytes in Buffer: the number placed, or -1.
    virtual int Read(void *Buffer, int Count) = 0;
    // Sends Count bytes: the number sent, or -1 after the write time-out.
    virtual int Write(const void *Buffer, int Count) = 0;
    // Discard the driver's input / output queue; nothing while the port is closed.
    virtual void PurgeIn() = 0;
    virtual void PurgeOut() = 0;
    // Microseconds until Count bytes written now will have left the line,
    // behind whatever it still has to send; 0 when it cannot tell. Never
    // waits.
    virtual int64_t SendTimeUs(int Count)
    {
        (void)Count;
        return 0;
    }
    // Sends Count bytes framed with a parity other than the line's (an injected
    // fault), the line's own parity back for whatever follows. A line without
    // parity to change sends them as they are.
    virtual int WriteWrongParity(const void *Buffer, int Count) { return Write(Buffer, Count); }
};

class ITimeOutTimer
{
  public:
    virtual ~ITimeOutTimer() = default;
    virtual void Start() = 0; // one-shot, 100 ms
    // One-shot for Ms milliseconds; a timer that keeps one interval runs that.
    virtual void StartFor(int Ms)
    {
        (void)Ms;
        Start();
    }
    virtual void Stop() = 0;
    virtual bool IsRunning() const = 0;
    // The running time-out falls due Us later than its 100 ms from Start:
    // the time the frame's own bytes take on the line. Each call replaces
    // the last; Start clears it. A timer that cannot move keeps its 100 ms.
    virtual void SetAllowanceUs(int64_t Us) { (void)Us; }
};

} // namespace quorlin
