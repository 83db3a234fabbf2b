// SPDX-License-Identifier: MIT
// The watcher of an open port: waits for line events on its own duplicate of
// the port descriptor. Received characters and the line's deadlines go to the
// line handler, when there is one, right here on the watcher's thread; every
// other completed wait is handed to the user-interface thread, the watcher
// blocking until it has been handled there. The device starts one per
// Open and stops it in Close; nobody joins or deletes it, it ends by itself.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/posixserial.h"
#include "serial/commint.h"
#include "serial/linehandler.h"

namespace quorlin
{

class TCommEventThread : public std::enable_shared_from_this<TCommEventThread>
{
  public:
    using TSignalEvent = std::function<void(TCommEventThread *Sender, uint32_t EventMask)>;

    // Sets the port's event mask and starts the thread at once. Deliveries run
    // in the event loop of the calling (user-interface) thread, modal loops
    // included. Null when the port descriptor cannot be watched.
    // Line, when given, serves received characters and deadlines on the
    // watcher's own thread from the first event on (see SetLineHandler).
    static std::shared_ptr<TCommEventThread> Create(int PortFd, TCommEventTypes MonitorEvents,
                                                    TSysApi &Api = TSysApi::Default(),
                                                    ILineHandler *Line = nullptr);
    ~TCommEventThread();

    // Set once by the device, on the user-interface thread, before it next
    // serves its event loop; called there with the completed event mask.
    TSignalEvent OnSignal;
    // Set with OnSignal; called on the user-interface thread, without
    // blocking the watcher, when the line is gone for good (hung up,
    // unplugged: Code is an errno value). The watcher ends after it.
    std::function<void(TCommEventThread *Sender, int Code)> OnLost;

    // Received characters and deadlines go to Handler on this thread (null:
    // received characters are handed over like every other event). Returns
    // once a call in progress on the old handler has ended.
    void SetLineHandler(ILineHandler *Handler);
    // While the returned lock is held the line's thread calls no handler:
    // what the handler owns may be changed from another thread meanwhile.
    std::unique_lock<std::mutex> HoldLine() { return std::unique_lock<std::mutex>(m_lineLock); }

    // Sets the terminate flag and wakes the wait. Nothing is delivered after
    // it, and it returns once a line handler call in progress has ended, so
    // the caller may close the port and free what the handler uses.
    void Stop();
    // The wait in progress ends and the line handler's deadline is asked again.
    void Wake() { m_waiter.Wake(); }
    bool Terminated() const { return m_terminated.load(); }
    // Told by the handler, during a delivery, that it took input (read or
    // purged); a delivery without it leaves the queued bytes old.
    void InputTaken() { m_inputTaken = true; }
    uint32_t Mask() const { return m_waiter.Mask(); }

    // The OR of the event flags of MonitorEvents: {evRxChar} gives 1, all nine 511.
    static uint32_t EventMaskOf(TCommEventTypes MonitorEvents);
    // Watcher threads that have not ended yet, all devices together; a
    // watcher counts until it has released its descriptors.
    static int Running();

  private:
    TCommEventThread(TSysApi &Api);
    void Execute();
    void HandOver(uint32_t EventMask);
    void Deliver(uint32_t EventMask);
    void ReportLost(int Code);
    int lineTimeoutMs();
    void lineDeadline();
    void lineDeadlineHeld();
    uint32_t lineEvents(uint32_t EventMask);

    TSerialEventWaiter m_waiter;
    std::atomic<bool> m_terminated{false};
    bool m_inputTaken = false;     // user-interface thread only
    std::atomic<uint64_t> m_delivered{0}; // deliveries done, for the hand-over's ordering
    // Held around every call of m_line. First in the line's lock order: the
    // engine takes ImageLock and the device's transfer lock inside it, so
    // neither may be held by whoever takes it. A call may hold it as long
    // as a reply's write waits (the device's write time-out, at most).
    std::mutex m_lineLock;
    ILineHandler *m_line = nullptr;
    QObject *m_receiver = nullptr; // lives in the user-interface thread; deleteLater at the end
};

} // namespace quorlin
