// SPDX-License-Identifier: MIT
// Text written to a descriptor by a thread of its own, so that a reader that
// stops reading (a pipe nobody empties) never blocks the caller: the trace
// is written this way, and the window goes on whatever its reader does.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quorlin
{

class TStreamWriter
{
  public:
    // Fd is open for writing; Owned closes it once the writer is done with
    // it. At most MaxQueuedBytes wait to be written: what comes on top is
    // dropped and counted.
    TStreamWriter(int Fd, bool Owned, std::size_t MaxQueuedBytes = 1u << 20);
    // Close with a grace of one second.
    ~TStreamWriter();
    TStreamWriter(const TStreamWriter &) = delete;
    TStreamWriter &operator=(const TStreamWriter &) = delete;

    // Queues Text (one row) and returns at once. False when it was dropped:
    // the queue is full, the writer was closed or a write has failed.
    bool Write(std::string Text);
    // Rows dropped because the queue was full (the reader too slow).
    uint64_t Dropped() const;
    // A write failed (disk full, the reader gone): nothing more is written.
    bool Failed() const;
    // Gives what is queued up to Grace to be written, then stops the writer
    // whatever the reader does. True when everything queued went out.
    bool Close(std::chrono::milliseconds Grace);

  private:
    struct TState;
    std::shared_ptr<TState> m_state;
};

// Writes Text to Fd only as far as it goes without waiting (a message on
// standard error that must not block when that is a full pipe).
void WriteWithoutBlocking(int Fd, const std::string &Text);

} // namespace quorlin
