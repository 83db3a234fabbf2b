// SPDX-License-Identifier: MIT
// The network listeners: one I/O thread with one epoll loop serves every
// listener and connection, framing each connection's bytes and answering
// through the same request handler, slaves, lock and faults as the serial
// line. The window never runs any of this; it reads the listeners' states and
// drains the frame reports.
#pragma once

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "engine/framequeue.h"
#include "engine/listenerconfig.h"
#include "engine/requesthandler.h"
#include "engine/slaveset.h"
#include "platform/netsocket.h"

namespace quorlin
{

// Output a connection may have waiting before it is closed: a client that
// stops reading must not make the program hold its replies for ever.
inline constexpr size_t MaxPendingOutput = 64 * 1024;

// What the window shows of one listener; the thread changes only atomics.
struct TListenerState {
    TListenerConfig Config;
    std::string Error;  // why it does not listen; empty when it does
    int BoundPort = -1; // the port it listens on (Config.Port unless 0)
    TFd Socket;
    std::atomic<int> Clients{0};
    std::atomic<uint64_t> Accepted{0};
    std::atomic<uint64_t> Refused{0};    // beyond MaxClients: accepted and closed at once
    std::atomic<uint64_t> Overflowed{0}; // closed because they stopped reading
    std::atomic<uint64_t> BadHeaders{0}; // closed for a malformed Modbus TCP header
    bool Listening() const { return Socket.Valid(); }
};

class TNetServer
{
  public:
    // Answers as the slaves of Slaves with the faults of Faults (both shared
    // with the serial line, under the set's lock); both outlive the server.
    TNetServer(TSlaveSet &Slaves, TFaultPlan &Faults);
    ~TNetServer();
    TNetServer(const TNetServer &) = delete;
    TNetServer &operator=(const TNetServer &) = delete;

    // Stops what runs, then opens every enabled listener here (so a failure
    // is known at once, in Listener(i).Error) and starts the thread when one
    // listens. False when any enabled listener failed.
    bool Start(const std::vector<TListenerConfig> &Listeners);
    // While running: listeners asked for again exactly as they run keep
    // their sockets and clients (in their new places); the others close with
    // their connections, and new or changed ones open. Not running: Start.
    // False when any enabled listener failed.
    bool Update(const std::vector<TListenerConfig> &Listeners);
    // Closes every connection and listener and stops the thread.
    void Stop();
    bool Running() const { return m_thread.joinable(); }

    int ListenerCount() const { return int(m_listeners.size()); }
    const TListenerState &Listener(int Index) const { return *m_listeners[size_t(Index)]; }
    int Clients() const;

    // Reports of every frame, from the thread: the window drains them.
    TFrameQueue &Frames() { return m_frames; }
    // When descriptors ran out, accepting paused this often.
    uint64_t AcceptPauses() const { return m_acceptPauses.load(); }

  private:
    struct TConnection;
    static std::unique_ptr<TListenerState> openListener(const TListenerConfig &Config);
    void run();
    void accept(int Index, int64_t NowUs);
    void serve(TConnection &C, bool In, bool Out, int64_t NowUs);
    bool flush(TConnection &C); // false: the connection failed
    void settle(TConnection &C, int64_t NowUs);
    void close(uint64_t Key);
    void pauseAccepting(int64_t NowUs);
    void resumeAccepting();

    TSlaveSet &m_slaves;
    TRegisterImage m_spare; // the workspace's own image, never answered from
    TRequestWorkspace m_work{m_spare};
    TFrameQueue m_frames;
    std::vector<std::unique_ptr<TListenerState>> m_listeners;

    TFd m_events;
    TFd m_wake;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::atomic<uint64_t> m_acceptPauses{0};

    // The thread's own.
    std::unordered_map<uint64_t, std::unique_ptr<TConnection>> m_connections;
    std::set<std::pair<int64_t, uint64_t>> m_deadlines; // (due, key)
    uint64_t m_nextKey = 0;
    int64_t m_resumeAcceptUs = -1; // accepting paused until then
};

} // namespace quorlin

namespace quorlin
{

// "tcp 127.0.0.1:1502: 3 clients, rtu-tcp 127.0.0.1:4001: 0 clients", a
// listener that failed with its reason; empty without listeners.
std::string ListenersStatusText(const TNetServer &Server);

} // namespace quorlin
