// SPDX-License-Identifier: MIT
// Cost of one request from its first byte handed to the receive step to its
// reply written, the CRC's throughput, and what handing a frame's report to
// the window's thread through the frame queue adds. The line copies from a prepared
// frame and only counts what is written, so the figures are the engine's.
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/crc16.h"
#include "engine/framequeue.h"
#include "engine/modbusslave.h"
#include "engine/slaveset.h"

namespace
{

using namespace quorlin;

// A line that hands the engine the next of several prepared requests (or the one,
// again and again).
class RotatingLine : public ISerialLine
{
  public:
    std::vector<std::vector<uint8_t>> Requests;
    size_t Next = 0;
    size_t Written = 0;
    int Read(void *Buffer, int Count) override
    {
        std::memcpy(Buffer, Requests[Next].data(), size_t(Count));
        Next = (Next + 1) % Requests.size();
        return Count;
    }
    int Write(const void *, int Count) override
    {
        Written += size_t(Count);
        return Count;
    }
    void PurgeIn() override {}
    void PurgeOut() override {}
};

class IdleTimer : public ITimeOutTimer
{
  public:
    bool Running = false;
    void Start() override { Running = true; }
    void Stop() override { Running = false; }
    bool IsRunning() const override { return Running; }
};

std::vector<uint8_t> withCrc(std::vector<uint8_t> Frame)
{
    const uint16_t crc = Crc16(Frame.data(), Frame.size());
    Frame.push_back(uint8_t(crc));
    Frame.push_back(uint8_t(crc >> 8));
    return Frame;
}

void runRequest(benchmark::State &State, std::vector<uint8_t> Request, size_t ReplyLength)
{
    TRegisterImage image;
    for (size_t n = 1; n < image.HoldingRegs.size(); ++n)
        image.HoldingRegs[n] = uint16_t(n * 0x0101);
    for (size_t n = 1; n < image.Coils.size(); n += 3)
        image.Coils[n] = 1;
    RotatingLine line;
    line.Requests = {withCrc(std::move(Request))};
    IdleTimer timer;
    TModbusSlave slave(image, line, timer);
    const int length = int(line.Requests[0].size());
    for (auto _ : State) {
        slave.Comm1RxChar(length);
        benchmark::ClobberMemory();
    }
    if (line.Written != ReplyLength * State.iterations())
        State.SkipWithError("the engine did not answer every request in full");
    State.SetItemsProcessed(State.iterations());
}

void BM_Fn3Read10(benchmark::State &S)
{
    runRequest(S, {1, 3, 0, 0, 0, 10}, 25);
}
void BM_Fn3Read125(benchmark::State &S)
{
    runRequest(S, {1, 3, 0, 0, 0, 125}, 255);
}
void BM_Fn1Read2000Coils(benchmark::State &S)
{
    runRequest(S, {1, 1, 0, 0, 0x07, 0xD0}, 255);
}
void BM_Fn16Write100(benchmark::State &S)
{
    std::vector<uint8_t> req = {1, 16, 0, 0, 0, 100, 200};
    for (int i = 0; i < 100; ++i) {
        req.push_back(uint8_t(i));
        req.push_back(uint8_t(0xA0 + i));
    }
    runRequest(S, req, 8);
}

// Every slave of Slaves polled in turn through the engine, each request a
// read of 8 bytes whose reply is ReplyBytes long.
void pollBus(benchmark::State &State, TSlaveSet &Slaves, RotatingLine &Line, size_t ReplyBytes)
{
    IdleTimer timer;
    TRegisterImage own;
    TModbusSlave engine(own, Line, timer);
    engine.SetSlaves(&Slaves);
    for (auto _ : State) {
        engine.Comm1RxChar(8);
        benchmark::ClobberMemory();
    }
    if (Line.Written != ReplyBytes * size_t(State.iterations()))
        State.SkipWithError("a slave did not answer");
    State.SetItemsProcessed(State.iterations());
}

// Reading ten holding registers from each of Slaves slaves in turn: the
// look-up of the addressed slave must not cost more with 32 than with one.
void BM_BusTurnaround(benchmark::State &State)
{
    const int slaves = int(State.range(0));
    TSlaveSet set;
    for (int id = 2; id <= slaves; ++id)
        set.Add(id);
    RotatingLine line;
    for (int id = 1; id <= slaves; ++id)
        line.Requests.push_back(withCrc({uint8_t(id), 3, 0, 0, 0, 10}));
    pollBus(State, set, line, 25);
}

// The slaves a bench line serves: Kind 0 is the usual single slave (2048
// bits, 256 words), 1 is 32 slaves of 65536 registers never written, 2 the
// same 32 with every register of every table written once.
enum { UsualSlave = 0, WholeUntouched = 1, WholeTouched = 2 };

void fillSlaves(TSlaveSet &Set, int Kind)
{
    if (Kind == UsualSlave)
        return;
    for (int id = 2; id <= 32; ++id)
        Set.Add(id);
    for (int i = 0; i < Set.Count(); ++i) {
        TRegisterImage &im = Set.At(i);
        im.SetRegisterCount(MaxTableRegisters);
        if (Kind != WholeTouched)
            continue;
        for (int n = 1; n <= MaxTableRegisters; ++n) {
            im.Coils.Set(n, uint8_t(n & 1));
            im.DiscreteInputs.Set(n, uint8_t(n & 1));
            im.InputRegs.Set(n, uint16_t(n));
            im.HoldingRegs.Set(n, uint16_t(n));
        }
    }
}

const char *kindLabel(int Kind)
{
    return Kind == UsualSlave       ? "1 usual slave, 4x0001"
           : Kind == WholeUntouched ? "32x65536 untouched, 4x40001"
                                    : "32x65536 all written, 4x40001";
}

// The same request, 125 holding registers read, of the usual slave at
// 4x0001 and of each of 32 slaves of 65536 registers in turn at 4x40001.
// The counter "KiB/slave" is the memory of one slave's four tables.
void BM_BigBusTurnaround(benchmark::State &State)
{
    const int kind = int(State.range(0));
    TSlaveSet set;
    fillSlaves(set, kind);
    RotatingLine line;
    for (int i = 0; i < set.Count(); ++i) {
        const uint8_t hi = kind == UsualSlave ? 0 : 0x9C, lo = kind == UsualSlave ? 0 : 0x40;
        line.Requests.push_back(withCrc({uint8_t(set.At(i).MBid), 3, hi, lo, 0, 125}));
    }
    pollBus(State, set, line, 255);
    State.SetLabel(kindLabel(kind));
    State.counters["KiB/slave"] = double(set.At(0).MemoryUsed()) / 1024;
}
BENCHMARK(BM_BigBusTurnaround)
    ->Arg(UsualSlave)
    ->Arg(WholeUntouched)
    ->Arg(WholeTouched)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// One idle tick of the window, as TMainForm::Tick does it under the line's
// lock: every slave's (empty) queue of writes applied, then the selected
// slave's panels (32 coils, 32 inputs, 6 and 6 registers) and 40 visible
// rows of the register table copied into the window's view. With 32 slaves
// of 65536 it must cost what it costs with the usual one.
void BM_IdleTick(benchmark::State &State)
{
    const int kind = int(State.range(0));
    TSlaveSet set;
    fillSlaves(set, kind);
    const TRegisterImage &selected = set.At(set.Count() - 1);
    TRegisterTables view;
    view = selected; // the one whole copy a change of slave takes
    const int first = kind == UsualSlave ? 201 : 40001;
    for (auto _ : State) {
        std::lock_guard<std::mutex> hold(set.Lock());
        for (int i = 0; i < set.Count(); ++i)
            set.At(i).ApplyPendingWrites();
        view.CopyRange(selected, RegTypeCoil, 1, 32);
        view.CopyRange(selected, RegTypeDiscreteInput, 1, 32);
        view.CopyRange(selected, RegTypeInputReg, 1, 6);
        view.CopyRange(selected, RegTypeHoldingReg, 1, 6);
        view.CopyRange(selected, RegTypeHoldingReg, first, first + 39);
        benchmark::ClobberMemory();
    }
    State.SetLabel(kindLabel(kind));
}
BENCHMARK(BM_IdleTick)->Arg(UsualSlave)->Arg(WholeUntouched)->Arg(WholeTouched);

// What the tick copies of the selected slave, a whole copy as it was against
// the panels' and 40 visible rows' ranges, from a slave of 65536 registers.
void BM_TickCopy(benchmark::State &State)
{
    TRegisterImage im;
    im.SetRegisterCount(65536);
    for (int n = 1; n <= 65536; ++n)
        im.HoldingRegs.Set(n, uint16_t(n));
    TRegisterTables view;
    view = im;
    const bool whole = State.range(0) != 0;
    for (auto _ : State) {
        if (whole) {
            view = im;
        } else {
            view.CopyRange(im, RegTypeCoil, 1, 32);
            view.CopyRange(im, RegTypeDiscreteInput, 1, 32);
            view.CopyRange(im, RegTypeInputReg, 1, 6);
            view.CopyRange(im, RegTypeHoldingReg, 1, 6);
            view.CopyRange(im, RegTypeHoldingReg, 40001, 40040);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_TickCopy)->Arg(1)->Arg(0);

// Heap memory of one slave's four tables: the usual sizes; 65536 registers
// each, untouched; with a device's block of 125 holding and 125 input
// registers at 40001 and 30001 written; with every register written. The
// time is that of building such a slave.
void BM_SlaveMemory(benchmark::State &State)
{
    const int use = int(State.range(0));
    size_t bytes = 0;
    for (auto _ : State) {
        TRegisterImage im;
        if (use > 0)
            im.SetRegisterCount(MaxTableRegisters);
        if (use == 2)
            for (int n = 0; n < 125; ++n) {
                im.HoldingRegs.Set(40001 + n, uint16_t(n + 1));
                im.InputRegs.Set(30001 + n, uint16_t(n + 1));
            }
        if (use == 3)
            for (int n = 1; n <= MaxTableRegisters; ++n) {
                im.Coils.Set(n, 1);
                im.DiscreteInputs.Set(n, 1);
                im.InputRegs.Set(n, uint16_t(n));
                im.HoldingRegs.Set(n, uint16_t(n));
            }
        bytes = im.MemoryUsed();
        benchmark::DoNotOptimize(bytes);
    }
    const char *labels[] = {"usual sizes", "65536, untouched", "65536, 40001+30001 blocks",
                            "65536, all written"};
    State.SetLabel(labels[use]);
    State.counters["KiB"] = double(bytes) / 1024;
}
BENCHMARK(BM_SlaveMemory)->DenseRange(0, 3);

void BM_Crc16(benchmark::State &State)
{
    std::vector<uint8_t> data(size_t(State.range(0)));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 31 + 7);
    for (auto _ : State)
        benchmark::DoNotOptimize(Crc16(data.data(), data.size()));
    State.SetBytesProcessed(int64_t(State.iterations()) * State.range(0));
}

// The report of a typical request: ten holding registers read.
struct TypicalReport {
    std::vector<uint8_t> Rx = withCrc({1, 3, 0, 0, 0, 10});
    std::vector<uint8_t> Reply = std::vector<uint8_t>(25, 0x5A);
    TFrameReport Report;
    TypicalReport()
    {
        Report.Rx = Rx;
        Report.Reply = Reply;
    }
};

// Prints the time per frame of Batch frames per round as "frame_time".
void perFrame(benchmark::State &State, size_t Batch)
{
    const double frames = double(State.iterations()) * double(Batch);
    State.SetItemsProcessed(int64_t(frames));
    State.counters["frame_time"] =
        benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// What the engine's thread pays per frame: one FrameDone into a queue with
// room. A full queue's worth is pushed per timed round, drained untimed.
void BM_FrameQueuePush(benchmark::State &State)
{
    TypicalReport typical;
    TFrameQueue queue;
    const size_t batch = queue.Capacity();
    for (auto _ : State) {
        State.PauseTiming();
        queue.Drain([](const TFrameReport &, int64_t, int64_t) {});
        State.ResumeTiming();
        for (size_t i = 0; i < batch; ++i)
            queue.FrameDone(typical.Report);
        benchmark::ClobberMemory();
    }
    if (queue.Dropped() != 0)
        State.SkipWithError("the queue dropped frames");
    perFrame(State, batch);
}

// What the window's thread pays per frame to take it out of the queue and
// copy its bytes (as a row does, without the rest of a row's work): a full
// queue drained per timed round.
void BM_FrameQueueDrain(benchmark::State &State)
{
    TypicalReport typical;
    TFrameQueue queue;
    const size_t batch = queue.Capacity();
    std::string rx, reply;
    for (auto _ : State) {
        State.PauseTiming();
        for (size_t i = 0; i < batch; ++i)
            queue.FrameDone(typical.Report);
        State.ResumeTiming();
        const size_t n = queue.Drain([&](const TFrameReport &R, int64_t, int64_t) {
            rx.assign(reinterpret_cast<const char *>(R.Rx.data()), R.Rx.size());
            reply.assign(reinterpret_cast<const char *>(R.Reply.data()), R.Reply.size());
            benchmark::DoNotOptimize(rx.data());
            benchmark::DoNotOptimize(reply.data());
        });
        if (n != batch)
            State.SkipWithError("the queue lost frames");
    }
    perFrame(State, batch);
}

BENCHMARK(BM_Fn3Read10);
BENCHMARK(BM_Fn3Read125);
BENCHMARK(BM_Fn1Read2000Coils);
BENCHMARK(BM_Fn16Write100);
BENCHMARK(BM_Crc16)->Arg(8)->Arg(256);
BENCHMARK(BM_FrameQueuePush);
BENCHMARK(BM_FrameQueueDrain);
// Alternating runs of both sizes, so that a busy machine slows both alike;
// compare the two medians.
BENCHMARK(BM_BusTurnaround)->Arg(1)->Arg(32)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
