// SPDX-License-Identifier: MIT
#include "net/netserver.h"

#include <chrono>

#include "engine/deadline.h"

namespace quorlin
{

namespace
{

// Keys of the event set: 0 the wake event, 1..n the listeners, then connections.
constexpr uint64_t WakeKey = 0;
constexpr uint64_t FirstConnectionKey = uint64_t(1) << 32;
// After descriptors ran out, accepting waits this long before it tries again.
constexpr int64_t AcceptPauseUs = 100000;

int64_t steadyUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

struct TNetServer::TConnection {
    TConnection(uint64_t Key, TFd Socket, int Listener, TStreamFraming Framing)
        : Key(Key), Socket(std::move(Socket)), Listener(Listener), Framing(std::move(Framing))
    {
    }
    uint64_t Key;
    TFd Socket;
    int Listener;
    TStreamFraming Framing;
    bool WatchingOut = false;
    int64_t Due = -1; // its entry in m_deadlines
};

TNetServer::TNetServer(TSlaveSet &Slaves, TFaultPlan &Faults) : m_slaves(Slaves)
{
    m_work.Handler.SetSlaves(&Slaves);
    m_work.Handler.ShareFaults(&Faults);
}

TNetServer::~TNetServer()
{
    Stop();
}

int TNetServer::Clients() const
{
    int n = 0;
    for (const auto &l : m_listeners)
        n += l->Clients.load(std::memory_order_relaxed);
    return n;
}

std::unique_ptr<TListenerState> TNetServer::openListener(const TListenerConfig &Config)
{
    auto state = std::make_unique<TListenerState>();
    state->Config = NormalisedListener(Config);
    if (state->Config.Enabled) {
        state->Socket = ListenTcp(state->Config.Address, state->Config.Port, state->Error);
        if (state->Listening())
            state->BoundPort = LocalPort(state->Socket.Get());
    }
    return state;
}

bool TNetServer::Start(const std::vector<TListenerConfig> &Listeners)
{
    Stop();
    m_listeners.clear();
    bool ok = true;
    bool any = false;
    for (const TListenerConfig &c : Listeners) {
        m_listeners.push_back(openListener(c));
        const TListenerState &l = *m_listeners.back();
        any = any || l.Listening();
        ok = ok && (l.Listening() || !l.Config.Enabled);
    }
    if (!any)
        return ok;
    // Many clients, each a descriptor: the soft limit is often far below the hard one.
    RaiseFileLimit();
    std::string error;
    m_events = NewEventSet(error);
    m_wake = NewWakeEvent(error);
    if (!m_events.Valid() || !m_wake.Valid()) {
        for (auto &l : m_listeners)
            if (l->Listening()) {
                l->Error = error;
                l->Socket.Reset();
            }
        return false;
    }
    WatchFd(m_events.Get(), m_wake.Get(), WakeKey, true, false, true);
    for (size_t i = 0; i < m_listeners.size(); ++i)
        if (m_listeners[i]->Listening())
            WatchFd(m_events.Get(), m_listeners[i]->Socket.Get(), 1 + i, true, false, true);
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return ok;
}

bool TNetServer::Update(const std::vector<TListenerConfig> &Listeners)
{
    if (!m_thread.joinable())
        return Start(Listeners);
    // The thread pauses while its lists change; the connections stay in the
    // event set meanwhile, and what they send waits in their sockets.
    m_stop = true;
    SignalWakeEvent(m_wake.Get());
    m_thread.join();

    std::vector<std::unique_ptr<TListenerState>> old = std::move(m_listeners);
    m_listeners.clear();
    // Each listening one asked for again exactly as it is keeps its socket,
    // its counts and its clients: in its own place first (two rows alike on
    // port 0 stay apart), else the first unmatched one alike.
    std::vector<int> keptFrom(Listeners.size(), -1);
    std::vector<int> movedTo(old.size(), -1);
    std::vector<TListenerConfig> wanted;
    for (const TListenerConfig &c : Listeners)
        wanted.push_back(NormalisedListener(c));
    auto match = [&](size_t I, size_t J) {
        if (keptFrom[I] >= 0 || movedTo[J] >= 0 || !old[J]->Listening() ||
            !(old[J]->Config == wanted[I]))
            return;
        movedTo[J] = int(I);
        keptFrom[I] = int(J);
    };
    for (size_t i = 0; i < wanted.size() && i < old.size(); ++i)
        match(i, i);
    for (size_t i = 0; i < wanted.size(); ++i)
        for (size_t j = 0; j < old.size(); ++j)
            match(i, j);
    // What goes or changes closes first: a changed listener may want its own port again.
    const bool paused = m_resumeAcceptUs >= 0;
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        TConnection &c = *it->second;
        if (const int to = movedTo[size_t(c.Listener)]; to >= 0) {
            c.Listener = to;
            ++it;
            continue;
        }
        if (c.Due >= 0)
            m_deadlines.erase({c.Due, c.Key});
        UnwatchFd(m_events.Get(), c.Socket.Get());
        it = m_connections.erase(it);
    }
    for (size_t j = 0; j < old.size(); ++j)
        if (movedTo[j] < 0 && old[j]->Listening()) {
            if (!paused)
                UnwatchFd(m_events.Get(), old[j]->Socket.Get());
            old[j]->Socket.Reset();
        }

