// SPDX-License-Identifier: MIT
// Pseudo-terminal pairs for serial tests: the slave side is a real terminal
// device the code under test opens by path; the master side plays the far end.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quorlin::testing
{

class PtyPair
{
  public:
    PtyPair()
    {
        ::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr);
        if (m_slave >= 0) {
            termios t{};
            ::tcgetattr(m_slave, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(m_slave, TCSANOW, &t);
            m_path = ::ttyname(m_slave);
        }
    }
    ~PtyPair()
    {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool ok() const { return m_master >= 0 && m_slave >= 0 && !m_path.empty(); }
    const std::string &path() const { return m_path; }
    int master() const { return m_master; }
    int slave() const { return m_slave; } // the test's own handle on the line
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    bool send(const std::vector<uint8_t> &bytes) const
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }

    // Reads what the far end receives until Count bytes came or TimeoutMs passed.
    std::vector<uint8_t> receive(size_t Count, int TimeoutMs) const
    {
        std::vector<uint8_t> out;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
        while (out.size() < Count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0)
                break;
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            uint8_t buf[512];
            ssize_t n = ::read(m_master, buf, std::min(sizeof buf, Count - out.size()));
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

// Two pty pairs joined master to master by a thread: two programs that each
// want a device path (a slave and a master such as mbpoll) talk through it.
class PtyBridge
{
  public:
    PtyBridge()
    {
        if (m_a.ok() && m_b.ok())
            m_thread = std::thread([this] { run(); });
    }
    ~PtyBridge()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    bool ok() const { return m_a.ok() && m_b.ok(); }
    const std::string &pathA() const { return m_a.path(); }
    const std::string &pathB() const { return m_b.path(); }

  private:
    void run()
    {
        uint8_t buf[1024];
        while (!m_stop) {
            pollfd p[2] = {{m_a.master(), POLLIN, 0}, {m_b.master(), POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & POLLIN))
                    continue;
                ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                if (n > 0)
                    (void)!::write(p[1 - i].fd, buf, size_t(n));
            }
        }
    }

    PtyPair m_a, m_b;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace quorlin::testing
