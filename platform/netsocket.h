// SPDX-License-Identifier: MIT
// TCP sockets and the event loop's system calls, for the network listeners.
// Every call maps its failure to an error message in one place and retries
// EINTR; descriptors are owned by TFd (closed once, on destruction).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace quorlin
{

// One owned descriptor.
class TFd
{
  public:
    TFd() = default;
    explicit TFd(int Fd) : m_fd(Fd) {}
    TFd(TFd &&Other) noexcept : m_fd(std::exchange(Other.m_fd, -1)) {}
    TFd &operator=(TFd &&Other) noexcept;
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    ~TFd() { Reset(); }
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Reset();

  private:
    int m_fd = -1;
};

// A non-blocking listening socket on Address (IPv4 or IPv6 literal, or empty
// for 127.0.0.1) and Port. Invalid with Error set ("cannot listen on
// 127.0.0.1:502: Permission denied") when it cannot be had.
TFd ListenTcp(const std::string &Address, int Port, std::string &Error);
// The port a listening socket has (for Port 0: the one the system chose); -1 on error.
int LocalPort(int Fd);

enum class TAcceptResult { Accepted, Again, OutOfDescriptors, Failed };
// Accepts one connection, non-blocking, close-on-exec, TCP_NODELAY set;
// Peer gets "127.0.0.1:40312" or "[::1]:40312".
TAcceptResult AcceptTcp(int ListenFd, TFd &Connection, std::string &Peer);

// Reads what is there: > 0 bytes, 0 at the end of the stream, -1 with
// WouldBlock set when nothing is waiting, -1 on an error (reset).
long ReadSome(int Fd, void *Buffer, size_t Count, bool &WouldBlock);
// Writes what fits without blocking: the bytes written (maybe 0), -1 on an
// error (a peer that reset). Never raises SIGPIPE.
long WriteSome(int Fd, const void *Buffer, size_t Count);
// Makes the close of Fd reset the connection (SO_LINGER with time 0): the
// peer gets a reset, not an orderly end. False when the option was refused.
bool ResetOnClose(int Fd);

// The event loop: an epoll set and a wake-up event.
TFd NewEventSet(std::string &Error);
TFd NewWakeEvent(std::string &Error);
void SignalWakeEvent(int Fd);
void DrainWakeEvent(int Fd);
// Watches Fd for input (and output when Out) with Key as the event's data.
bool WatchFd(int Set, int Fd, uint64_t Key, bool In, bool Out, bool Add);
void UnwatchFd(int Set, int Fd);
struct TReadyFd {
    uint64_t Key;
    bool In, Out, Error;
};
// Waits up to TimeoutMs (-1: for ever) for up to MaxEvents events; the count.
int WaitEvents(int Set, TReadyFd *Events, int MaxEvents, int TimeoutMs);

// Raises the soft limit of open descriptors to the hard one; the new soft limit.
long RaiseFileLimit();
// Descriptors this process has open now (for tests that count them).
int OpenFdCount();

} // namespace quorlin
