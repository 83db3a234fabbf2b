// SPDX-License-Identifier: MIT
// A serial line that keeps time, for tests: two pty pairs and a relay between
// them that passes each byte on only when a real line would have finished
// carrying it (start, data, parity and stop bits at the line's speed), one
// byte after the other, and can hold a silence before any byte the master
// sends. A pty alone delivers whole writes at once, so without this no test
// could see a program that gives up on a slow frame or answers too early.
// What it cannot show is the hardware's part: UART FIFOs, USB adapters'
// latency timers, bytes lost to a wrong speed or parity.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/serial/ptypair.h"

namespace quorlin::testing
{

class TimedLine
{
  public:
    using Clock = std::chrono::steady_clock;

    // BitsPerChar: start + data + parity + stop bits (11 for 8E1, 10 for 7E1).
    TimedLine(int Baud, int BitsPerChar)
        : m_charTime(std::chrono::microseconds(int64_t(BitsPerChar) * 1000000 / Baud))
    {
        if (m_program.ok() && m_master.ok())
            m_thread = std::thread([this] { run(); });
    }
    ~TimedLine()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    TimedLine(const TimedLine &) = delete;
    TimedLine &operator=(const TimedLine &) = delete;

    bool ok() const { return m_program.ok() && m_master.ok(); }
    // The device the program opens, and the one the master writes to.
    const std::string &programPath() const { return m_program.path(); }
    int masterFd() const { return m_master.slave(); }
    const std::string &masterPath() const { return m_master.path(); }
    Clock::duration charTime() const { return m_charTime; }

    // The line stays silent for Gap before the master's byte number Index
    // (counted from 0 over everything the master sends) starts.
    void holdBefore(uint64_t Index, Clock::duration Gap)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_gaps[Index] = Gap;
    }

    // When each byte went over the line: read from its sender by the relay
    // (for the program's bytes, when it wrote them), due at the far end as
    // the line's speed has it, and delivered there (late when the machine
    // held the relay up), counted from 0 per direction. What a master on a
    // real wire would measure, kept by the wire itself.
    struct ByteTimes {
        Clock::time_point Read, Due, Delivered;
    };
    std::vector<ByteTimes> toProgramTimes() const { return times(0); }
    std::vector<ByteTimes> toMasterTimes() const { return times(1); }

  private:
    std::vector<ByteTimes> times(int Which) const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_times[Which];
    }

    struct Direction {
        int From;
        int To;
        std::deque<uint8_t> Queue;
        std::deque<Clock::time_point> ReadAt; // beside Queue
        Clock::time_point Free{}; // when the line is idle again
        Clock::time_point Due{};  // when the head byte has arrived, if scheduled
        bool Scheduled = false;
        uint64_t Sent = 0;
    };

    void schedule(Direction &D, bool FromMaster)
    {
        if (D.Scheduled || D.Queue.empty())
            return;
        Clock::duration gap{};
        if (FromMaster) {
            std::lock_guard<std::mutex> hold(m_lock);
            auto it = m_gaps.find(D.Sent);
            if (it != m_gaps.end())
                gap = it->second;
        }
        // From when the byte reached the relay, not from when the relay got
        // round to it: a late wake-up must not stretch every byte after it.
        D.Due = std::max(D.ReadAt.front(), D.Free) + gap + m_charTime;
        D.Scheduled = true;
    }

    void run()
    {
        // Master side: the test's descriptor is the pty's slave end; the
        // relay reads and writes the master ends of both pairs.
        Direction toProgram{m_master.master(), m_program.master(), {}, {}, {}, {}, false, 0};
        Direction toMaster{m_program.master(), m_master.master(), {}, {}, {}, {}, false, 0};
        uint8_t buf[1024];
        while (!m_stop) {
            schedule(toProgram, true);
            schedule(toMaster, false);
            auto wait = std::chrono::milliseconds(20);
            for (Direction *d : {&toProgram, &toMaster})
                if (d->Scheduled)
                    wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(
                                              d->Due - Clock::now()));
            pollfd p[2] = {{toProgram.From, POLLIN, 0}, {toMaster.From, POLLIN, 0}};
            ::poll(p, 2, int(std::max<int64_t>(0, wait.count())));
            for (int i = 0; i < 2; ++i) {
                if ((p[i].revents & POLLIN) == 0)
                    continue;
                const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                Direction &d = i == 0 ? toProgram : toMaster;
                const auto now = Clock::now();
                for (ssize_t k = 0; k < n; ++k) {
                    d.Queue.push_back(buf[k]);
                    d.ReadAt.push_back(now);
                }
            }
            for (Direction *d : {&toProgram, &toMaster}) {
                if (!d->Scheduled || d->Due > Clock::now() + std::chrono::milliseconds(2))
                    continue;
                // Sleep the last moments rather than poll them away.
                std::this_thread::sleep_until(d->Due);
                const uint8_t b = d->Queue.front();
                d->Queue.pop_front();
                (void)!::write(d->To, &b, 1);
                {
                    std::lock_guard<std::mutex> hold(m_lock);
                    m_times[d == &toProgram ? 0 : 1].push_back(
                        {d->ReadAt.front(), d->Due, Clock::now()});
                }
                d->ReadAt.pop_front();
                d->Free = d->Due;
                d->Scheduled = false;
                ++d->Sent;
            }
        }
    }

    PtyPair m_program; // the program opens its slave end
    PtyPair m_master;  // the test masters through its slave end
    Clock::duration m_charTime;
    mutable std::mutex m_lock;
    std::map<uint64_t, Clock::duration> m_gaps;
    std::vector<ByteTimes> m_times[2];
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace quorlin::testing