    bool ok = true;
    bool any = false;
    for (size_t i = 0; i < Listeners.size(); ++i) {
        const bool kept = keptFrom[i] >= 0;
        m_listeners.push_back(kept ? std::move(old[size_t(keptFrom[i])])
                                   : openListener(Listeners[i]));
        const TListenerState &l = *m_listeners.back();
        ok = ok && (l.Listening() || !l.Config.Enabled);
        if (!l.Listening())
            continue;
        any = true;
        // Keys follow the listeners' places; while accepting is paused none
        // is watched, and resumeAccepting watches them all.
        if (!paused)
            WatchFd(m_events.Get(), l.Socket.Get(), 1 + i, true, false, !kept);
    }
    if (!any) {
        Stop(); // no listener left: no thread, no descriptor
        return ok;
    }
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return ok;
}

void TNetServer::Stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        SignalWakeEvent(m_wake.Get());
        m_thread.join();
    }
    // The thread is gone: what it owned can go from here.
    m_connections.clear();
    m_deadlines.clear();
    m_resumeAcceptUs = -1;
    for (auto &l : m_listeners) {
        l->Socket.Reset();
        l->Clients = 0;
    }
    m_events.Reset();
    m_wake.Reset();
}

void TNetServer::run()
{
    TReadyFd events[256];
    while (!m_stop.load(std::memory_order_acquire)) {
        int64_t due = m_deadlines.empty() ? -1 : m_deadlines.begin()->first;
        if (m_resumeAcceptUs >= 0 && (due < 0 || m_resumeAcceptUs < due))
            due = m_resumeAcceptUs;
        // Rounded up, so a deadline is never woken for a little early and
        // spun on. The clock is read only when there is a deadline: the
        // everyday request pays for one reading, after the wait.
        const int timeout =
            due < 0 ? -1 : int(std::max<int64_t>(0, (due - steadyUs() + 999) / 1000));
        const int n = WaitEvents(m_events.Get(), events, 256, timeout);
        const int64_t now = steadyUs();
        for (int i = 0; i < n; ++i) {
            const uint64_t key = events[i].Key;
            if (key == WakeKey) {
                DrainWakeEvent(m_wake.Get());
            } else if (key < FirstConnectionKey) {
                accept(int(key - 1), now);
            } else if (auto it = m_connections.find(key); it != m_connections.end()) {
                if (events[i].Error)
                    close(key);
                else
                    serve(*it->second, events[i].In, events[i].Out, now);
            }
        }
        // Held replies whose time came, partial requests whose silence ran out.
        while (!m_deadlines.empty() && m_deadlines.begin()->first <= now) {
            const uint64_t key = m_deadlines.begin()->second;
            m_deadlines.erase(m_deadlines.begin());
            auto it = m_connections.find(key);
            if (it == m_connections.end())
                continue;
            it->second->Due = -1;
            it->second->Framing.Advance(now);
            if (!flush(*it->second))
                close(key);
            else
                settle(*it->second, now);
        }
        if (m_resumeAcceptUs >= 0 && now >= m_resumeAcceptUs)
            resumeAccepting();
    }
}

void TNetServer::accept(int Index, int64_t NowUs)
{
    TListenerState &l = *m_listeners[size_t(Index)];
    // A bounded batch: one busy listener does not starve the connections.
    for (int batch = 0; batch < 64; ++batch) {
        TFd socket;
        std::string peer;
        switch (AcceptTcp(l.Socket.Get(), socket, peer)) {
        case TAcceptResult::Again:
        case TAcceptResult::Failed:
            return;
        case TAcceptResult::OutOfDescriptors:
            pauseAccepting(NowUs);
            return;
        case TAcceptResult::Accepted:
            break;
        }
        if (l.Clients.load(std::memory_order_relaxed) >= l.Config.MaxClients) {
            ++l.Refused; // closed at once by socket's destructor
            continue;
        }
        const uint64_t key = FirstConnectionKey + m_nextKey++;
        const char *prefix = l.Config.Kind == TStreamKind::ModbusTcp ? "tcp " : "rtu-tcp ";
        auto c = std::make_unique<TConnection>(
            key, std::move(socket), Index,
            TStreamFraming(l.Config.Kind, m_work, l.Config.DefaultId, &m_frames, prefix + peer));
        c->Framing.SetClock(MonotonicUs); // the clock of the loop's NowUs
        if (!WatchFd(m_events.Get(), c->Socket.Get(), key, true, false, true))
            continue;
        ++l.Accepted;
        ++l.Clients;
        m_connections.emplace(key, std::move(c));
    }
}

