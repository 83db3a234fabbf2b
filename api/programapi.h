// SPDX-License-Identifier: MIT
// The API's way into the running program. Register reads, writes and waits
// are served on the API's own threads, in the images under the line's lock;
// everything the window owns (slaves, faults, values files, counters, the
// profile) runs on the window's thread through the same commands its
// dialogs use, while the API's thread waits for the answer.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "api/apirouter.h"
#include "api/trafficfeed.h"
#include "engine/slaveset.h"

class QObject;

namespace quorlin
{

class IRegisterSource;
class TSlaveCommands;

// What the window lends the API. Context and Slaves may be used from any
// thread (the set under its lock); the rest only on the window's thread.
class IApiHost
{
  public:
    virtual ~IApiHost() = default;
    virtual QObject *Context() = 0; // lives on the window's thread
    virtual TSlaveSet &Slaves() = 0;
    virtual TApiStatus Status() = 0;
    virtual void ResetCounters() = 0;
    virtual TSlaveCommands &SlaveCommands() = 0;
    virtual IRegisterSource &RegisterSource() = 0;
    virtual TFaultSettings Faults() = 0;
    // As the Faults dialog's OK does.
    virtual void SetFaults(const TFaultSettings &Faults) = 0;
    virtual TFaultCounts FaultCounts() = 0;
    // The engine's "fail next" order, under the line's lock (any thread).
    virtual bool FailNext(const TFailNext &Order) = 0;
    virtual TFailNext FailNextLeft() = 0;
    // Whether id 0 writes are carried out (read from any thread).
    virtual bool AcceptsBroadcast() = 0;
};

// A register a script drives, as the window last published them.
struct TBinding {
    int Slave = 0;
    int RegType = 0;
    int Register = 0;
    std::string Script;
    bool operator==(const TBinding &) const = default;
};

class TProgramApi : public IApiBackend
{
  public:
    TProgramApi(IApiHost &Host, TTrafficFeed &Feed);

    // Ends every wait and window call at once; called before the server
    // stops. Resume serves again (a server started anew).
    void Stop();
    void Resume();
    // From the window's tick: the registers scripts drive now.
    void PublishBindings(std::vector<TBinding> Bindings);
    // How long an API thread waits for the window before it gives up (503).
    void SetWindowTimeoutMs(int Ms) { m_windowTimeoutMs = Ms; }

    std::optional<TApiStatus> Status() override;
    TApiOutcome ResetCounters() override;
    std::optional<std::vector<TApiSlave>> Slaves() override;
    TApiOutcome AddSlave(int Id) override;
    TApiOutcome RemoveSlave(int Id) override;
    TApiOutcome ChangeSlaveId(int From, int To) override;
    std::optional<int> SlaveTableSize(int Slave, int RegType) override;
    TApiOutcome ReadRegisters(int Slave, int RegType, int Start, int Count,
                              std::vector<uint16_t> &Values) override;
    TApiOutcome WriteRegisters(int Slave, int RegType, int Start, std::span<const uint16_t> Values,
                               std::vector<TBoundRegister> &Bound) override;
    TWaitResult WaitRegister(int Slave, int RegType, int Register, std::optional<uint16_t> Until,
                             int TimeoutMs) override;
    std::optional<std::string> ExportValues() override;
    TApiOutcome ImportValues(std::string_view Csv) override;
    std::optional<TFaultSettings> Faults() override;
    TFaultCounts FaultCounts() override;
    TApiOutcome SetFaults(const TFaultSettings &Faults) override;
    TApiOutcome FailNext(const TFailNext &Order) override;
    TFailNext FailNextLeft() override;
    TApiOutcome SetSlaveOffline(int Id, bool Offline) override;
    TTrafficPage Traffic(uint64_t Since, int WaitMs, size_t Limit) override;

  private:
    // Runs Call on the window's thread and waits for its result; nothing
    // when the window did not answer in time or the API is stopping. Call
    // may run after a time-out, so it holds copies, never the caller's locals.
    template <typename R> std::optional<R> onWindow(std::function<R()> Call);
    // Hands Job to the window's thread. The job itself crosses under
    // m_jobsLock, so the order of its making and its running does not rest
    // on Qt's event queue alone.
    void post(std::function<void()> Job);
    void runJobs();
    // Register N of the slave, read under the lock; false for no such slave.
    bool readOne(int Slave, int RegType, int N, uint16_t &Value);

    IApiHost &m_host;
    TTrafficFeed &m_feed;
    std::atomic<bool> m_stopping{false};
    int m_windowTimeoutMs = 10000;
    std::mutex m_jobsLock; // guards m_jobs only
    std::vector<std::function<void()>> m_jobs;
    std::mutex m_bindingsLock; // guards m_bindings only
    std::vector<TBinding> m_bindings;
};

} // namespace quorlin
