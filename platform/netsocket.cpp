// SPDX-License-Identifier: MIT
#include "platform/netsocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorlin
{

namespace
{

std::string errorText(int Errno)
{
    return std::strerror(Errno);
}

std::string endpointText(const sockaddr_storage &Address)
{
    char host[INET6_ADDRSTRLEN] = "?";
    if (Address.ss_family == AF_INET6) {
        const auto &a = reinterpret_cast<const sockaddr_in6 &>(Address);
        ::inet_ntop(AF_INET6, &a.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(a.sin6_port));
    }
    const auto &a = reinterpret_cast<const sockaddr_in &>(Address);
    ::inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(a.sin_port));
}

} // namespace

TFd &TFd::operator=(TFd &&Other) noexcept
{
    if (this != &Other) {
        Reset();
        m_fd = std::exchange(Other.m_fd, -1);
    }
    return *this;
}

void TFd::Reset()
{
    if (m_fd >= 0)
        ::close(m_fd); // never retried: the descriptor is gone whatever close says
    m_fd = -1;
}

TFd ListenTcp(const std::string &Address, int Port, std::string &Error)
{
    const std::string host = Address.empty() ? "127.0.0.1" : Address;
    const std::string where = (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                              ":" + std::to_string(Port);
    sockaddr_storage ss{};
    socklen_t len = 0;
    auto &v4 = reinterpret_cast<sockaddr_in &>(ss);
    auto &v6 = reinterpret_cast<sockaddr_in6 &>(ss);
    if (Port < 0 || Port > 65535) {
        Error = "cannot listen on " + where + ": port out of range";
        return {};
    }
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(uint16_t(Port));
        len = sizeof v4;
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(uint16_t(Port));
        len = sizeof v6;
    } else {
        Error = "cannot listen on " + where + ": not an IP address";
        return {};
    }
    TFd fd(::socket(ss.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        Error = "cannot listen on " + where + ": " + errorText(errno);
        return {};
    }
    const int one = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (ss.ss_family == AF_INET6)
        ::setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr *>(&ss), len) != 0 ||
        ::listen(fd.Get(), SOMAXCONN) != 0) {
        Error = "cannot listen on " + where + ": " + errorText(errno);
        return {};
    }
    Error.clear();
    return fd;
}

int LocalPort(int Fd)
{
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(Fd, reinterpret_cast<sockaddr *>(&ss), &len) != 0)
        return -1;
    return ss.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 &>(ss).sin6_port)
                                    : ntohs(reinterpret_cast<sockaddr_in &>(ss).sin_port);
}

TAcceptResult AcceptTcp(int ListenFd, TFd &Connection, std::string &Peer)
{
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    int fd;
    do
        fd = ::accept4(ListenFd, reinterpret_cast<sockaddr *>(&ss), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        switch (errno) {
        case EAGAIN:
        case ECONNABORTED:
            return TAcceptResult::Again;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            return TAcceptResult::OutOfDescriptors;
        default:
            return TAcceptResult::Failed;
        }
    }
    Connection = TFd(fd);
    const int one = 1;
    // A reply is one small segment: it must not wait for the previous one's ACK.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Peer = endpointText(ss);
    return TAcceptResult::Accepted;
}

long ReadSome(int Fd, void *Buffer, size_t Count, bool &WouldBlock)
{
    WouldBlock = false;
    ssize_t n;
    do
        n = ::recv(Fd, Buffer, Count, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        WouldBlock = true;
    return long(n);
}

long WriteSome(int Fd, const void *Buffer, size_t Count)
{
    ssize_t n;
    do
        n = ::send(Fd, Buffer, Count, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    return long(n);
}

bool ResetOnClose(int Fd)
{
    const linger abort{1, 0};
    return ::setsockopt(Fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort) == 0;
}

TFd NewEventSet(std::string &Error)
{
    TFd fd(::epoll_create1(EPOLL_CLOEXEC));
    if (!fd.Valid())
        Error = "cannot create an event set: " + errorText(errno);
    return fd;
}

TFd NewWakeEvent(std::string &Error)
{
    TFd fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!fd.Valid())
        Error = "cannot create an event: " + errorText(errno);
    return fd;
}

void SignalWakeEvent(int Fd)
{
    const uint64_t one = 1;
    ssize_t n;
    do
        n = ::write(Fd, &one, sizeof one);
    while (n < 0 && errno == EINTR);
}

void DrainWakeEvent(int Fd)
{
    uint64_t value;
    ssize_t n;
    do
        n = ::read(Fd, &value, sizeof value);
    while (n < 0 && errno == EINTR);
}

bool WatchFd(int Set, int Fd, uint64_t Key, bool In, bool Out, bool Add)
{
    epoll_event ev{};
    ev.events = (In ? EPOLLIN : 0u) | (Out ? EPOLLOUT : 0u) | EPOLLRDHUP;
    ev.data.u64 = Key;
    return ::epoll_ctl(Set, Add ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, Fd, &ev) == 0;
}

void UnwatchFd(int Set, int Fd)
{
    ::epoll_ctl(Set, EPOLL_CTL_DEL, Fd, nullptr);
}

int WaitEvents(int Set, TReadyFd *Events, int MaxEvents, int TimeoutMs)
{
    epoll_event ev[256];
    const int n = ::epoll_wait(Set, ev, std::min(MaxEvents, 256), TimeoutMs);
    if (n <= 0)
        return 0; // EINTR and time-outs alike: the caller looks at its clock
    for (int i = 0; i < n; ++i) {
        Events[i].Key = ev[i].data.u64;
        Events[i].In = (ev[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP)) != 0;
        Events[i].Out = (ev[i].events & EPOLLOUT) != 0;
        Events[i].Error = (ev[i].events & EPOLLERR) != 0;
    }
    return n;
}

long RaiseFileLimit()
{
    rlimit r{};
    if (::getrlimit(RLIMIT_NOFILE, &r) != 0)
        return -1;
    if (r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &r) != 0)
            ::getrlimit(RLIMIT_NOFILE, &r);
    }
    return long(r.rlim_cur);
}

int OpenFdCount()
{
    DIR *d = ::opendir("/proc/self/fd");
    if (d == nullptr)
        return -1;
    int n = 0;
    while (::readdir(d) != nullptr)
        ++n;
    ::closedir(d);
    return n - 3; // ".", ".." and the directory's own descriptor
}

} // namespace quorlin
