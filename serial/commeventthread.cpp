// SPDX-License-Identifier: MIT
#include "serial/commeventthread.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <thread>

#include "engine/deadline.h"

namespace quorlin
{

namespace
{
std::atomic<int> runningWatchers{0};
// After a failed or hung-up wait: long enough to cost no CPU, short enough
// that a line coming back is noticed at once by a person.
constexpr int backOffMs = 40;
} // namespace

uint32_t TCommEventThread::EventMaskOf(TCommEventTypes MonitorEvents)
{
    // Event flag of each TCommEventType, in declaration order.
    static constexpr uint32_t flags[] = {EV_BREAK, EV_CTS,    EV_DSR,    EV_ERR,    EV_RING,
                                         EV_RLSD,  EV_RXCHAR, EV_RXFLAG, EV_TXEMPTY};
    uint32_t mask = 0;
    for (unsigned e = 0; e < std::size(flags); ++e)
        if (MonitorEvents & (1u << e))
            mask |= flags[e];
    return mask;
}

int TCommEventThread::Running()
{
    return runningWatchers.load();
}

TCommEventThread::TCommEventThread(TSysApi &Api) : m_waiter(Api) {}

TCommEventThread::~TCommEventThread()
{
    if (m_receiver)
        m_receiver->deleteLater(); // it lives in the user-interface thread
}

std::shared_ptr<TCommEventThread>
TCommEventThread::Create(int PortFd, TCommEventTypes MonitorEvents, TSysApi &Api,
                         ILineHandler *Line)
{
    std::shared_ptr<TCommEventThread> t(new TCommEventThread(Api));
    t->m_line = Line;
    if (t->m_waiter.Attach(PortFd, EventMaskOf(MonitorEvents)))
        return nullptr;
    t->m_receiver = new QObject; // belongs to the calling, user-interface thread
    ++runningWatchers;
    try {
        // The thread holds its own reference: it releases itself when its
        // loop ends, whoever else still holds one.
        std::thread([t]() mutable {
            t->Execute();
            t.reset(); // usually the last reference: descriptors closed here
            --runningWatchers;
        }).detach();
    } catch (const std::system_error &) {
        --runningWatchers;
        return nullptr;
    }
    return t;
}

void TCommEventThread::Stop()
{
    m_terminated.store(true);
    m_waiter.Signal();
    // A handler call already under way finishes before the port may go, and
    // none starts after: the handler may be freed once this returns.
    std::lock_guard<std::mutex> hold(m_lineLock);
    m_line = nullptr;
}

void TCommEventThread::SetLineHandler(ILineHandler *Handler)
{
    std::lock_guard<std::mutex> hold(m_lineLock);
    if (!m_terminated.load())
        m_line = Handler;
}

void TCommEventThread::Execute()
{
    TSerialEventWaiter::RaiseThreadPriority();
    while (!m_terminated.load()) {
        uint32_t mask = 0;
        const int timeoutMs = lineTimeoutMs();
        const auto result = m_waiter.Wait(mask, timeoutMs);
        if (m_terminated.load() || result == TSerialEventWaiter::TWait::Stopped)
            break;
        if (result == TSerialEventWaiter::TWait::TimedOut) {
            lineDeadline();
        } else if (result == TSerialEventWaiter::TWait::Events) {
            mask = lineEvents(mask);
            if (mask != 0)
                HandOver(mask);
        } else if (const int code = m_waiter.LostCode()) {
            ReportLost(code);
            break; // nothing more will come from this line
        } else {
            // A hung-up line or a failing descriptor: never spin on it, but
            // keep the line's deadlines.
            const int pause = timeoutMs >= 0 ? std::min(backOffMs, timeoutMs) : backOffMs;
            if (m_waiter.BackOff(pause))
                break;
            lineDeadline();
        }
    }
}

// Milliseconds until the handler's deadline, rounded up, or -1 for none.
int TCommEventThread::lineTimeoutMs()
{
    std::lock_guard<std::mutex> hold(m_lineLock);
    if (m_line == nullptr || m_terminated.load())
        return -1;
    const int64_t due = m_line->LineDeadlineUs();
    if (due < 0)
        return -1;
    const int64_t left = due - MonotonicUs();
    return left <= 0 ? 0 : int((left + 999) / 1000);
}

void TCommEventThread::lineDeadline()
{
    std::lock_guard<std::mutex> hold(m_lineLock);
    if (m_line != nullptr && !m_terminated.load())
        lineDeadlineHeld();
}

// With m_lineLock held.
void TCommEventThread::lineDeadlineHeld()
{
    const int64_t due = m_line->LineDeadlineUs();
    if (due >= 0 && due <= MonotonicUs())
        m_line->LineDeadline();
}

// Received characters go to the handler here; what is left of the mask is
// for the user-interface thread.
uint32_t TCommEventThread::lineEvents(uint32_t EventMask)
{
    if ((EventMask & EV_RXCHAR) == 0)
        return EventMask;
    std::lock_guard<std::mutex> hold(m_lineLock);
    if (m_line == nullptr || m_terminated.load())
        return EventMask;
    // A deadline already passed comes first: a thread woken late must not
    // join new bytes to a partial request whose time ran out before them.
    if (m_line->LineDeadlineBeforeRead())
        lineDeadlineHeld();
    const int queued = m_waiter.QueueLength();
    bool taken = false;
    if (queued > 0)
        taken = m_line->LineRxChar(queued);
    m_waiter.Delivered(taken);
    // Bytes that keep coming must not keep a time-out from falling due.
    lineDeadlineHeld();
    return EventMask & ~uint32_t(EV_RXCHAR);
}

// The only place where the watcher calls into the user-interface thread; it
// blocks until the delivery has run there. Every event loop of that thread
// serves it, modal ones included.
void TCommEventThread::HandOver(uint32_t EventMask)
{
    Q_ASSERT(QThread::currentThread() != m_receiver->thread());
    auto self = shared_from_this();
    QMetaObject::invokeMethod(
        m_receiver, [self, EventMask] { self->Deliver(EventMask); }, Qt::BlockingQueuedConnection);
    // Qt's own semaphore already orders the delivery before this point; this
    // says so in terms a race detector can follow.
    m_delivered.load(std::memory_order_acquire);
}

// Queued, not blocking: the watcher ends right after, and the device closes
// the port when the report runs. The report holds the watcher weakly: a
// report still queued when the program ends is destroyed with the event
// queue locked, where the watcher's destructor could not post its clean-up.
// While the port is open the device's own reference keeps the watcher alive.
void TCommEventThread::ReportLost(int Code)
{
    std::weak_ptr<TCommEventThread> weak = shared_from_this();
    QMetaObject::invokeMethod(
        m_receiver,
        [weak, Code] {
            const auto self = weak.lock();
            if (self && !self->m_terminated.load() && self->OnLost)
                self->OnLost(self.get(), Code);
        },
        Qt::QueuedConnection);
}

void TCommEventThread::Deliver(uint32_t EventMask)
{
    if (!m_terminated.load()) { // nothing after Stop, even when queued before
        m_inputTaken = false;
        if (OnSignal)
            OnSignal(this, EventMask);
        if (EventMask & EV_RXCHAR)
            m_waiter.Delivered(m_inputTaken);
    }
    m_delivered.fetch_add(1, std::memory_order_release);
}

} // namespace quorlin
