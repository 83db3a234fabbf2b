// SPDX-License-Identifier: MIT
// Several slaves on one line: each id answers from its own image, foreign ids
// stay silent, broadcast writes reach every slave and are never answered.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "engine/slaveset.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

// Slaves 1, 2 and 17 on one line, each with its own marks in its tables.
struct BusRig {
    TSlaveSet Slaves;
    TRegisterImage Unused; // the engine's own image, never answered from here
    FakeLine Line;
    FakeTimer Timer;
    TModbusSlave Engine{Unused, Line, Timer};

    BusRig()
    {
        Slaves.Add(2);
        Slaves.Add(17);
        for (int id : {1, 2, 17}) {
            TRegisterImage &s = *Slaves.Find(id);
            s.HoldingRegs[1] = uint16_t(id * 100);
            s.InputRegs[1] = uint16_t(id * 100 + 1);
            s.Coils[id] = 1;
        }
        Engine.SetSlaves(&Slaves);
    }
    // Returns what the engine wrote for this request, empty for silence.
    Bytes ask(const Bytes &Request)
    {
        Line.Writes.clear();
        Line.Input.insert(Line.Input.end(), Request.begin(), Request.end());
        Engine.Comm1RxChar(int(Line.Input.size()));
        return Line.Writes.empty() ? Bytes{} : Line.Writes.back();
    }
};

struct BusRow {
    const char *name;
    const char *request;
    const char *reply; // "" for silence
};

class SlaveAnswers : public ::testing::TestWithParam<BusRow>
{
};

