// SPDX-License-Identifier: MIT
// Cost of one request from its first byte handed to the receive step to its
// reply written, and the CRC's throughput. The line copies from a prepared
// frame and only counts what is written, so the figures are the engine's.
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/crc16.h"
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

void BM_Crc16(benchmark::State &State)
{
    std::vector<uint8_t> data(size_t(State.range(0)));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 31 + 7);
    for (auto _ : State)
        benchmark::DoNotOptimize(Crc16(data.data(), data.size()));
    State.SetBytesProcessed(int64_t(State.iterations()) * State.range(0));
}

BENCHMARK(BM_Fn3Read10);
BENCHMARK(BM_Fn3Read125);
BENCHMARK(BM_Fn1Read2000Coils);
BENCHMARK(BM_Fn16Write100);
BENCHMARK(BM_Crc16)->Arg(8)->Arg(256);
// Alternating runs of both sizes, so that a busy machine slows both alike;
// compare the two medians.
BENCHMARK(BM_BusTurnaround)->Arg(1)->Arg(32)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