void TNetServer::serve(TConnection &C, bool In, bool Out, int64_t NowUs)
{
    (void)Out; // whatever woke us, what is ready is written below
    if (In) {
        // One read per wake-up: level-triggered, so a client sending without
        // pause is served again on the next round, after the others.
        uint8_t buffer[16384];
        bool wouldBlock = false;
        const long n = ReadSome(C.Socket.Get(), buffer, sizeof buffer, wouldBlock);
        if (n == 0 || (n < 0 && !wouldBlock)) {
            close(C.Key);
            return;
        }
        if (n > 0 && !C.Framing.Received(buffer, size_t(n), NowUs)) {
            // What was answered before the bad header still goes out.
            ++m_listeners[size_t(C.Listener)]->BadHeaders;
            flush(C);
            close(C.Key);
            return;
        }
    }
    if (!flush(C)) {
        close(C.Key);
        return;
    }
    settle(C, NowUs);
}

bool TNetServer::flush(TConnection &C)
{
    std::vector<uint8_t> &out = C.Framing.Ready();
    if (!out.empty()) {
        const long n = WriteSome(C.Socket.Get(), out.data(), out.size());
        if (n < 0)
            return false;
        out.erase(out.begin(), out.begin() + n);
    }
    if (C.Framing.PendingBytes() > MaxPendingOutput) {
        ++m_listeners[size_t(C.Listener)]->Overflowed;
        return false;
    }
    return true;
}

void TNetServer::settle(TConnection &C, int64_t NowUs)
{
    (void)NowUs;
    // Watch for room to write only while something waits to be written.
    const bool wantOut = !C.Framing.Ready().empty();
    if (wantOut != C.WatchingOut) {
        WatchFd(m_events.Get(), C.Socket.Get(), C.Key, true, wantOut, false);
        C.WatchingOut = wantOut;
    }
    const int64_t due = C.Framing.NextDueUs();
    if (due != C.Due) {
        if (C.Due >= 0)
            m_deadlines.erase({C.Due, C.Key});
        if (due >= 0)
            m_deadlines.insert({due, C.Key});
        C.Due = due;
    }
}

void TNetServer::close(uint64_t Key)
{
    auto it = m_connections.find(Key);
    if (it == m_connections.end())
        return;
    TConnection &c = *it->second;
    if (c.Due >= 0)
        m_deadlines.erase({c.Due, Key});
    UnwatchFd(m_events.Get(), c.Socket.Get());
    --m_listeners[size_t(c.Listener)]->Clients;
    m_connections.erase(it);
}

void TNetServer::pauseAccepting(int64_t NowUs)
{
    // Level-triggered: a listener left watched with no descriptor to accept
    // into would wake the loop at once, for ever. It waits instead.
    if (m_resumeAcceptUs < 0)
        ++m_acceptPauses;
    for (auto &l : m_listeners)
        if (l->Listening())
            UnwatchFd(m_events.Get(), l->Socket.Get());
    m_resumeAcceptUs = NowUs + AcceptPauseUs;
}

void TNetServer::resumeAccepting()
{
    m_resumeAcceptUs = -1;
    for (size_t i = 0; i < m_listeners.size(); ++i)
        if (m_listeners[i]->Listening())
            WatchFd(m_events.Get(), m_listeners[i]->Socket.Get(), 1 + i, true, false, true);
}

} // namespace quorlin

namespace quorlin
{

std::string ListenersStatusText(const TNetServer &Server)
{
    std::string text;
    for (int i = 0; i < Server.ListenerCount(); ++i) {
        const TListenerState &l = Server.Listener(i);
        if (!l.Config.Enabled)
            continue;
        if (!text.empty())
            text += ", ";
        text += l.Config.Kind == TStreamKind::ModbusTcp ? "tcp " : "rtu-tcp ";
        text += ListenSpecText(l.Config.Address, l.Listening() ? l.BoundPort : l.Config.Port);
        if (!l.Listening()) {
            // "cannot listen on 127.0.0.1:502: Permission denied": the reason alone.
            const size_t colon = l.Error.rfind(": ");
            text += ": " + (colon == std::string::npos ? l.Error : l.Error.substr(colon + 2));
            continue;
        }
        const int n = l.Clients.load(std::memory_order_relaxed);
        text += ": " + std::to_string(n) + (n == 1 ? " client" : " clients");
    }
    return text;
}

} // namespace quorlin