TEST_P(SlaveAnswers, FromItsOwnImage)
{
    BusRig rig;
    EXPECT_EQ(toHex(rig.ask(hex(GetParam().request))), toHex(hex(GetParam().reply)));
    EXPECT_EQ(rig.Engine.RxCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Bus, SlaveAnswers,
                         ::testing::Values(
                             // fn 3, register 1: 100, 200, 1700 (0x06A4) by id.
                             BusRow{"Id1Holding", "01 03 00 00 00 01 crc", "01 03 02 00 64 crc"},
                             BusRow{"Id2Holding", "02 03 00 00 00 01 crc", "02 03 02 00 C8 crc"},
                             BusRow{"Id17Holding", "11 03 00 00 00 01 crc", "11 03 02 06 A4 crc"},
                             // fn 4, input register 1: id * 100 + 1.
                             BusRow{"Id17Input", "11 04 00 00 00 01 crc", "11 04 02 06 A5 crc"},
                             // fn 1, coils 1..24: only coil `id` is on in each slave.
                             BusRow{"Id1Coils", "01 01 00 00 00 18 crc", "01 01 03 01 00 00 crc"},
                             BusRow{"Id2Coils", "02 01 00 00 00 18 crc", "02 01 03 02 00 00 crc"},
                             BusRow{"Id17Coils", "11 01 00 00 00 18 crc", "11 01 03 00 00 01 crc"},
                             // Exceptions carry the id that was asked.
                             BusRow{"Id2OutOfRange", "02 03 01 00 00 01 crc", "02 83 02 crc"},
                             BusRow{"Id17Unsupported", "11 16 00 00 00 00 00 00 crc",
                                    "11 96 01 crc"},
                             // Not emulated, or broadcast of a read: silence.
                             BusRow{"Id3IsNotOnTheBus", "03 03 00 00 00 01 crc", ""},
                             BusRow{"Id255IsNotOnTheBus", "FF 03 00 00 00 01 crc", ""},
                             BusRow{"BroadcastReadIsIgnored", "00 03 00 00 00 01 crc", ""},
                             BusRow{"BadCrcForId2", "02 03 00 00 00 01 00 00", ""}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Bus, AWriteToOneSlaveNeverShowsInAnother)
{
    BusRig rig;
    EXPECT_EQ(toHex(rig.ask(hex("02 06 00 04 BE EF crc"))), toHex(hex("02 06 00 04 BE EF crc")));
    EXPECT_EQ(toHex(rig.ask(hex("11 0F 00 00 00 08 01 FF crc"))),
              toHex(hex("11 0F 00 00 00 08 crc")));
    EXPECT_EQ(rig.Slaves.Find(2)->HoldingRegs[5], 0xBEEF);
    EXPECT_EQ(rig.Slaves.Find(1)->HoldingRegs[5], 0);
    EXPECT_EQ(rig.Slaves.Find(17)->HoldingRegs[5], 0);
    for (int n = 1; n <= 8; ++n)
        EXPECT_EQ(rig.Slaves.Find(17)->Coils[n], 1) << n;
    EXPECT_EQ(rig.Slaves.Find(1)->Coils[2], 0);
    EXPECT_EQ(rig.Slaves.Find(2)->Coils[1], 0);
    // Reading it back goes to the slave that was written.
    EXPECT_EQ(toHex(rig.ask(hex("02 03 00 04 00 01 crc"))), toHex(hex("02 03 02 BE EF crc")));
    EXPECT_EQ(toHex(rig.ask(hex("01 03 00 04 00 01 crc"))), toHex(hex("01 03 02 00 00 crc")));
}

// A broadcast write, and where it must land when carried out.
struct BroadcastRow {
    const char *name;
    const char *request;
    int regType; // table that changes
    int reg;
    int value;
};

class Broadcast : public ::testing::TestWithParam<BroadcastRow>
{
  protected:
    static int read(const TRegisterImage &S, int Type, int Reg)
    {
        return Type == RegTypeCoil ? S.Coils[size_t(Reg)] : S.HoldingRegs[size_t(Reg)];
    }
};

TEST_P(Broadcast, OnIsCarriedOutEverywhereAndNeverAnswered)
{
    const BroadcastRow &row = GetParam();
    BusRig rig;
    rig.Slaves.AcceptBroadcast = true;
    EXPECT_TRUE(rig.ask(hex(row.request)).empty());
    EXPECT_TRUE(rig.Line.Writes.empty());
    for (int id : {1, 2, 17})
        EXPECT_EQ(read(*rig.Slaves.Find(id), row.regType, row.reg), row.value) << "id " << id;
    EXPECT_EQ(rig.Engine.RxCount, 0);
    // The next request is answered as usual.
    EXPECT_EQ(rig.ask(hex("02 07 crc")).size(), 5u);
}

TEST_P(Broadcast, OffOrWithABadCrcChangesNothing)
{
    const BroadcastRow &row = GetParam();
    for (bool accepted : {false, true}) {
        BusRig rig;
        rig.Slaves.AcceptBroadcast = accepted;
        Bytes request = hex(row.request);
        if (accepted)
            request.back() ^= 0x01; // the CRC no longer fits
        EXPECT_TRUE(rig.ask(request).empty());
        for (int id : {1, 2, 17})
            EXPECT_NE(read(*rig.Slaves.Find(id), row.regType, row.reg), row.value) << id;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bus, Broadcast,
    ::testing::Values(
        // fn 5, coil 30 on.
        BroadcastRow{"WriteSingleCoil", "00 05 00 1D FF 00 crc", RegTypeCoil, 30, 1},
        // fn 6, holding register 3 = 0x1234.
        BroadcastRow{"WriteSingleRegister", "00 06 00 02 12 34 crc", RegTypeHoldingReg, 3, 0x1234},
        // fn 15, coils 41..48 = 0xFF: coil 48 on.
        BroadcastRow{"WriteMultipleCoils", "00 0F 00 28 00 08 01 FF crc", RegTypeCoil, 48, 1},
        // fn 16, holding registers 10, 11 = 0xAAAA, 0x5555: register 11.
        BroadcastRow{"WriteMultipleRegisters", "00 10 00 09 00 02 04 AA AA 55 55 crc",
                     RegTypeHoldingReg, 11, 0x5555}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Bus, BroadcastOfOtherFunctionsStaysIgnoredWhenAccepted)
{
    BusRig rig;
    rig.Slaves.AcceptBroadcast = true;
    for (const char *request : {"00 03 00 00 00 01 crc", "00 07 crc", "00 08 00 00 12 34 crc",
                                "00 16 00 00 00 00 00 00 crc"})
        EXPECT_TRUE(rig.ask(hex(request)).empty()) << request;
    EXPECT_EQ(rig.Line.Log.find('I'), std::string::npos); // nothing was even purged
}

TEST(Bus, OneSlaveThroughTheSetAnswersAsTheSingleImage)
{
    // The same requests give the same bytes whether the engine answers from
    // its own image or from a set holding one slave with that id.
    const char *requests[] = {"05 03 00 00 00 0A crc",
                              "05 05 00 03 FF 00 crc",
                              "05 01 00 00 00 10 crc",
                              "05 03 01 00 00 01 crc",
                              "04 03 00 00 00 01 crc",
                              "00 06 00 00 00 07 crc",
                              "05 11 crc"};
    Rig single;
    single.Image.MBid = 5;
    BusRig bus;
    bus.Slaves.Assign(5, {});
    for (const char *request : requests) {
        single.Line.Writes.clear();
        single.arrive(hex(request));
        const Bytes expected = single.Line.Writes.empty() ? Bytes{} : single.Line.Writes[0];
        EXPECT_EQ(toHex(bus.ask(hex(request))), toHex(expected)) << request;
    }
}

// The frames' fates as an observer hears them: which slave each was for
// (its first byte) and what became of it.
TEST(Bus, ObserverHearsEachSlavesFramesAndBroadcastsCarriedOut)
{
    struct Seen : IFrameObserver {
        std::vector<std::pair<int, std::string>> Frames; // slave id, verdict
        void FrameDone(const TFrameReport &R) override
        {
            Frames.emplace_back(R.Rx.empty() ? -1 : R.Rx[0],
                                VerdictText(R.Verdict, R.ExceptionCode));
        }
    } seen;
    BusRig rig;
    rig.Slaves.AcceptBroadcast = true;
    rig.Engine.SetObserver(&seen);
    rig.ask(hex("11 03 00 00 00 01 crc"));
    rig.ask(hex("03 03 00 00 00 01 crc"));
    rig.ask(hex("00 06 00 00 00 01 crc"));
    rig.ask(hex("00 06 00 00 00 01 00 00"));
    rig.ask(hex("00 03 00 00 00 01 crc"));
    rig.ask(hex("02 03 01 00 00 01 crc"));
    const std::vector<std::pair<int, std::string>> expected = {
        {17, "answered"}, {3, "other slave"}, {0, "broadcast"},
        {0, "bad crc"},   {0, "broadcast"},   {2, "exception 2"}};
    EXPECT_EQ(seen.Frames, expected);
}

// A frame for id 0 says what became of it: carried out, ignored because the
// slaves take no broadcasts, or not a write at all (nothing to carry out).
TEST(Bus, BroadcastRowsNameWhatBecameOfThem)
{
    struct Row {
        bool Accept;
        const char *Request;
        const char *Result;
        uint16_t Holding2; // slave 2's 4x0002 afterwards
    };
    const Row rows[] = {
        {true, "00 06 00 01 00 2A crc", "broadcast: carried out", 42},
        {true, "00 10 00 01 00 01 02 00 2B crc", "broadcast: carried out", 43},
        {false, "00 06 00 01 00 2C crc", "broadcast: ignored (setting off)", 0},
        {false, "00 0F 00 00 00 01 01 01 crc", "broadcast: ignored (setting off)", 0},
        {true, "00 03 00 00 00 01 crc", "broadcast: not a write", 0},
        {false, "00 03 00 00 00 01 crc", "broadcast: not a write", 0},
        {true, "00 08 00 00 12 34 crc", "broadcast: not a write", 0},
        {true, "00 06 00 01 00 2A 00 00", "bad crc", 0},
    };
    for (const Row &r : rows) {
        struct Seen : IFrameObserver {
            std::vector<std::string> Results;
            void FrameDone(const TFrameReport &R) override { Results.push_back(ReportText(R)); }
        } seen;
        BusRig rig;
        rig.Slaves.AcceptBroadcast = r.Accept;
        rig.Engine.SetObserver(&seen);
        EXPECT_TRUE(rig.ask(hex(r.Request)).empty()) << r.Request;
        EXPECT_EQ(seen.Results, std::vector<std::string>{r.Result}) << r.Request;
        EXPECT_EQ(rig.Slaves.Find(2)->HoldingRegs[2], r.Holding2) << r.Request;
    }
    // One slave without a slave set: its id 0 writes are ignored the same way.
    struct Seen : IFrameObserver {
        std::string Result;
        void FrameDone(const TFrameReport &R) override { Result = ReportText(R); }
    } seen;
    TRegisterImage image;
    FakeLine line;
    FakeTimer timer;
    TModbusSlave engine{image, line, timer};
    engine.SetObserver(&seen);
    const Bytes write = hex("00 06 00 01 00 2A crc");
    line.Input.assign(write.begin(), write.end());
    engine.Comm1RxChar(int(write.size()));
    EXPECT_EQ(seen.Result, "broadcast: ignored (setting off)");
}

TEST(SlaveSet, KeepsIdsUniqueSortedAndAtLeastOne)
{
    TSlaveSet set;
    EXPECT_EQ(set.Ids(), std::vector<int>{1});
    EXPECT_FALSE(set.Remove(1)); // the last one stays
    EXPECT_NE(set.Add(17), nullptr);
    EXPECT_NE(set.Add(2), nullptr);
    EXPECT_EQ(set.Add(2), nullptr);
    EXPECT_EQ(set.Add(0), nullptr);
    EXPECT_EQ(set.Add(256), nullptr);
    EXPECT_EQ(set.Ids(), (std::vector<int>{1, 2, 17}));
    EXPECT_EQ(set.IndexOf(17), 2);

    set.Find(2)->HoldingRegs[1] = 42;
    EXPECT_FALSE(set.ChangeId(2, 17)); // taken
    EXPECT_FALSE(set.ChangeId(2, 0));
    EXPECT_TRUE(set.ChangeId(2, 200));
    EXPECT_EQ(set.Find(2), nullptr);
    ASSERT_NE(set.Find(200), nullptr);
    EXPECT_EQ(set.Find(200)->HoldingRegs[1], 42); // the image moved with its id
    EXPECT_EQ(set.Ids(), (std::vector<int>{1, 17, 200}));

    EXPECT_EQ(set.First().MBid, 1);
    EXPECT_TRUE(set.ChangeId(1, 99));
    EXPECT_EQ(set.First().MBid, 99); // first follows its slave
    EXPECT_TRUE(set.Remove(99));
    EXPECT_EQ(set.First().MBid, 17); // then the lowest takes over
    EXPECT_FALSE(set.Remove(99));
}

TEST(SlaveSet, AssignKeepsTheImagesOfIdsThatStay)
{
    TSlaveSet set;
    set.Add(2);
    set.Find(2)->InputRegs[3] = 7;
    set.Find(1)->InputRegs[3] = 9;
    set.Assign(17, {2, 2, 0, 300, -4, 17});
    EXPECT_EQ(set.Ids(), (std::vector<int>{2, 17}));
    EXPECT_EQ(set.First().MBid, 17);
    EXPECT_EQ(set.Find(2)->InputRegs[3], 7);
    EXPECT_EQ(set.Find(17)->InputRegs[3], 0);
    EXPECT_EQ(set.Find(1), nullptr);
    set.Assign(300, {});
    EXPECT_EQ(set.Ids(), std::vector<int>{255});
}

// Whether another thread could take the line's lock at each step the engine
// takes on the line: upper case while the engine holds it.
class LockProbeLine : public FakeLine
{
  public:
    explicit LockProbeLine(std::mutex &Lock) : m_lock(Lock) {}
    std::string Steps;

    void PurgeIn() override
    {
        Steps += held() ? 'I' : 'i';
        FakeLine::PurgeIn();
    }
    void PurgeOut() override { Steps += held() ? 'O' : 'o'; }
    int Write(const void *Buffer, int Count) override
    {
        Steps += held() ? 'W' : 'w';
        return FakeLine::Write(Buffer, Count);
    }

  private:
    bool held()
    {
        bool taken = false;
        std::thread([&] {
            taken = m_lock.try_lock();
            if (taken)
                m_lock.unlock();
        }).join();
        return !taken;
    }
    std::mutex &m_lock;
};

struct LockRow {
    const char *name;
    const char *request;
    const char *steps;
};

class LineLock : public ::testing::TestWithParam<LockRow>
{
};

// The request is handled under the lock, the window's tick waiting at most
// that long; the reply's write, which may block, is made without it.
TEST_P(LineLock, HeldWhileHandlingFreeWhileWriting)
{
    TSlaveSet slaves;
    slaves.Add(2);
    slaves.AcceptBroadcast = true;
    TRegisterImage unused;
    LockProbeLine line(slaves.Lock());
    FakeTimer timer;
    TModbusSlave engine(unused, line, timer);
    engine.SetSlaves(&slaves);
    const Bytes request = hex(GetParam().request);
    line.Input.assign(request.begin(), request.end());
    engine.Comm1RxChar(int(request.size()));
    EXPECT_EQ(line.Steps, GetParam().steps);
    EXPECT_EQ(engine.RxCount, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineLock,
    ::testing::Values(LockRow{"Read", "02 03 00 00 00 01 crc", "IOw"},
                      LockRow{"Exception", "02 03 01 00 00 01 crc", "IOw"},
                      LockRow{"BadCrc", "02 03 00 00 00 01 00 00", "IO"},
                      LockRow{"Broadcast", "00 06 00 01 00 07 crc", "IO"},
                      LockRow{"OtherSlave", "09 03 00 00 00 01 crc", ""}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace quorlin::test
