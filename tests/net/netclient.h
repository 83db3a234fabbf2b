// SPDX-License-Identifier: MIT
// A raw loopback TCP client for the listener tests: it sends what it is told,
// reads with a deadline, and can misbehave (reset, never read).
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace quorlin::test
{

class RawClient
{
  public:
    // RcvBuf > 0: a small receive buffer, so a client that never reads fills up soon.
    explicit RawClient(int Port, int RcvBuf = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (RcvBuf > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &RcvBuf, sizeof RcvBuf);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(Port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~RawClient() { Close(); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool Connected() const { return m_connected; }
    int Fd() const { return m_fd; }
    bool Send(const std::vector<uint8_t> &Bytes)
    {
        return ::send(m_fd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL) == ssize_t(Bytes.size());
    }
    // Reads until Count bytes came, the peer closed, or TimeoutMs passed.
    std::vector<uint8_t> Read(size_t Count, int TimeoutMs = 5000)
    {
        std::vector<uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
        while (got.size() < Count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{m_fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
                break;
            uint8_t buf[4096];
            const ssize_t n = ::recv(m_fd, buf, std::min(sizeof buf, Count - got.size()), 0);
            if (n <= 0) {
                m_closedByPeer = true;
                break;
            }
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    // True once the server closed the connection (within TimeoutMs).
    bool ClosedByPeer(int TimeoutMs = 5000)
    {
        Read(size_t(1) << 30, TimeoutMs);
        return m_closedByPeer;
    }
    // Closes with a reset instead of an orderly end.
    void Reset()
    {
        const linger l{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        Close();
    }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

  private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_closedByPeer = false;
};

} // namespace quorlin::test
