// SPDX-License-Identifier: MIT
// Cost of one request from its first byte handed to the receive step to its
// reply written, the CRC's throughput, and what handing a frame's report to
// the window's thread through the frame queue adds. The line copies from a prepared
// frame and only counts what is written, so the figures are the engine's.
#include <cstring>
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
    IdleTimer timer;
    TRegisterImage own;
    TModbusSlave engine(own, line, timer);
    engine.SetSlaves(&set);
    for (auto _ : State) {
        engine.Comm1RxChar(8);
        benchmark::ClobberMemory();
    }
    if (line.Written != 25 * size_t(State.iterations()))
        State.SkipWithError("a slave did not answer");
    State.SetItemsProcessed(State.iterations());
}

// 32 slaves of 65536 registers, every register written once: read 125
// holding registers from 40001 of each in turn, against BM_BusTurnaround.
// The counter "KiB/slave" is the memory of one such slave's tables.
void BM_BigBusTurnaround(benchmark::State &State)
{
    TSlaveSet set;
    for (int id = 2; id <= 32; ++id)
        set.Add(id);
    RotatingLine line;
    for (int i = 0; i < set.Count(); ++i) {
        TRegisterImage &im = set.At(i);
        im.SetRegisterCount(65536);
        for (int n = 1; n <= 65536; ++n) {
            im.Coils.Set(n, uint8_t(n & 1));
            im.DiscreteInputs.Set(n, uint8_t(n & 1));
            im.InputRegs.Set(n, uint16_t(n));
            im.HoldingRegs.Set(n, uint16_t(n));
        }
        line.Requests.push_back(withCrc({uint8_t(im.MBid), 3, 0x9C, 0x40, 0, 125}));
    }
    IdleTimer timer;
    TRegisterImage own;
    TModbusSlave engine(own, line, timer);
    engine.SetSlaves(&set);
    for (auto _ : State) {
        engine.Comm1RxChar(8);
        benchmark::ClobberMemory();
    }
    if (line.Written != 255 * size_t(State.iterations()))
        State.SkipWithError("a slave did not answer");
    State.SetItemsProcessed(State.iterations());
    State.counters["KiB/slave"] = double(set.At(0).MemoryUsed()) / 1024;
}
BENCHMARK(BM_BigBusTurnaround);

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
