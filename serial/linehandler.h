// SPDX-License-Identifier: MIT
// What an open port's own thread does itself instead of handing it to the
// user-interface thread: take in received characters and keep the line's
// deadlines. The engine answers a master from here, so a busy window never
// makes a master wait.
#pragma once

#include <cstdint>

namespace quorlin
{

class ILineHandler
{
  public:
    virtual ~ILineHandler() = default;
    // Count (> 0) bytes wait in the driver's input queue. True when the
    // handler took input (read or purged), so what is still queued is new.
    virtual bool LineRxChar(int Count) = 0;
    // When LineDeadline is to be called next, in microseconds of the
    // steady clock; -1 for no deadline.
    virtual int64_t LineDeadlineUs() = 0;
    // The deadline has come (or passed).
    virtual void LineDeadline() = 0;
    // Whether a deadline that passed while characters were already waiting
    // is served before they are read (the default). A handler that times the
    // characters itself, and so can tell they came in time, says false.
    virtual bool LineDeadlineBeforeRead() { return true; }
    // The port closed, or is about to open: what belonged to the line as it
    // was (a reply held back, a partial request) must not reach the next one.
    // Called on the user-interface thread while no watcher serves the line.
    virtual void LineReset() {}
};

} // namespace quorlin
