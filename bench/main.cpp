// SPDX-License-Identifier: MIT
// Benchmarks of the library against the virtual reader.  Run
// scripts/bench, or build with -DKESTREL_BENCH=ON and run kestrel_bench.
#include <benchmark/benchmark.h>
#include <sys/prctl.h>

#include "preload.h"

int main(int argc, char **argv) {
    vr::ensurePreloaded(argv);
    prctl(PR_SET_TIMERSLACK, 1UL);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
