// SPDX-License-Identifier: MIT
// One whole basic information read (iReadCardBas) of the modelled
// version-2 demonstration card through the virtual reader: wall time per
// call, the exchanges and HID reports it takes, the calling thread's CPU
// time, and the wall time as a ratio of the protocol's floor
// (protocol_floor.h), measured before the read is timed.
#include <benchmark/benchmark.h>

#include <chrono>

#include "kestrel.h"
#include "profile.h"
#include "protocol_floor.h"
#include "virtual_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

void BM_ReadCardBas(benchmark::State &state) {
    bench::Floor floor = bench::measureFloor();
    vr::VirtualReader::instance().plug();
    // The demonstration profile: a version-2 card of algorithm 2, a PSAM
    // with its terminal file, and the reader's device number.
    vr::insertProfile(*vr::VirtualReader::instance().reader(), vr::demoProfile());
    char out[KESTREL_BASEINFO_SIZE];
    if (iReadCardBas(1, out) != 0) {
        state.SkipWithError("iReadCardBas failed");
        return;
    }
    vr::VirtualReader::instance().reader()->clearTrace();

    double cpu0 = bench::threadCpuSeconds();
    auto t0 = Clock::now();
    for (auto _ : state) {
        if (iReadCardBas(1, out) != 0) state.SkipWithError("iReadCardBas failed");
    }
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    bench::reportAgainstFloor(state, floor, wall, bench::threadCpuSeconds() - cpu0);
}
BENCHMARK(BM_ReadCardBas)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace
