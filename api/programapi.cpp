// SPDX-License-Identifier: MIT
#include "api/programapi.h"

#include <QMetaObject>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <memory>

#include "api/registeraccess.h"
#include "registers/registersource.h"
#include "registers/valuesfile.h"
#include "slaves/slavecommands.h"

namespace quorlin
{

namespace
{

const TApiOutcome WindowSilent = TApiOutcome::Refused(503, "the program did not answer in time");

int statusOf(TSlaveRefusal Refusal)
{
    switch (Refusal) {
    case TSlaveRefusal::None:
        return 200;
    case TSlaveRefusal::Unknown:
        return 404;
    case TSlaveRefusal::OutOfRange:
        return 400;
    case TSlaveRefusal::Taken:
    case TSlaveRefusal::LastSlave:
        return 409;
    }
    return 409;
}

TApiOutcome outcomeOf(const TSlaveChange &Change)
{
    if (Change.ok())
        return TApiOutcome::Ok();
    return TApiOutcome::Refused(statusOf(Change.Refusal), Change.Message.toStdString());
}

// Whether an RX row is a master's write that reached register N of the table.
bool writes(const TTrafficRow &Row, int Slave, bool Broadcasts, int RegType, int N)
{
    if (Row.Direction != TDirection::Rx)
        return false;
    const bool ours = Row.Slave == Slave && Row.Verdict == TVerdict::Answered;
    const bool broadcast = Broadcasts && Row.Slave == 0 && Row.Verdict == TVerdict::Broadcast;
    if (!ours && !broadcast)
        return false;
    int table = -1;
    switch (Row.Function) {
    case 5:
    case 15:
        table = RegTypeCoil;
        break;
    case 6:
    case 16:
        table = RegTypeHoldingReg;
        break;
    }
    if (table != RegType || Row.Address < 0)
        return false;
    const int64_t first = int64_t(Row.Address) + 1;
    const int64_t count = Row.Quantity > 0 ? Row.Quantity : 1;
    return N >= first && N < first + count;
}

} // namespace

TProgramApi::TProgramApi(IApiHost &Host, TTrafficFeed &Feed) : m_host(Host), m_feed(Feed) {}

void TProgramApi::Stop()
{
    m_stopping = true;
    m_feed.Stop();
}

void TProgramApi::Resume()
{
    m_feed.Resume();
    m_stopping = false;
}

void TProgramApi::PublishBindings(std::vector<TBinding> Bindings)
{
    std::lock_guard<std::mutex> hold(m_bindingsLock);
    if (Bindings != m_bindings)
        m_bindings = std::move(Bindings);
}

void TProgramApi::post(std::function<void()> Job)
{
    {
        std::lock_guard<std::mutex> hold(m_jobsLock);
        m_jobs.push_back(std::move(Job));
    }
    QMetaObject::invokeMethod(
        m_host.Context(), [this] { runJobs(); }, Qt::QueuedConnection);
}

void TProgramApi::runJobs()
{
    std::vector<std::function<void()>> jobs;
    {
        std::lock_guard<std::mutex> hold(m_jobsLock);
        jobs.swap(m_jobs);
    }
    for (const auto &job : jobs)
        job();
}

template <typename R> std::optional<R> TProgramApi::onWindow(std::function<R()> Call)
{
    struct TState {
        std::mutex Lock;
        std::condition_variable Done;
        std::optional<R> Result;
    };
    if (m_stopping)
        return std::nullopt;
    auto state = std::make_shared<TState>();
    post([state, Call = std::move(Call)] {
        R r = Call();
        std::lock_guard<std::mutex> hold(state->Lock);
        state->Result = std::move(r);
        state->Done.notify_all();
    });
    // In short slices, so that a stop is seen while the window is busy.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_windowTimeoutMs);
    std::unique_lock<std::mutex> hold(state->Lock);
    while (!state->Result && !m_stopping && std::chrono::steady_clock::now() < deadline)
        state->Done.wait_for(hold, std::chrono::milliseconds(50));
    return state->Result;
}

std::optional<TApiStatus> TProgramApi::Status()
{
    IApiHost &host = m_host;
    return onWindow<TApiStatus>([&host] { return host.Status(); });
}

TApiOutcome TProgramApi::ResetCounters()
{
    IApiHost &host = m_host;
    const auto done = onWindow<bool>([&host] {
        host.ResetCounters();
        return true;
    });
    return done ? TApiOutcome::Ok() : WindowSilent;
}

std::optional<std::vector<TApiSlave>> TProgramApi::Slaves()
{
    IApiHost &host = m_host;
    return onWindow<std::vector<TApiSlave>>([&host] {
               std::vector<TApiSlave> out;
               const TSlaveCommands &commands = host.SlaveCommands();
               for (int id : commands.Slaves().Ids())
                   out.push_back({id,
                                  CountSlaveBindings(commands.Bindings(), commands.Slaves(), id),
                                  commands.IsOffline(id)});
        return out;
    });
}

TApiOutcome TProgramApi::AddSlave(int Id)
{
    IApiHost &host = m_host;
    return onWindow<TApiOutcome>(
               [&host, Id] { return outcomeOf(host.SlaveCommands().AddSlaveId(Id)); })
        .value_or(WindowSilent);
}

TApiOutcome TProgramApi::RemoveSlave(int Id)
{
    IApiHost &host = m_host;
    return onWindow<TApiOutcome>(
               [&host, Id] { return outcomeOf(host.SlaveCommands().RemoveSlaveId(Id)); })
        .value_or(WindowSilent);
}

TApiOutcome TProgramApi::ChangeSlaveId(int From, int To)
{
    IApiHost &host = m_host;
    return onWindow<TApiOutcome>([&host, From, To] {
               return outcomeOf(host.SlaveCommands().ChangeSlaveId(From, To));
           })
        .value_or(WindowSilent);
}

std::optional<int> TProgramApi::SlaveTableSize(int Slave, int RegType)
{
    TSlaveSet &slaves = m_host.Slaves();
    std::lock_guard<std::mutex> hold(slaves.Lock());
    const TRegisterImage *image = slaves.Find(Slave);
    if (image == nullptr)
        return std::nullopt;
    return TableSize(*image, RegType);
}

namespace
{

// The slave may have been given fewer registers since the router looked:
// checked again under the lock that its tables change under.
bool withinTable(const TRegisterImage &Image, int RegType, int Start, int Count)
{
    return Start >= 1 && Count >= 0 && int64_t(Start) + Count - 1 <= TableSize(Image, RegType);
}

} // namespace

TApiOutcome TProgramApi::ReadRegisters(int Slave, int RegType, int Start, int Count,
                                       std::vector<uint16_t> &Values)
{
    TSlaveSet &slaves = m_host.Slaves();
    std::lock_guard<std::mutex> hold(slaves.Lock());
    const TRegisterImage *image = slaves.Find(Slave);
    if (image == nullptr)
        return TApiOutcome::Refused(404, "no slave " + std::to_string(Slave));
    if (!withinTable(*image, RegType, Start, Count))
        return TApiOutcome::Refused(404, "no such registers");
    Values.resize(size_t(Count));
    for (int i = 0; i < Count; ++i)
        Values[size_t(i)] = ReadRegister(*image, RegType, Start + i);
    return TApiOutcome::Ok();
}

TApiOutcome TProgramApi::WriteRegisters(int Slave, int RegType, int Start,
                                        std::span<const uint16_t> Values,
                                        std::vector<TBoundRegister> &Bound)
{
    const int end = Start + int(Values.size()); // one past the last
    {
        // Straight into the image, not queued for the tick: a master's
        // write that comes after this one must not be overwritten by it.
        TSlaveSet &slaves = m_host.Slaves();
        std::lock_guard<std::mutex> hold(slaves.Lock());
        TRegisterImage *image = slaves.Find(Slave);
        if (image == nullptr)
            return TApiOutcome::Refused(404, "no slave " + std::to_string(Slave));
        if (!withinTable(*image, RegType, Start, int(Values.size())))
            return TApiOutcome::Refused(404, "no such registers");
        for (size_t i = 0; i < Values.size(); ++i)
            WriteRegister(*image, RegType, Start + int(i), Values[i]);
    }
    std::lock_guard<std::mutex> hold(m_bindingsLock);
    for (const TBinding &b : m_bindings)
        if (b.Slave == Slave && b.RegType == RegType && b.Register >= Start && b.Register < end)
            Bound.push_back({b.Register, b.Script});
    return TApiOutcome::Ok();
}

bool TProgramApi::readOne(int Slave, int RegType, int N, uint16_t &Value)
{
    std::vector<uint16_t> v;
    if (!ReadRegisters(Slave, RegType, N, 1, v).ok())
        return false;
    Value = v[0];
    return true;
}

TWaitResult TProgramApi::WaitRegister(int Slave, int RegType, int Register,
                                      std::optional<uint16_t> Until, int TimeoutMs)
{
    TWaitResult result;
    // Rows from now on: a write seen before the call does not count.
    uint64_t cursor = m_feed.End();
    if (!readOne(Slave, RegType, Register, result.Value)) {
        result.Outcome = TApiOutcome::Refused(404, "no slave " + std::to_string(Slave));
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    const bool broadcasts = m_host.AcceptsBroadcast();
    for (;;) {
        if (Until) {
            if (result.Value == *Until) {
                result.Reached = true;
                return result;
            }
        } else {
            bool written = false;
            cursor = m_feed.Visit(cursor, [&](const TTrafficRow &Row) {
                written = written || writes(Row, Slave, broadcasts, RegType, Register);
            });
            if (written) {
                result.Reached = true;
                readOne(Slave, RegType, Register, result.Value);
                return result;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_stopping)
            return result;
        // The rows come with the tick; a value may also change without a
        // row (a script, another API call), so it is looked at every 20 ms.
        if (Until)
            m_feed.WaitFor(UINT64_MAX, int(std::min<int64_t>(left.count(), 20)));
        else
            m_feed.WaitFor(cursor, int(std::min<int64_t>(left.count(), 200)));
        if (!readOne(Slave, RegType, Register, result.Value)) {
            result.Outcome =
                TApiOutcome::Refused(404, "slave " + std::to_string(Slave) + " was removed");
            return result;
        }
    }
}

std::optional<std::string> TProgramApi::ExportValues()
{
    IApiHost &host = m_host;
    return onWindow<std::string>([&host] { return ExportValuesText(host.RegisterSource()); });
}

TApiOutcome TProgramApi::ImportValues(std::string_view Csv)
{
    IApiHost &host = m_host;
    // Checked as the register table's import checks a file: all or nothing.
    const auto checked = onWindow<TValuesImport>(
        [&host, text = std::string(Csv)] { return CheckValuesText(text, host.RegisterSource()); });
    if (!checked)
        return WindowSilent;
    if (!checked->Ok)
        return TApiOutcome::Refused(400, checked->Error);
    // At once, like a register write; a slave removed meanwhile is refused whole.
    TSlaveSet &slaves = m_host.Slaves();
    std::lock_guard<std::mutex> hold(slaves.Lock());
    for (const TValueEntry &e : checked->Entries)
        if (slaves.Find(e.Slave) == nullptr)
            return TApiOutcome::Refused(409, "slave " + std::to_string(e.Slave) +
                                                 " was removed meanwhile");
    for (const TValueEntry &e : checked->Entries)
        WriteRegister(*slaves.Find(e.Slave), e.Register.RegType, e.Register.RegAdr, e.Value);
    return TApiOutcome::Ok();
}

std::optional<TFaultSettings> TProgramApi::Faults()
{
    IApiHost &host = m_host;
    return onWindow<TFaultSettings>([&host] { return host.Faults(); });
}

TFaultCounts TProgramApi::FaultCounts()
{
    return m_host.FaultCounts();
}

TApiOutcome TProgramApi::SetFaults(const TFaultSettings &Faults)
{
    IApiHost &host = m_host;
    const auto done = onWindow<bool>([&host, Faults] {
        host.SetFaults(Faults);
        return true;
    });
    return done ? TApiOutcome::Ok() : WindowSilent;
}

TApiOutcome TProgramApi::FailNext(const TFailNext &Order)
{
    return m_host.FailNext(Order) ? TApiOutcome::Ok()
                                  : TApiOutcome::Refused(400, "the order is out of range");
}

TFailNext TProgramApi::FailNextLeft()
{
    return m_host.FailNextLeft();
}

TApiOutcome TProgramApi::SetSlaveOffline(int Id, bool Offline)
{
    IApiHost &host = m_host;
    return onWindow<TApiOutcome>([&host, Id, Offline] {
               return outcomeOf(host.SlaveCommands().SetOffline(Id, Offline));
           })
        .value_or(WindowSilent);
}

TTrafficPage TProgramApi::Traffic(uint64_t Since, int WaitMs, size_t Limit)
{
    return m_feed.Page(Since, m_stopping ? 0 : WaitMs, Limit);
}

} // namespace quorlin
