/* SPDX-License-Identifier: MIT */
// What the protocol itself mandates for the messages of a card-level call,
// against which the benchmarks of whole calls measure the library: the
// 5 ms drain read before every message, plus the virtual reader's own time
// per report, both measured on an echo card.
#pragma once

#include <benchmark/benchmark.h>

namespace bench {

// CPU time of the calling thread: the library, libusb and the client side
// of umockdev's preload, but not the virtual reader's own thread.
double threadCpuSeconds();

// Seconds per drain read and per report.
struct Floor {
    double drain = 0;
    double perReport = 0;
};

// Measures the floor on a freshly plugged reader with an echo card; leaves
// the reader plugged with that card in the contact slot.
Floor measureFloor();

// Sets the counters of a benchmark whose calls took `wall` seconds and
// `cpu` seconds of the calling thread in all: exchanges, OUT and IN
// reports per call (from the virtual reader's trace, which must hold just
// the timed calls), the floor per call and the ratio of the wall time to
// it, and the calling thread's CPU time.
void reportAgainstFloor(benchmark::State &state, const Floor &floor, double wall, double cpu);

}  // namespace bench
