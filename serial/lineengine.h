// SPDX-License-Identifier: MIT
// The engine as an open port's own thread runs it: received characters go
// straight to the receive step, and the request time-out and the hold of a
// delayed reply are deadlines of that thread, not timers of the window.
#pragma once

#include "engine/deadline.h"
#include "engine/modbusslave.h"
#include "serial/commint.h"
#include "serial/linehandler.h"

namespace quorlin
{

class TLineEngine : public ILineHandler
{
  public:
    // TimeOut is the one Engine was made with; Reply is set as its reply timer here.
    TLineEngine(TModbusSlave &Engine, TCustomComm &Comm, TDeadline &TimeOut, TDeadline &Reply);

    bool LineRxChar(int Count) override;
    int64_t LineDeadlineUs() override;
    void LineDeadline() override;
    // Framing by silence tells from the arrival times itself whether
    // characters found late came in time.
    bool LineDeadlineBeforeRead() override;
    void LineReset() override;

  private:
    TModbusSlave &m_engine;
    TCustomComm &m_comm;
    TDeadline &m_timeOut;
    TDeadline &m_reply;
    // The injected unsolicited replies: due every UnsolicitedMs, from when
    // the faults asked for them.
    TDeadline m_unsolicited{0};
    int m_unsolicitedMs = 0; // the interval it runs with; 0 while off
    void syncUnsolicited();
};

} // namespace quorlin
