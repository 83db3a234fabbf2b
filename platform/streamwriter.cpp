// SPDX-License-Identifier: MIT
#include "platform/streamwriter.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace quorlin
{

struct TStreamWriter::TState {
    int Fd = -1;
    bool Owned = false;
    std::size_t MaxQueued = 0;
    int Wake[2] = {-1, -1}; // Close interrupts the writer's poll through it

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::string> Queue;                  // under Lock
    std::size_t Queued = 0;                         // bytes in Queue, under Lock
    bool Closing = false;                           // under Lock
    std::chrono::steady_clock::time_point Deadline; // under Lock, once Closing
    bool Done = false;                              // the thread has finished, under Lock
    bool GaveUp = false;                            // rows were left unwritten, under Lock
    bool Closed = false;                            // Close ran, under Lock
    bool CloseResult = false;                       // under Lock
    std::thread Thread;

    std::atomic<uint64_t> Dropped{0};
    std::atomic<bool> Failed{false};

    ~TState()
    {
        for (int fd : Wake)
            if (fd >= 0)
                ::close(fd);
    }

    // Milliseconds left to write while closing; -1 before Close (no limit).
    int msLeft()
    {
        std::lock_guard<std::mutex> lock(Lock);
        if (!Closing)
            return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            Deadline - std::chrono::steady_clock::now());
        return int(std::max<int64_t>(0, left.count()));
    }

    // All of Text, or false when a write failed or the grace ran out. Each
    // write follows a poll that found room and takes at most PIPE_BUF bytes,
    // which a pipe with room takes without waiting.
    bool writeAll(const std::string &Text)
    {
        std::size_t at = 0;
        while (at < Text.size()) {
            int timeout = msLeft();
            if (timeout == 0)
                return false;
            if (timeout < 0 && Wake[0] < 0)
                timeout = 50; // no wake-up: look for Close now and then

            pollfd fds[2] = {{Fd, POLLOUT, 0}, {Wake[0], POLLIN, 0}};
            const int n = ::poll(fds, 2, timeout);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || (fds[0].revents & POLLNVAL)) {
                Failed = true;
                return false;
            }
            if (fds[1].revents & POLLIN) {
                char drain[16];
                while (::read(Wake[0], drain, sizeof drain) > 0) {
                }
            }
            if (!(fds[0].revents & (POLLOUT | POLLERR | POLLHUP)))
                continue;
            const std::size_t chunk = std::min<std::size_t>(Text.size() - at, PIPE_BUF);
            const ssize_t written = ::write(Fd, Text.data() + at, chunk);
            if (written < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (written <= 0) {
                Failed = true;
                return false;
            }
            at += std::size_t(written);
        }
        return true;
    }

    void run()
    {
        for (;;) {
            std::string text;
            {
                std::unique_lock<std::mutex> lock(Lock);
                Changed.wait(lock, [this] { return !Queue.empty() || Closing; });
                if (Queue.empty())
                    break;
                text = std::move(Queue.front());
                Queue.pop_front();
                Queued -= text.size();
            }
            if (!writeAll(text)) {
                std::lock_guard<std::mutex> lock(Lock);
                GaveUp = true;
                Dropped += 1 + Queue.size();
                Queue.clear();
                Queued = 0;
                break;
            }
        }
        if (Owned)
            ::close(Fd);
        std::lock_guard<std::mutex> lock(Lock);
        Done = true;
        Changed.notify_all();
    }
};

TStreamWriter::TStreamWriter(int Fd, bool Owned, std::size_t MaxQueuedBytes)
    : m_state(std::make_shared<TState>())
{
    m_state->Fd = Fd;
    m_state->Owned = Owned;
    m_state->MaxQueued = MaxQueuedBytes;
    if (::pipe2(m_state->Wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        // Without the wake-up, Close can still end the writer through its
        // deadline, a poll of a few milliseconds at a time.
        m_state->Wake[0] = m_state->Wake[1] = -1;
    }
    // The thread holds the state too: if a reader keeps it blocked in a
    // write past Close, it can be left behind without using freed memory.
    m_state->Thread = std::thread([state = m_state] { state->run(); });
}

TStreamWriter::~TStreamWriter()
{
    Close(std::chrono::seconds(1));
}

bool TStreamWriter::Write(std::string Text)
{
    TState &s = *m_state;
    {
        std::lock_guard<std::mutex> lock(s.Lock);
        if (s.Closing || s.Done || s.Failed)
            return false;
        if (s.Queued + Text.size() > s.MaxQueued) {
            ++s.Dropped;
            return false;
        }
        s.Queued += Text.size();
        s.Queue.push_back(std::move(Text));
    }
    s.Changed.notify_one();
    return true;
}

uint64_t TStreamWriter::Dropped() const
{
    return m_state->Dropped;
}

bool TStreamWriter::Failed() const
{
    return m_state->Failed;
}

bool TStreamWriter::Close(std::chrono::milliseconds Grace)
{
    TState &s = *m_state;
    std::unique_lock<std::mutex> lock(s.Lock);
    if (s.Closed)
        return s.CloseResult;
    s.Closed = true;
    s.Closing = true;
    s.Deadline = std::chrono::steady_clock::now() + Grace;
    s.Changed.notify_all();
    if (s.Wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(s.Wake[1], &byte, 1);
    }
    // A write already under way (to a terminal held by flow control, say)
    // may outlast the grace; the thread is then left to the process's end.
    const bool done = s.Changed.wait_until(lock, s.Deadline + std::chrono::milliseconds(500),
                                           [&s] { return s.Done; });
    s.CloseResult = done && !s.GaveUp && s.Queue.empty() && !s.Failed;
    std::thread thread = std::move(s.Thread);
    lock.unlock();
    if (done)
        thread.join();
    else
        thread.detach();
    return s.CloseResult;
}

void WriteWithoutBlocking(int Fd, const std::string &Text)
{
    std::size_t at = 0;
    while (at < Text.size()) {
        pollfd fd = {Fd, POLLOUT, 0};
        if (::poll(&fd, 1, 0) != 1 || !(fd.revents & POLLOUT))
            return;
        const std::size_t chunk = std::min<std::size_t>(Text.size() - at, PIPE_BUF);
        const ssize_t n = ::write(Fd, Text.data() + at, chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        at += std::size_t(n);
    }
}

} // namespace quorlin
