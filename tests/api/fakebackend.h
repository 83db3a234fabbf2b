// SPDX-License-Identifier: MIT
// An in-memory program for the routing tests and the fuzzer: slaves with
// their tables, faults and a traffic ring, refusing what the window refuses.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

#include "api/apirouter.h"
#include "api/registeraccess.h"

namespace quorlin::testing
{

class FakeBackend : public IApiBackend
{
  public:
    FakeBackend() { m_slaves[1] = std::make_unique<TRegisterTables>(); }

    std::map<int, std::unique_ptr<TRegisterTables>> m_slaves;
    TFaultSettings m_faults;
    std::vector<TTrafficRow> m_rows;
    std::string m_lastImport;
    struct TBinding {
        int Slave, RegType, Register;
        std::string Script;
    };
    std::vector<TBinding> m_bound;

    std::optional<TApiStatus> Status() override
    {
        TApiStatus s;
        s.Version = "Quorlin test";
        s.Lines.push_back({"serial", "COM2", "/dev/pts/9", true, "9600 8E1", "", {}});
        return s;
    }
    TApiOutcome ResetCounters() override { return TApiOutcome::Ok(); }
    std::optional<std::vector<TApiSlave>> Slaves() override
    {
        std::vector<TApiSlave> out;
        for (const auto &[id, tables] : m_slaves)
            out.push_back({id, 0, m_offline.count(id) != 0 && m_offline.at(id)});
        return out;
    }
    TApiOutcome AddSlave(int Id) override
    {
        if (m_slaves.count(Id))
            return TApiOutcome::Refused(409,
                                        "Slave id " + std::to_string(Id) + " is already used.");
        m_slaves[Id] = std::make_unique<TRegisterTables>();
        return TApiOutcome::Ok();
    }
    TApiOutcome RemoveSlave(int Id) override
    {
        if (!m_slaves.count(Id))
            return TApiOutcome::Refused(404, "There is no slave.");
        if (m_slaves.size() == 1)
            return TApiOutcome::Refused(409, "The last slave cannot be removed.");
        m_slaves.erase(Id);
        return TApiOutcome::Ok();
    }
    TApiOutcome ChangeSlaveId(int From, int To) override
    {
        if (!m_slaves.count(From))
            return TApiOutcome::Refused(404, "There is no slave.");
        if (From != To && m_slaves.count(To))
            return TApiOutcome::Refused(409, "Slave id is already used.");
        auto t = std::move(m_slaves[From]);
        m_slaves.erase(From);
        m_slaves[To] = std::move(t);
        return TApiOutcome::Ok();
    }
    TRegisterTables *find(int Slave)
    {
        const auto it = m_slaves.find(Slave);
        return it == m_slaves.end() ? nullptr : it->second.get();
    }
    std::optional<int> SlaveTableSize(int Slave, int RegType) override
    {
        const TRegisterTables *t = find(Slave);
        if (!t)
            return std::nullopt;
        return TableSize(*t, RegType);
    }
    TApiOutcome ReadRegisters(int Slave, int RegType, int Start, int Count,
                              std::vector<uint16_t> &Values) override
    {
        TRegisterTables *t = find(Slave);
        if (!t)
            return TApiOutcome::Refused(404, "no slave");
        // The router must never ask past the table: the adapter does not check.
        if (Start < 1 || Count < 1 || Start + Count - 1 > TableSize(*t, RegType))
            std::abort();
        for (int i = 0; i < Count; ++i)
            Values.push_back(ReadRegister(*t, RegType, Start + i));
        return TApiOutcome::Ok();
    }
    TApiOutcome WriteRegisters(int Slave, int RegType, int Start, std::span<const uint16_t> Values,
                               std::vector<TBoundRegister> &Bound) override
    {
        TRegisterTables *t = find(Slave);
        if (!t)
            return TApiOutcome::Refused(404, "no slave");
        if (Start < 1 || Values.empty() || Start + int(Values.size()) - 1 > TableSize(*t, RegType))
            std::abort();
        for (size_t i = 0; i < Values.size(); ++i)
            WriteRegister(*t, RegType, Start + int(i), Values[i]);
        for (const TBinding &b : m_bound)
            if (b.Slave == Slave && b.RegType == RegType && b.Register >= Start &&
                b.Register < Start + int(Values.size()))
                Bound.push_back({b.Register, b.Script});
        return TApiOutcome::Ok();
    }
    TWaitResult WaitRegister(int Slave, int RegType, int Register, std::optional<uint16_t> Until,
                             int TimeoutMs) override
    {
        TWaitResult w;
        TRegisterTables *t = find(Slave);
        if (!t) {
            w.Outcome = TApiOutcome::Refused(404, "no slave");
            return w;
        }
        if (Register < 1 || Register > TableSize(*t, RegType) || TimeoutMs < 0 ||
            TimeoutMs > MaxApiWaitMs)
            std::abort();
        w.Value = ReadRegister(*t, RegType, Register);
        w.Reached = Until && *Until == w.Value;
        return w;
    }
    std::optional<std::string> ExportValues() override { return "slave,register,value\r\n"; }
    TApiOutcome ImportValues(std::string_view Csv) override
    {
        m_lastImport = std::string(Csv);
        return TApiOutcome::Ok();
    }
    std::optional<TFaultSettings> Faults() override { return m_faults; }
    TFaultCounts FaultCounts() override { return {}; }
    TApiOutcome SetFaults(const TFaultSettings &F) override
    {
        m_faults = F;
        return TApiOutcome::Ok();
    }
    // A real plan, so the route meets the same refusals as the program.
    TFaultPlan m_plan;
    std::map<int, bool> m_offline;
    TApiOutcome FailNext(const TFailNext &Order) override
    {
        return m_plan.FailNext(Order) ? TApiOutcome::Ok()
                                      : TApiOutcome::Refused(400, "the order is out of range");
    }
    TFailNext FailNextLeft() override { return m_plan.FailNextLeft(); }
    TApiOutcome SetSlaveOffline(int Id, bool Offline) override
    {
        if (!m_slaves.count(Id))
            return TApiOutcome::Refused(404, "There is no slave " + std::to_string(Id) + ".");
        m_offline[Id] = Offline;
        return TApiOutcome::Ok();
    }
    TTrafficPage Traffic(uint64_t Since, int, size_t Limit) override
    {
        TTrafficPage p;
        for (uint64_t s = Since; s < m_rows.size() && p.Rows.size() < Limit; ++s)
            p.Rows.emplace_back(s, m_rows[s]);
        p.Next = std::max<uint64_t>(Since, p.Rows.empty() ? Since : p.Rows.back().first + 1);
        return p;
    }
};

} // namespace quorlin::testing
