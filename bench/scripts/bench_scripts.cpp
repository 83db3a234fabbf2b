// SPDX-License-Identifier: MIT
// One tick's script work: RunScripts over 10,000 bindings of our Ramp script,
// then ApplyPendingWrites. The tick runs every 100 ms; the target is < 1 ms.
#include <benchmark/benchmark.h>

#include "scripts/scriptbinding.h"

using namespace quorlin;

namespace
{

void runTick(benchmark::State &state)
{
    TScriptLibrary lib;
    lib.LoadScriptLibrary(QUORLIN_INSTALL_DIR);
    TScriptFunc ramp = FindScriptEntry(lib.ScriptList, "Ramp");
    if (!ramp) {
        state.SkipWithError("scripts.dll with Ramp not found next to the program");
        return;
    }
    const int count = int(state.range(0));
    TBindingList list;
    list.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        // Spread over all four tables, every register used several times.
        const int type = (i % 4 == 0) ? 0 : (i % 4 == 1) ? 1 : (i % 4 == 2) ? 3 : 4;
        const int range = type <= 1 ? BitRegisterCount : WordRegisterCount;
        list.push_back(MakeBinding(lib.ScriptList, "Ramp", type, 1 + (i / 4) % range, i % 100,
                                   60000, 1 + i % 7));
    }
    TRegisterImage image;
    for (auto _ : state) {
        RunScripts(list, image);
        std::lock_guard<std::mutex> lock(image.ImageLock);
        image.ApplyPendingWrites();
        benchmark::DoNotOptimize(image.HoldingRegs.Get(1));
    }
    state.counters["bindings"] = double(count);
}

// A bus of 32 slaves with 16 Ramp bindings each: one tick's RunScripts and
// the pending writes of every slave applied under its lock.
void runBusTick(benchmark::State &state)
{
    TScriptLibrary lib;
    lib.LoadScriptLibrary(QUORLIN_INSTALL_DIR);
    if (!FindScriptEntry(lib.ScriptList, "Ramp")) {
        state.SkipWithError("scripts.dll with Ramp not found next to the program");
        return;
    }
    const int slaves = int(state.range(0));
    const int perSlave = int(state.range(1));
    TSlaveSet set;
    TBindingList list;
    for (int id = 1; id <= slaves; ++id) {
        if (id > 1)
            set.Add(id);
        for (int k = 0; k < perSlave; ++k) {
            list.push_back(MakeBinding(lib.ScriptList, "Ramp", k % 2 ? 4 : 3, 1 + k, k, 60000, 3));
            if (id > 1)
                list.back().SlaveId = id;
        }
    }
    for (auto _ : state) {
        RunScripts(list, set);
        for (int i = 0; i < set.Count(); ++i) {
            TRegisterImage &image = set.At(i);
            std::lock_guard<std::mutex> lock(image.ImageLock);
            image.ApplyPendingWrites();
        }
        benchmark::DoNotOptimize(set.At(slaves - 1).HoldingRegs.Get(1));
    }
    if (set.At(slaves - 1).HoldingRegs[2] == 0)
        state.SkipWithError("the last slave's bindings wrote nothing");
    state.counters["bindings"] = double(list.size());
}

} // namespace

BENCHMARK(runTick)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(runBusTick)->Args({32, 16})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
