// SPDX-License-Identifier: MIT
// A system-call seam for serial tests: forwards to the kernel, records every
// call (name, ioctl request, thread), and lets a test fail or intercept one.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posixserial.h"

namespace quorlin::testing
{

class CountingSysApi : public TSysApi
{
  public:
    struct Call {
        std::string Name;          // "open", "ioctl", "read", ...
        unsigned long Request = 0; // ioctl request; for poll, the number of descriptors
        int Fd = -1;
        std::thread::id Thread;
        void *Arg = nullptr; // the ioctl argument, valid inside Hook only
    };
    using THook = std::function<std::optional<long>(const Call &)>;
    // Runs before each call, on the calling thread; a value makes the call
    // return it (set errno yourself) instead of reaching the kernel.
    void setHook(THook Hook)
    {
        std::lock_guard<std::mutex> g(m_mu);
        m_hook = std::move(Hook);
    }

    int count(const std::string &Name) const
    {
        std::lock_guard<std::mutex> g(m_mu);
        int n = 0;
        for (const auto &c : m_calls)
            n += c.Name == Name;
        return n;
    }
    int countIoctl(unsigned long Request) const
    {
        std::lock_guard<std::mutex> g(m_mu);
        int n = 0;
        for (const auto &c : m_calls)
            n += c.Name == "ioctl" && c.Request == Request;
        return n;
    }
    std::vector<Call> calls() const
    {
        std::lock_guard<std::mutex> g(m_mu);
        return m_calls;
    }
    // Calls made on this thread since the last reset (the watcher's own
    // waits are made on its thread and are left out).
    int countHere() const
    {
        std::lock_guard<std::mutex> g(m_mu);
        int n = 0;
        for (const auto &c : m_calls)
            n += c.Thread == std::this_thread::get_id();
        return n;
    }
    void reset()
    {
        std::lock_guard<std::mutex> g(m_mu);
        m_calls.clear();
    }

    int Open(const char *Path, int Flags) override
    {
        return int(pass({"open", 0, -1, {}}, [&] { return long(TSysApi::Open(Path, Flags)); }));
    }
    int Close(int Fd) override
    {
        return int(pass({"close", 0, Fd, {}}, [&] { return long(TSysApi::Close(Fd)); }));
    }
    int Dup(int Fd) override
    {
        return int(pass({"dup", 0, Fd, {}}, [&] { return long(TSysApi::Dup(Fd)); }));
    }
    int Ioctl(int Fd, unsigned long Request, void *Arg) override
    {
        return int(pass({"ioctl", Request, Fd, {}, Arg},
                        [&] { return long(TSysApi::Ioctl(Fd, Request, Arg)); }));
    }
    int Flock(int Fd, int Operation) override
    {
        return int(pass({"flock", 0, Fd, {}}, [&] { return long(TSysApi::Flock(Fd, Operation)); }));
    }
    int Fstat(int Fd, struct stat *St) override
    {
        return int(pass({"fstat", 0, Fd, {}}, [&] { return long(TSysApi::Fstat(Fd, St)); }));
    }
    int Isatty(int Fd) override
    {
        return int(pass({"isatty", 0, Fd, {}}, [&] { return long(TSysApi::Isatty(Fd)); }));
    }
    long Read(int Fd, void *Buffer, size_t Count) override
    {
        return pass({"read", 0, Fd, {}}, [&] { return TSysApi::Read(Fd, Buffer, Count); });
    }
    long Write(int Fd, const void *Buffer, size_t Count) override
    {
        return pass({"write", 0, Fd, {}}, [&] { return TSysApi::Write(Fd, Buffer, Count); });
    }
    int Poll(struct pollfd *Fds, unsigned long Count, int TimeoutMs) override
    {
        return int(pass({"poll", Count, -1, {}},
                        [&] { return long(TSysApi::Poll(Fds, Count, TimeoutMs)); }));
    }
    int EventFd() override
    {
        return int(pass({"eventfd", 0, -1, {}}, [&] { return long(TSysApi::EventFd()); }));
    }

  private:
    template <class F> long pass(Call c, F real)
    {
        c.Thread = std::this_thread::get_id();
        THook hook;
        {
            std::lock_guard<std::mutex> g(m_mu);
            m_calls.push_back(c);
            hook = m_hook;
        }
        if (hook)
            if (auto r = hook(c))
                return *r;
        return real();
    }

    mutable std::mutex m_mu;
    std::vector<Call> m_calls;
    THook m_hook;
};

} // namespace quorlin::testing
